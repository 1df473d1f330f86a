#include "bootstrap_outputs.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "number_format.h"
#include "svg_figure.h"

namespace {

const char* const bar_colour = "#4c72b0";
const char* const estimate_colour = "#c44e52";
const char* const interval_colour = "#333333";
constexpr int histogram_classes = 20;

// The histogram of one parent's replicate values, over a span that also holds
// the estimate and its interval.
void draw_histogram(SvgPanel& panel, const std::vector<double>& values, const ParentResult& result)
{
    double low = result.estimate;
    double high = result.estimate;
    for (const double value : values) {
        low = std::min(low, value);
        high = std::max(high, value);
    }
    if (high == low) {
        low -= 0.05;
        high += 0.05;
    }
    const double width = (high - low) / histogram_classes;
    std::vector<int> counts(histogram_classes, 0);
    for (const double value : values) {
        const int cls = static_cast<int>((value - low) / width);
        ++counts[static_cast<std::size_t>(std::clamp(cls, 0, histogram_classes - 1))];
    }
    const int most = *std::max_element(counts.begin(), counts.end());
    panel.x_axis("mY", low - width, high + width);
    // The top third is left free for the legend.
    panel.y_axis("replicates", 0, most * 1.5 + 1);
    for (int k = 0; k < histogram_classes; ++k)
        if (counts[static_cast<std::size_t>(k)] > 0)
            panel.rectangle(low + k * width, low + (k + 1) * width, 0, counts[static_cast<std::size_t>(k)],
                            bar_colour);
    panel.vertical_line(result.estimate, estimate_colour, "estimate " + format_real(result.estimate));
    if (result.quantile_2_5 && result.quantile_97_5) {
        panel.vertical_line(*result.quantile_2_5, interval_colour, "2.5 % and 97.5 % quantiles", true);
        panel.vertical_line(*result.quantile_97_5, interval_colour, "", true);
    }
}

// The estimates as bars from 0, one per parental population.
void draw_estimates(SvgPanel& panel, const std::vector<std::string>& parents, const std::vector<ParentResult>& results)
{
    double low = 0;
    double high = 1;
    for (const ParentResult& result : results) {
        low = std::min(low, static_cast<double>(result.estimate));
        high = std::max(high, static_cast<double>(result.estimate));
    }
    panel.x_axis("parental population", 0.4, results.size() + 0.6);
    const double room = (high - low) * 0.12;  // for the values written on the bars
    panel.y_axis("mY", low - room, high + room);
    panel.horizontal_line(0, interval_colour);
    for (std::size_t p = 0; p < results.size(); ++p) {
        const double middle = static_cast<double>(p + 1);
        panel.x_tick(middle, parents[p]);
        panel.rectangle(middle - 0.3, middle + 0.3, 0, results[p].estimate, bar_colour);
        panel.text(middle, results[p].estimate + (results[p].estimate < 0 ? -room * 0.6 : room * 0.25),
                   format_real(results[p].estimate));
    }
}

}  // namespace

void write_bootstrap_table(std::ostream& out, const std::vector<std::string>& parents,
                           const std::vector<float>& replicate_estimates)
{
    out << "replicate";
    for (const std::string& name : parents)
        out << "\t" << name;
    out << "\n";
    const std::size_t width = parents.size();
    std::string line;
    for (std::size_t r = 0; width > 0 && r < replicate_estimates.size() / width; ++r) {
        line = std::to_string(r + 1);
        for (std::size_t p = 0; p < width; ++p)
            line += "\t" + format_real(replicate_estimates[r * width + p]);
        line += "\n";
        out << line;
    }
}

std::string bootstrap_plot(const std::vector<std::string>& parents, const std::vector<ParentResult>& results,
                           const std::vector<float>& replicate_estimates)
{
    const std::size_t width = results.size();
    if (replicate_estimates.empty() || width == 0) {
        SvgFigure figure("Admixture proportions mY");
        draw_estimates(figure.add_panel("estimates"), parents, results);
        return figure.text();
    }
    SvgFigure figure("Bootstrap of the admixture proportions: " + std::to_string(replicate_estimates.size() / width) +
                     " replicates");
    for (std::size_t p = 0; p < results.size(); ++p) {
        std::vector<double> values;
        values.reserve(replicate_estimates.size() / width);
        for (std::size_t at = p; at < replicate_estimates.size(); at += width)
            values.push_back(replicate_estimates[at]);
        draw_histogram(figure.add_panel(parents[p] + " (mY" + std::to_string(p + 1) + ")"), values, results[p]);
    }
    return figure.text();
}

bool write_whole_file(const std::string& path, const std::function<void(std::ostream&)>& write_contents)
{
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
        write_contents(out);
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
