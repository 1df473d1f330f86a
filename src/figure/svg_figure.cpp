#include "svg_figure.h"

#include "number_format.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>
#include <utility>

namespace {

// The page's layout, in pixels.
constexpr double figure_title_height = 36;
constexpr double margin_left = 72;
constexpr double margin_right = 24;
constexpr double margin_top = 30;
constexpr double margin_bottom = 48;
constexpr double tick_length = 5;
constexpr double cap_half_width = 4;
constexpr int wanted_tick_count = 5;

// A named line, listed at the top right of its panel.
struct LegendEntry {
    std::string words;
    std::string colour;
    bool dashed;
};

// A page coordinate: rounded to hundredths of a pixel, so that the text stays
// short and never turns to exponent notation.
std::string pixels(double value)
{
    double rounded = std::round(value * 100) / 100;
    if (rounded == 0)
        rounded = 0; // no "-0"
    return format_real(rounded);
}

bool all_finite(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(), [](double value) { return std::isfinite(value); });
}

std::string anchor_name(TextAnchor anchor)
{
    switch (anchor) {
    case TextAnchor::start:
        return "start";
    case TextAnchor::end:
        return "end";
    case TextAnchor::middle:
        break;
    }
    return "middle";
}

// Round positions covering [low, high]: multiples of 1, 2 or 5 times a power of
// ten, about `wanted_tick_count` of them. Each is an integer times the step, so
// that no error accumulates along the axis.
std::vector<double> round_ticks(double low, double high)
{
    const double raw_step = (high - low) / wanted_tick_count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw_step)));
    double step = magnitude;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * magnitude;
        if (step >= raw_step)
            break;
    }
    std::vector<double> ticks;
    const double first = std::ceil(low / step - 1e-9);
    // The count is bounded too: far from zero, k + 1 can round back to k.
    for (double k = first; k * step <= high + step * 1e-9 && ticks.size() < 4 * wanted_tick_count; k += 1) {
        const double position = k * step;
        ticks.push_back(std::fabs(position) < step * 1e-9 ? 0.0 : position);
    }
    return ticks;
}

// A span that can be drawn: ends in order, finite and apart.
std::pair<double, double> drawable_span(double low, double high)
{
    if (!all_finite({low, high}))
        return {0, 1};
    if (high < low)
        std::swap(low, high);
    if (high == low)
        return {low - 0.5, high + 0.5};
    return {low, high};
}

}  // namespace

// Writes one panel: maps data units to the page, whose plotting area is the
// panel's box less its margins.
class SvgFigure::PanelWriter {
public:
    PanelWriter(std::ostream& out, double top, double width, double height, int index)
        : _out(out), _index(index), _left(margin_left), _right(width - margin_right), _top(top + margin_top),
          _bottom(top + height - margin_bottom)
    {
    }

    void open(const std::string& title, const std::string& x_label, const std::string& y_label,
              std::pair<double, double> x_span, std::pair<double, double> y_span)
    {
        _x_low = x_span.first;
        _x_high = x_span.second;
        _y_low = y_span.first;
        _y_high = y_span.second;
        _out << "<g class=\"panel\">\n";
        _out << "<clipPath id=\"plot" << _index << "\"><rect x=\"" << pixels(_left) << "\" y=\"" << pixels(_top)
             << "\" width=\"" << pixels(_right - _left) << "\" height=\"" << pixels(_bottom - _top)
             << "\"/></clipPath>\n";
        _out << "<rect x=\"" << pixels(_left) << "\" y=\"" << pixels(_top) << "\" width=\"" << pixels(_right - _left)
             << "\" height=\"" << pixels(_bottom - _top) << "\" fill=\"#ffffff\" stroke=\"#444444\"/>\n";
        label(pixels((_left + _right) / 2), pixels(_top - 10), title, "middle", " font-weight=\"bold\"");
        label(pixels((_left + _right) / 2), pixels(_bottom + 38), x_label, "middle", "");
        _out << "<text x=\"0\" y=\"0\" text-anchor=\"middle\" transform=\"translate(" << pixels(_left - 52) << ' '
             << pixels((_top + _bottom) / 2) << ") rotate(-90)\">" << xml_escaped(y_label) << "</text>\n";
    }

