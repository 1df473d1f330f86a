#ifndef CORVANE_SVG_FIGURE_H
#define CORVANE_SVG_FIGURE_H

#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

// A small writer of figures as SVG text, for the programs' plots (the
// bootstrap's histograms, the model scan's charts). A figure is a title over
// one or more panels stacked from top to bottom; each panel has two axes and
// draws shapes given in the units of its data, which the writer maps to the
// page. Ticks are chosen on the axes at round steps (1, 2 or 5 times a power of
// ten) unless named ticks are given, as for the categories of a bar chart.
//
// Every number of the page is printed by the program's one formatting routine
// (format_real), so the file is the same whatever the locale. Every text is
// escaped for XML. A shape with a coordinate that is not finite is left out,
// and shapes are clipped to their panel's plotting area.
//
// Typical use:
//     SvgFigure figure("Bootstrap of mY");
//     SvgPanel& panel = figure.add_panel("pop1");
//     panel.x_axis("mY", 0, 1);
//     panel.y_axis("replicates", 0, 40);
//     panel.rectangle(0.2, 0.25, 0, 12, "#4c72b0");
//     panel.vertical_line(0.31, "#c44e52", "estimate");
//     figure.write(file);

// Where a text stands against its point: its start, middle or end.
enum class TextAnchor { start, middle, end };

class SvgPanel {
public:
    explicit SvgPanel(std::string title);

    // The axes: their label and the span of data they show. A span whose ends
    // are equal or not finite is widened to one unit around its value.
    void x_axis(std::string label, double low, double high);
    void y_axis(std::string label, double low, double high);
    // Named ticks replace the round numbers on the x axis (a bar chart's
    // categories); each is a position in data units and its label.
    void x_tick(double position, std::string label);

    // A filled rectangle between two x and two y values (a bar, a histogram
    // class); the outline is drawn in a darker line of the same colour.
    void rectangle(double x_low, double x_high, double y_low, double y_high, std::string colour);
    // A line across the whole height at x, or the whole width at y; a named
    // line is listed in the panel's legend. Dashed lines mark intervals.
    void vertical_line(double x, std::string colour, std::string legend = {}, bool dashed = false);
    void horizontal_line(double y, std::string colour, std::string legend = {}, bool dashed = false);
    // A vertical error bar at x from low to high, with short caps.
    void error_bar(double x, double low, double high, std::string colour);
    // A horizontal error bar at y from low to high, with short caps.
    void horizontal_error_bar(double y, double low, double high, std::string colour);
    // A round marker of the given radius in pixels.
    void marker(double x, double y, std::string colour, double radius = 3.5);
    // A text at a point given in data units.
    void text(double x, double y, std::string words, TextAnchor anchor = TextAnchor::middle);

private:
    friend class SvgFigure;
    struct Axis {
        std::string label;
        double low = 0;
        double high = 1;
    };
    struct Tick {
        double position;
        std::string label;
    };
    // One drawn element, its coordinates still in data units.
    struct Shape {
        enum class Kind { rectangle, vertical_line, horizontal_line, error_bar, horizontal_error_bar, marker, text };
        Kind kind;
        double a, b, c, d; // the coordinates, their meaning depending on the kind
        std::string colour;
        std::string words; // the text, or the legend's entry of a line
        bool dashed = false;
        TextAnchor anchor = TextAnchor::middle;
    };

    std::string _title;
    Axis _x, _y;
    std::vector<Tick> _x_ticks;
    std::vector<Shape> _shapes;
};

class SvgFigure {
public:
    // The title on top; every panel is `panel_width` by `panel_height` pixels,
    // margins for the axes' labels included.
    explicit SvgFigure(std::string title, double panel_width = 640, double panel_height = 260);

    // A new panel below the others; the reference stays valid while the
    // figure lives.
    SvgPanel& add_panel(std::string title);

    // The whole SVG document, with its XML declaration.
    std::string text() const;
    void write(std::ostream& out) const;

private:
    class PanelWriter;  // maps one panel's data to the page and writes it
    static void write_panel(PanelWriter& writer, const SvgPanel& panel);

    std::string _title;
    double _panel_width;
    double _panel_height;
    std::deque<SvgPanel> _panels; // a deque keeps the panels in place as more are added
};

// Text made safe inside an XML element or attribute: & < > " ' written as
// entities, control characters other than tab and line end dropped.
std::string xml_escaped(const std::string& text);

#endif
