#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <vector>

#include "number_format.h"

TEST(FormatReal, FixedNotationDropsTrailingZerosAndPoint)
{
    EXPECT_EQ(format_real(0.4f), "0.4");
    EXPECT_EQ(format_real(1.0f / 3.0f), "0.333333");
    EXPECT_EQ(format_real(-0.125), "-0.125");
    EXPECT_EQ(format_real(1.0), "1");
    EXPECT_EQ(format_real(2.5), "2.5");
    EXPECT_EQ(format_real(100.0), "100");
    EXPECT_EQ(format_real(0.0001), "0.0001");
    EXPECT_EQ(format_real(123456.0), "123456");
}

TEST(FormatReal, ZeroKeepsItsSign)
{
    EXPECT_EQ(format_real(0.0), "0");
    EXPECT_EQ(format_real(-0.0), "-0");
}

TEST(FormatReal, ExponentNotationBelowMinusFourAndFromSix)
{
    EXPECT_EQ(format_real(1e-05), "1e-05");
    EXPECT_EQ(format_real(1.5e+06), "1.5e+06");
    EXPECT_EQ(format_real(1234567.0), "1.23457e+06");
    EXPECT_EQ(format_real(std::numeric_limits<float>::max()), "3.40282e+38");
    EXPECT_EQ(format_real(-2.5e-300), "-2.5e-300");
    // 999999.5 rounds to 1e+06 at six digits, which moves it to exponent form.
    EXPECT_EQ(format_real(999999.5), "1e+06");
}

TEST(FormatReal, SinglePrecisionValuesPrintAtTheirWidenedValue)
{
    // 0.1f is 0.100000001490116..., 16777217 is not a float and rounds to 16777216.
    EXPECT_EQ(format_real(0.1f), "0.1");
    EXPECT_EQ(format_real(static_cast<float>(16777217)), "1.67772e+07");
    // 0.3333335f is really 0.333333492279...: rounded from its exact value it
    // prints 0.333333, where rounding its short float text 0.3333335 would give
    // 0.333334.
    EXPECT_EQ(format_real(0.3333335f), "0.333333");
    EXPECT_EQ(format_real(1.0000005f), "1");
}

TEST(FormatReal, InfinitiesAndNotANumbersAreSpelledOut)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(format_real(inf), "+INF");
    EXPECT_EQ(format_real(-inf), "-INF");
    // Whatever sign the processor gave a not-a-number (x86-64 sets it, ARM64 clears it).
    EXPECT_EQ(format_real(nan), "-NAN");
    EXPECT_EQ(format_real(std::copysign(nan, -1.0)), "-NAN");
}

TEST(FormatReal, TheCachedTextIsTheTextOfTheValueItself)
{
    // Far more values than the cache has places, so that values share places;
    // each comes twice, once formatted and once, perhaps, copied.
    RealTextCache cache;
    std::vector<float> values{0.0f, -0.0f, std::numeric_limits<float>::denorm_min(), -3.4e38f,
                              std::numeric_limits<float>::infinity(), std::nanf("")};
    std::uint32_t bits = 12345u;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(i % 2 ? value : static_cast<float>(bits % 20000u) / 1000.0f);
    }
    for (int pass = 0; pass < 2; ++pass)
        for (const float value : values) {
            TextLine line;
            line.real(value, cache);
            std::ostringstream written;
            line.end(written);
            ASSERT_EQ(written.str(), format_real(value) + "\n") << "pass " << pass;
        }
}