    void x_tick(double position, const std::string& text)
    {
        if (!std::isfinite(position) || position < _x_low || position > _x_high)
            return;
        const std::string x = pixels(page_x(position));
        line(x, pixels(_bottom), x, pixels(_bottom + tick_length), "#444444", false);
        label(x, pixels(_bottom + 18), text, "middle", "");
    }

    void y_tick(double position)
    {
        const std::string y = pixels(page_y(position));
        line(pixels(_left - tick_length), y, pixels(_left), y, "#444444", false);
        label(pixels(_left - 8), pixels(page_y(position) + 4), format_real(position), "end", "");
    }

    void open_shapes() { _out << "<g clip-path=\"url(#plot" << _index << ")\">\n"; }
    void close_shapes() { _out << "</g>\n"; }

    void rectangle(double x_low, double x_high, double y_low, double y_high, const std::string& colour)
    {
        const double left = std::min(page_x(x_low), page_x(x_high));
        const double right = std::max(page_x(x_low), page_x(x_high));
        const double top = std::min(page_y(y_low), page_y(y_high));
        const double bottom = std::max(page_y(y_low), page_y(y_high));
        _out << "<rect x=\"" << pixels(left) << "\" y=\"" << pixels(top) << "\" width=\"" << pixels(right - left)
             << "\" height=\"" << pixels(bottom - top) << "\" fill=\"" << xml_escaped(colour)
             << "\" fill-opacity=\"0.75\" stroke=\"" << xml_escaped(colour) << "\"/>\n";
    }

    void vertical_line(double x, const std::string& colour, bool dashed)
    {
        line(pixels(page_x(x)), pixels(_top), pixels(page_x(x)), pixels(_bottom), colour, dashed);
    }

    void horizontal_line(double y, const std::string& colour, bool dashed)
    {
        line(pixels(_left), pixels(page_y(y)), pixels(_right), pixels(page_y(y)), colour, dashed);
    }

    void error_bar(double x, double low, double high, const std::string& colour)
    {
        const double middle = page_x(x);
        line(pixels(middle), pixels(page_y(low)), pixels(middle), pixels(page_y(high)), colour, false);
        for (const double end : {low, high})
            line(pixels(middle - cap_half_width), pixels(page_y(end)), pixels(middle + cap_half_width),
                 pixels(page_y(end)), colour, false);
    }

    void horizontal_error_bar(double y, double low, double high, const std::string& colour)
    {
        const double middle = page_y(y);
        line(pixels(page_x(low)), pixels(middle), pixels(page_x(high)), pixels(middle), colour, false);
        for (const double end : {low, high})
            line(pixels(page_x(end)), pixels(middle - cap_half_width), pixels(page_x(end)),
                 pixels(middle + cap_half_width), colour, false);
    }

    void marker(double x, double y, const std::string& colour, double radius)
    {
        _out << "<circle cx=\"" << pixels(page_x(x)) << "\" cy=\"" << pixels(page_y(y)) << "\" r=\""
             << pixels(radius) << "\" fill=\"" << xml_escaped(colour) << "\"/>\n";
    }

    void text(double x, double y, const std::string& words, TextAnchor anchor)
    {
        label(pixels(page_x(x)), pixels(page_y(y)), words, anchor_name(anchor), "");
    }

