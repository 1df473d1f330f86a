#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
