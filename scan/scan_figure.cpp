#include "scan_figure.h"

#include <algorithm>
#include <cmath>

#include "scan_output.h"
#include "svg_figure.h"

namespace scan {

namespace {

// More models than this make the labels unreadable: the figure shows the first
// ones of the table, which are the best fitting.
constexpr std::size_t most_models_drawn = 40;
const char* const source_colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2"};
const char* const shading = "#f2dede";

std::string colour_of_source(std::size_t k)
{
    return source_colours[k % (sizeof source_colours / sizeof source_colours[0])];
}

// The proportions' axis spans [0, 1] and the estimates and bars beyond it,
// within [-0.5, 1.5]: farther out lie only infeasible models, which are shaded.
void proportion_span(const std::vector<ModelResult>& shown, double& low, double& high)
{
    low = 0;
    high = 1;
    for (const ModelResult& result : shown)
        for (std::size_t k = 0; k < result.mY.size(); ++k) {
            const double se = k < result.standard_errors.size() ? result.standard_errors[k] : 0.0;
            const double m = result.mY[k];
            if (std::isfinite(m) && std::isfinite(se)) {
                low = std::max(-0.5, std::min(low, m - 2 * se));
                high = std::min(1.5, std::max(high, m + 2 * se));
            }
        }
}

void draw_proportions(SvgPanel& panel, const std::vector<ModelResult>& shown, const std::vector<std::string>& names)
{
    double low = 0, high = 1;
    proportion_span(shown, low, high);
    panel.x_axis("model (sources in the order of their dots: blue, red, green, ...)", 0.5, shown.size() + 0.5);
    panel.y_axis("mY \u00b1 2 SE", low, high);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const ModelResult& result = shown[i];
        const double x = static_cast<double>(i + 1);
        panel.x_tick(x, sources_text(result, names));
        if (!result.refused.empty()) {
            panel.rectangle(x - 0.45, x + 0.45, low, high, shading);
            panel.text(x, (low + high) / 2, "refused");
            continue;
        }
        if (!result.feasible)
            panel.rectangle(x - 0.45, x + 0.45, low, high, shading);
        const std::size_t K = result.mY.size();
        for (std::size_t k = 0; k < K; ++k) {
            const double spread = std::min(0.6, 0.15 * static_cast<double>(K - 1));
            const double xk = K > 1 ? x - spread / 2 + spread * static_cast<double>(k) / static_cast<double>(K - 1) : x;
            if (k < result.standard_errors.size())
                panel.error_bar(xk, result.mY[k] - 2 * result.standard_errors[k],
                                result.mY[k] + 2 * result.standard_errors[k], colour_of_source(k));
            panel.marker(xk, result.mY[k], colour_of_source(k));
        }
    }
    panel.horizontal_line(0, "#777777", "", true);
    panel.horizontal_line(1, "#777777", "", true);
}

void draw_p_values(SvgPanel& panel, const std::vector<ModelResult>& shown, const std::vector<std::string>& names)
{
    panel.x_axis("model", 0.5, shown.size() + 0.5);
    panel.y_axis("p of the fit", 0, 1);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const ModelResult& result = shown[i];
        const double x = static_cast<double>(i + 1);
        panel.x_tick(x, sources_text(result, names));
        if (result.fitted)
            panel.rectangle(x - 0.3, x + 0.3, 0, result.p, result.feasible ? "#4c72b0" : "#c9a0a0");
        else
            panel.text(x, 0.05, "NA");
    }
    panel.horizontal_line(0.05, "#c44e52", "p = 0.05", true);
}

}  // namespace

std::string scan_figure(const std::vector<ModelResult>& results, const std::vector<std::string>& names)
{
    const std::vector<ModelResult> shown(results.begin(),
                                         results.begin() + static_cast<long>(std::min(results.size(), most_models_drawn)));
    std::string title = "Models of " + names[0] + " (infeasible and refused models shaded)";
    if (shown.size() < results.size())
        title += "; the first " + std::to_string(shown.size()) + " of " + std::to_string(results.size());
    // Each model gets the room of its label (about 7 pixels a character) and 56 pixels at least.
    std::size_t longest = 0;
    for (const ModelResult& result : shown)
        longest = std::max(longest, sources_text(result, names).size());
    const double per_model = std::max(56.0, 7.0 * static_cast<double>(longest) + 8);
    const double width = std::max(640.0, 120.0 + per_model * static_cast<double>(shown.size()));
    SvgFigure figure(title, width, 300);
    draw_proportions(figure.add_panel("Admixture proportions"), shown, names);
    draw_p_values(figure.add_panel("Fit to the references"), shown, names);
    return figure.text();
}

}  // namespace scan