    // The legend's entries, one line each in a white box at the plotting
    // area's top right, its width guessed from the longest text.
    void legend(const std::vector<LegendEntry>& entries)
    {
        if (entries.empty())
            return;
        std::size_t longest = 0;
        for (const LegendEntry& entry : entries)
            longest = std::max(longest, entry.words.size());
        const double width = 42 + 6.6 * static_cast<double>(longest);
        const double left = _right - width - 6;
        _out << "<rect x=\"" << pixels(left) << "\" y=\"" << pixels(_top + 4) << "\" width=\"" << pixels(width)
             << "\" height=\"" << pixels(16.0 * static_cast<double>(entries.size()) + 6)
             << "\" fill=\"#ffffff\" fill-opacity=\"0.85\" stroke=\"#bbbbbb\"/>\n";
        double y = _top + 20;
        for (const LegendEntry& entry : entries) {
            line(pixels(left + 6), pixels(y - 4), pixels(left + 30), pixels(y - 4), entry.colour, entry.dashed);
            label(pixels(left + 36), pixels(y), entry.words, "start", "");
            y += 16;
        }
    }

    void close() { _out << "</g>\n"; }

private:
    double page_x(double x) const { return _left + (x - _x_low) / (_x_high - _x_low) * (_right - _left); }
    double page_y(double y) const { return _bottom - (y - _y_low) / (_y_high - _y_low) * (_bottom - _top); }

    void line(const std::string& x1, const std::string& y1, const std::string& x2, const std::string& y2,
              const std::string& colour, bool dashed)
    {
        _out << "<line x1=\"" << x1 << "\" y1=\"" << y1 << "\" x2=\"" << x2 << "\" y2=\"" << y2 << "\" stroke=\""
             << xml_escaped(colour) << "\" stroke-width=\"1.5\"" << (dashed ? " stroke-dasharray=\"6 4\"" : "")
             << "/>\n";
    }

    void label(const std::string& x, const std::string& y, const std::string& words, const std::string& anchor,
               const char* extra)
    {
        _out << "<text x=\"" << x << "\" y=\"" << y << "\" text-anchor=\"" << anchor << '"' << extra << '>'
             << xml_escaped(words) << "</text>\n";
    }

    std::ostream& _out;
    int _index;
    double _left, _right, _top, _bottom;
    double _x_low = 0, _x_high = 1, _y_low = 0, _y_high = 1;
};

std::string xml_escaped(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            // XML 1.0 forbids the control characters but tab and line ends.
            if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n' || ch == '\r')
                escaped += ch;
        }
    }
    return escaped;
}

SvgPanel::SvgPanel(std::string title) : _title(std::move(title)) {}

void SvgPanel::x_axis(std::string label, double low, double high)
{
    _x = {std::move(label), low, high};
}

void SvgPanel::y_axis(std::string label, double low, double high)
{
    _y = {std::move(label), low, high};
}

void SvgPanel::x_tick(double position, std::string label)
{
    _x_ticks.push_back({position, std::move(label)});
}

void SvgPanel::rectangle(double x_low, double x_high, double y_low, double y_high, std::string colour)
{
    _shapes.push_back({Shape::Kind::rectangle, x_low, x_high, y_low, y_high, std::move(colour), {}});
}

void SvgPanel::vertical_line(double x, std::string colour, std::string legend, bool dashed)
{
    _shapes.push_back({Shape::Kind::vertical_line, x, 0, 0, 0, std::move(colour), std::move(legend), dashed});
}

void SvgPanel::horizontal_line(double y, std::string colour, std::string legend, bool dashed)
{
    _shapes.push_back({Shape::Kind::horizontal_line, y, 0, 0, 0, std::move(colour), std::move(legend), dashed});
}

void SvgPanel::error_bar(double x, double low, double high, std::string colour)
{
    _shapes.push_back({Shape::Kind::error_bar, x, low, high, 0, std::move(colour), {}});
}

void SvgPanel::horizontal_error_bar(double y, double low, double high, std::string colour)
{
    _shapes.push_back({Shape::Kind::horizontal_error_bar, y, low, high, 0, std::move(colour), {}});
}

