#include "svg_figure.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SvgFigure, EscapesTextForXml)
{
    EXPECT_EQ(xml_escaped("a<b & \"c\" 'd'>\x01"), "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;");
}

TEST(SvgFigure, MapsDataToThePlottingAreaAndDropsWhatIsNotFinite)
{
    SvgFigure figure("t", 640, 260);
    SvgPanel& panel = figure.add_panel("p");
    panel.x_axis("x", 0, 1);
    panel.y_axis("y", 0, 10);
    panel.rectangle(0.25, 0.5, 0, 5, "#123456");
    panel.vertical_line(NAN, "#abcdef");
    const std::string svg = figure.text();
    // Plotting area: x from 72 to 616 (544 wide), y from 36+30=66 to 36+260-48=248 (182 high).
    EXPECT_NE(svg.find("<rect x=\"208\" y=\"157\" width=\"136\" height=\"91\" fill=\"#123456\""), std::string::npos);
    EXPECT_EQ(svg.find("#abcdef"), std::string::npos);
    // Round ticks: 0, 0.2, ..., 1 on x and 0, 2, ..., 10 on y.
    EXPECT_NE(svg.find(">0.6</text>"), std::string::npos);
    EXPECT_NE(svg.find(">10</text>"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
}

TEST(SvgFigure, AnAxisFarFromZeroEndsItsTicks)
{
    SvgFigure figure("t");
    SvgPanel& panel = figure.add_panel("p");
    panel.x_axis("x", 1e300, 1e300 * (1 + 4e-16)); // a span of a few units in the last place
    panel.y_axis("y", 0, 1);
    EXPECT_NE(figure.text().find("</svg>"), std::string::npos);
}
