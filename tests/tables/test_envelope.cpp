#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "density/density.h"
#include "sampler/weight.h"
#include "tables/tables.h"
#include "histogram_state.h"
#include "test_support.h"

namespace {

// Mode 2 in the inner frame of n step bins (checks that it returns 0 and
// writes the left end into x1[0]); then, if full > 0, mode 6 in the full frame.
void tails(double a, int n, int full = 0)
{
    std::vector<double> x(n + 3, 0.0), save(n + 3, 0.0), f(n + 3, 0.0);
    int bin = 0;
    EXPECT_EQ(xo_xnd_change(2, a, &bin, x.data(), save.data(), &n), 0.0);
    EXPECT_EQ(x[0], C3[0]);
    if (full > 0) xo_xnd_change(6, a, &bin, f.data(), x.data(), &full);
}

double log_g2(double x) { return o1phi4::log_weight(Hsup, X_max, Landa, x); }

}  // namespace

// Left tail: tangent at -1.1 for H < 1, at -1 for H < 1.5, slope H above;
// in every regime it holds the area a left of its end.
TEST(EnvelopeLeftTail, RegimeBoundariesAreStrict)
{
    const double below1 = std::nextafter(1.0, 0.0), below15 = std::nextafter(1.5, 0.0);
    struct Case { double h, slope; };
    for (const Case &c : {Case{0.0, 3.124}, Case{below1, below1 + 3.124}, Case{1.0, 3.0}, Case{below15, below15 + 2},
                          Case{1.5, 1.5}, Case{2.0, 2.0}}) {
        set_histogram(c.h, c.h + 0.04);
        tails(0.01, 102);
        EXPECT_NEAR(C1[0], c.slope, 1e-12) << "H=" << hex(c.h);
        EXPECT_EQ(X_point[0], 1);
        EXPECT_NEAR(std::exp(C1[0] * C3[0] + C2[0]) / C1[0], 0.01, 1e-14) << "H=" << hex(c.h);
    }
}

TEST(EnvelopeLeftTail, BoundRegimeWorkedExample)
{
    set_histogram(2.0, 2.04);
    X_max = 1.0;
    tails(0.01, 102);
    EXPECT_EQ(C1[0], 2.0) << hex(C1[0]);
    EXPECT_EQ(C2[0], -2.75) << hex(C2[0]);
    EXPECT_NEAR(C3[0], -0.5810115, 1e-7);
    tails(0.01, 102, 104);
    EXPECT_NEAR(C2[0], -2.75, 1e-14);
}

TEST(EnvelopeRightTail, TangentRegimeWorkedExample)
{
    Landa = 1; H = 0; Hsup = 0.04; X_max = 0.7071067812; X_max_sup = 0.7169022961;
    Strict_right_tail = false;
    tails(0.01, 102);
    EXPECT_NEAR(C1[0], 3.124, 1e-12);
    EXPECT_NEAR(C2[0], 2.1823, 1e-12);
    EXPECT_NEAR(C3[0], -1.8080525, 1e-7);
    EXPECT_NEAR(X0, 1.382164, 1e-6);
    EXPECT_TRUE(C3[103] == X0 && X_point[103] == 2);
    EXPECT_NEAR(C1[103], -7.757494, 1e-6);
    EXPECT_NEAR(C2[103], 8.009967, 1e-6);
    EXPECT_EQ(Xlimit, X0 + 0.01 / 102) << hex(Xlimit);
    const double c2_left = C2[0];
    tails(0.01, 102, 104);
    EXPECT_NEAR(C2[103], 8.165619, 1e-6);
    EXPECT_NEAR(C2[0], c2_left, 1e-13);
}

// Decision: with the strict stop the tangent never holds more than the area
// right of X0, so rescaling it to the area cannot push it under log g2 at X0.
TEST(EnvelopeRightTail, StrictStopKeepsTheRescaledTailAboveTheWeight)
{
    set_histogram(48.68, 49.16);
    const double a = 6e-15;  // of the order of a 10 % histogram's area there
    for (bool strict : {false, true}) {
        Strict_right_tail = strict;
        tails(a, 102);
        const double candidate = X0 + (std::log(-a * C1[103]) - log_g2(X0)) / C1[103];
        EXPECT_EQ(X0 >= candidate, strict) << "X0=" << X0 << " candidate=" << candidate;
        tails(a, 102, 104);
        EXPECT_EQ(C1[103] * X0 + C2[103] >= log_g2(X0), strict) << "strict=" << strict;
    }
    Strict_right_tail = false;
}

TEST(EnvelopeEvaluate, TailsAtBothEndsStepHeightsInBetween)
{
    C1[0] = 2; C2[0] = -1; C1[5] = -3; C2[5] = 4;
    double f[7] = {90, 91, 92, 93, 94, 95, 96};
    struct Case { int bin; double x, expect; };
    for (const Case &c : {Case{0, 0.5, std::exp(2 * 0.5 - 1)}, Case{5, 1.5, std::exp(-3 * 1.5 + 4)}, Case{1, 100.0, 91},
                          Case{4, -7.0, 94}}) {
        int bin = c.bin, n = 6;
        EXPECT_EQ(xo_xnd_change(1, c.x, &bin, f, nullptr, &n), c.expect) << "bin " << c.bin;
    }
}

// Frame moves on a full frame of 6 pieces; unknown modes change nothing.
TEST(EnvelopeFrames, ModesMoveEntriesAndCountExactly)
{
    const std::vector<double> start = {10, 11, 12, 13, 14, 15, 16, 17};
    const std::vector<double> up = {-1, 10, 11, 12, 13, 14, 15, 16};
    struct Case { std::vector<int> modes; std::vector<double> expect; double save0; int n; };
    const Case cases[] = {
        {{4}, {11, 12, 13, 14, 15, 15, 16, 17}, 10, 4}, {{4, 5}, start, 10, 6}, {{4, 3}, start, 10, 6},
        {{3}, up, -1, 8}, {{5}, up, -1, 8}, {{21}, start, -1, 4},
        {{0}, start, -1, 6}, {{7}, start, -1, 6}, {{22}, start, -1, 6}, {{-1}, start, -1, 6},
    };
    for (const Case &c : cases) {
        std::vector<double> v = start, save = {-1};
        int n = 6, bin = 0;
        X0 = 4; Xlimit = 5; C1[0] = C2[0] = C3[0] = 3;
        for (int m : c.modes) EXPECT_EQ(xo_xnd_change(m, 0.5, &bin, v.data(), save.data(), &n), 0.0);
        EXPECT_EQ(v, c.expect) << "first mode " << c.modes[0];
        EXPECT_EQ(save[0], c.save0) << "first mode " << c.modes[0];
        EXPECT_EQ(n, c.n) << "first mode " << c.modes[0];
        EXPECT_TRUE(X0 == 4 && Xlimit == 5 && C1[0] == 3 && C2[0] == 3 && C3[0] == 3);
    }
}
