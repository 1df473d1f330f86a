// The quantiles of the command line's table, built with the multiply-adds
// fused wherever the compiler likes (-ffp-contract=fast, and on x86-64
// -march=native): they must still come out as in the plain double arithmetic.
#include <gtest/gtest.h>

#include "bootstrap_summary.h"

TEST(QuantileUnderContraction, EachStepIsRoundedOnItsOwn)
{
    // Ten values, the 97.5 % quantile: h = 9 x 0.975 rounds to 8.775000000000000355,
    // between x[8] = 0x1.3b465ap-2 and x[9] = 0x1.f32ba2p-2 (two floats, so their
    // difference 0x1.6fca9p-3 is exact). The step, 0.775... times that difference,
    // rounds to 0x1.1d09c93333335p-3, and its sum with x[8] to 0x1.c9cb3e999999ap-2;
    // one fused multiply-add, which rounds the exact x[8] + 0.775... x difference
    // once, gives the next double up, ...999bp-2.
    const std::vector<double> values = {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0x1.3b465ap-2, 0x1.f32ba2p-2};
    EXPECT_EQ(quantile_type7(values, 0.975), 0x1.c9cb3e999999ap-2);
}