void SvgPanel::marker(double x, double y, std::string colour, double radius)
{
    _shapes.push_back({Shape::Kind::marker, x, y, radius, 0, std::move(colour), {}});
}

void SvgPanel::text(double x, double y, std::string words, TextAnchor anchor)
{
    _shapes.push_back({Shape::Kind::text, x, y, 0, 0, {}, std::move(words), false, anchor});
}

SvgFigure::SvgFigure(std::string title, double panel_width, double panel_height)
    : _title(std::move(title)), _panel_width(panel_width), _panel_height(panel_height)
{
}

SvgPanel& SvgFigure::add_panel(std::string title)
{
    return _panels.emplace_back(std::move(title));
}

void SvgFigure::write(std::ostream& out) const
{
    const double height = figure_title_height + _panel_height * static_cast<double>(_panels.size());
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << pixels(_panel_width)
        << "\" height=\"" << pixels(height) << "\" viewBox=\"0 0 " << pixels(_panel_width) << ' ' << pixels(height)
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << "<text x=\"" << pixels(_panel_width / 2) << "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\">"
        << xml_escaped(_title) << "</text>\n";
    int index = 0;
    for (const SvgPanel& panel : _panels) {
        PanelWriter writer(out, figure_title_height + _panel_height * index, _panel_width, _panel_height, index);
        write_panel(writer, panel);
        ++index;
    }
    out << "</svg>\n";
}

void SvgFigure::write_panel(PanelWriter& writer, const SvgPanel& panel)
{
    const auto x_span = drawable_span(panel._x.low, panel._x.high);
    const auto y_span = drawable_span(panel._y.low, panel._y.high);
    writer.open(panel._title, panel._x.label, panel._y.label, x_span, y_span);
    if (panel._x_ticks.empty())
        for (const double position : round_ticks(x_span.first, x_span.second))
            writer.x_tick(position, format_real(position));
    for (const SvgPanel::Tick& tick : panel._x_ticks)
        writer.x_tick(tick.position, tick.label);
    for (const double position : round_ticks(y_span.first, y_span.second))
        writer.y_tick(position);

    writer.open_shapes();
    std::vector<LegendEntry> legend;
    using Kind = SvgPanel::Shape::Kind;
    for (const SvgPanel::Shape& shape : panel._shapes) {
        switch (shape.kind) {
        case Kind::rectangle:
            if (all_finite({shape.a, shape.b, shape.c, shape.d}))
                writer.rectangle(shape.a, shape.b, shape.c, shape.d, shape.colour);
            break;
        case Kind::vertical_line:
        case Kind::horizontal_line:
            if (!all_finite({shape.a}))
                break;
            if (shape.kind == Kind::vertical_line)
                writer.vertical_line(shape.a, shape.colour, shape.dashed);
            else
                writer.horizontal_line(shape.a, shape.colour, shape.dashed);
            if (!shape.words.empty())
                legend.push_back({shape.words, shape.colour, shape.dashed});
            break;
        case Kind::error_bar:
            if (all_finite({shape.a, shape.b, shape.c}))
                writer.error_bar(shape.a, shape.b, shape.c, shape.colour);
            break;
        case Kind::horizontal_error_bar:
            if (all_finite({shape.a, shape.b, shape.c}))
                writer.horizontal_error_bar(shape.a, shape.b, shape.c, shape.colour);
            break;
        case Kind::marker:
            if (all_finite({shape.a, shape.b, shape.c}))
                writer.marker(shape.a, shape.b, shape.colour, shape.c);
            break;
        case Kind::text:
            if (all_finite({shape.a, shape.b}))
                writer.text(shape.a, shape.b, shape.words, shape.anchor);
            break;
        }
    }
    writer.close_shapes();
    writer.legend(legend);
    writer.close();
}

std::string SvgFigure::text() const
{
    std::ostringstream out;
    write(out);
    return out.str();
}
