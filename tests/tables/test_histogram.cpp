#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"
#include "histogram_state.h"
#include "test_support.h"

namespace {

constexpr int ND = 6;        // corrections: two tails and four step bins
constexpr double END = 2.0;  // corrections: start of the right tail

// The state the area search leaves for the corrections: full frame with the
// step edges in x1[1..5], Xlimit 0.01/n right of the tail start.
void set_search_result(const double (&edges)[5])
{
    set_histogram(0.0, 0.04);
    x1[0] = 99.0;
    for (int k = 0; k < 5; k++) x1[k + 1] = edges[k];
    x1[ND] = X_RIGHT;
    Xlimit = END + XLIMIT_MARGIN / (ND - 2);
    C1[0] = 3.124; C3[0] = edges[0]; C1[ND - 1] = -7.0; C3[ND - 1] = END;
}

}  // namespace

// --- Bin search ---------------------------------------------------------------

TEST(BinSearch, NextEdgeSolvesTheBinEquationOrGivesTheMarker)
{
    set_histogram(0.0, 0.4);
    Xlimit = 1.4;
    const double x = find_x(-1.0, 0.1);
    EXPECT_NEAR(x, -0.78539025, 2e-8);
    EXPECT_NEAR(g1(x) * (x + 1), 0.1, 1e-8);  // [-1, x] rises, so its maximum is g1(x)
    // Start beyond Xlimit; an area no bin up to Xlimit can hold.
    EXPECT_EQ(find_x(1.5, 0.1), Xlimit + 1);
    EXPECT_EQ(find_x(-1.0, 100.0), Xlimit + 1);
}

TEST(BinSearch, AreaWorkedExampleTenPercentAtZeroField)
{
    set_histogram(0.0, 0.05);
    const int nd = 104, n = nd - 2;
    x1[0] = 77.0;
    x1[nd] = X_RIGHT;
    const double a = find_a(qromb(g1, X_LEFT, X_RIGHT) / nd, x1, nd);
    EXPECT_NEAR(a, 0.01022, 1e-5);
    EXPECT_EQ(x1[0], 0.0) << "the save slot of the search is never written";
    EXPECT_NEAR(x1[1], -1.8012, 1e-4);
    EXPECT_NEAR(X0, 1.3787, 1e-4);
    EXPECT_LT(std::fabs(x1[nd - 1] - Xlimit), 1.0 / (50.0 * n)) << "the last edge, back in the full frame";
    EXPECT_EQ(x1[nd], X_RIGHT);
    // The area returned is the upper end of the bracket: its last edge reaches Xlimit.
    std::vector<double> e(nd + 1, 0.0);
    find_x_all(a, e.data(), n);
    EXPECT_GE(e[n], Xlimit);
}

// Decision: the bracketing is bounded; an area whose last edge never changes
// side of Xlimit stops with a message instead of looping.
TEST(BinSearchDeathTest, ImpossibleAreaStopsWithNoAreaFound)
{
    for (double a0 : {1e300, std::numeric_limits<double>::quiet_NaN()}) {
        set_histogram(0.0, 0.05);
        EXPECT_EXIT(find_a(a0, x1, 104), ::testing::ExitedWithCode(1), "no area found") << "a0=" << a0;
    }
}

// --- Corrections ----------------------------------------------------------------

TEST(Corrections, LastBinsShareTheStretchThreeToTwoOnlyWhenTheEdgeReachesXlimit)
{
    ASSERT_EQ(END + XLIMIT_MARGIN / (ND - 2) - XLIMIT_MARGIN / (ND - 2), END);
    struct Case { double edge, expect; };
    for (const Case &c : {Case{1.8, 1.8}, Case{END, 1.6}, Case{3.0, 1.6}, Case{END + 1 + XLIMIT_MARGIN / 4, 1.6}}) {
        set_search_result({0.9, 0.95, 1.0, c.edge, 2.3});
        double a = 1.0;
        corrections(x1, f1, &a, ND);
        EXPECT_NEAR(x1[ND - 2], c.expect, 1e-15) << "edge " << c.edge;
        EXPECT_EQ(x1[ND - 1], END) << "the last edge is pinned to the tail start";
        EXPECT_EQ(Xlimit, END);
    }
}

TEST(Corrections, RatioIsAtLeast1001AndLiftsTheLastBinToItsBound)
{
    // Right of the right mode, bins narrowing leftwards: each holds its bound once the last one does.
    const double edges[5] = {1.42, 1.45, 1.5, 1.6, END};
    struct Case { double height_over_bound, r; };
    for (const Case &c : {Case{2.0, 1.001}, Case{0.5, 2.002}}) {
        set_search_result(edges);
        const double a_in = c.height_over_bound * g1_Deltax_max(1.6, END) * (END - 1.6);
        double a = a_in;
        const double r = corrections(x1, f1, &a, ND);
        EXPECT_NEAR(r, c.r, c.r == 1.001 ? 0.0 : 1e-12) << hex(r);
        EXPECT_EQ(a, r * a_in);
        // Back in the full frame: untouched ends, step heights, tails of area a.
        EXPECT_EQ(x1[0], 99.0);
        EXPECT_EQ(x1[ND], X_RIGHT);
        for (int k = 1; k <= ND - 2; k++) {
            EXPECT_EQ(x1[k], edges[k - 1]);
            EXPECT_EQ(f1[k], a / (x1[k + 1] - x1[k])) << "bin " << k;
        }
        EXPECT_NEAR(std::exp(C1[0] * C3[0] + C2[0]) / C1[0], a, 1e-15);
        EXPECT_NEAR(-std::exp(C1[ND - 1] * C3[ND - 1] + C2[ND - 1]) / C1[ND - 1], a, 1e-15);
    }
}

TEST(CorrectionsDeathTest, NoRoomOrAStepBelowTheWeightStops)
{
    // Areas relative to the bound of the first bin [-1, 0], which holds the left mode.
    struct Case { double edges[5]; double height_over_bound; const char *message; };
    const Case cases[] = {
        {{1.0, 1.5, END, 2.5, 3.0}, 10.0, "change the % of losses"},
        {{-1.0, 0.0, 1.0, 1.6, END}, 0.999,
         "!!! for f1\\[0\\]=0\\.47[0-9]* <max=0\\.47[0-9]* on \\[-1\\.000000,0\\.000000\\]"
         "(.|\n)*f1 must be > max of the function g1"},
    };
    for (const Case &c : cases) {
        set_search_result(c.edges);
        double a = c.height_over_bound * g1_Deltax_max(-1.0, 0.0) / 1.001;
        EXPECT_EXIT(corrections(x1, f1, &a, ND), ::testing::ExitedWithCode(1), c.message);
    }
}

// --- Generation driver ------------------------------------------------------------

// Decision: a plan that cannot be read, or whose loss factor leaves fewer
// than four points, stops through nrerror before the table file is created.
TEST(GenerationDriverDeathTest, UnusablePlanStopsWithAMessage)
{
    Landa = 1.0;
    struct Case { const char *plan, *message; };
    const Case cases[] = {
        {nullptr, "cannot open the file temp2\\.tmp"},
        {"abc\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n3 1.050000\n0 0.000000\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n1 1.000000\n0 0.000000\n5\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n1 2.500000\n0 0.000000\n5\n", "Nd_poi=3"},
    };
    for (const Case &c : cases) {
        const std::string dir = make_scratch_dir("main2");
        ASSERT_FALSE(dir.empty());
        if (c.plan) std::ofstream(dir + "/temp2.tmp") << c.plan;
        std::ofstream(dir + "/temp1.tmp") << "snippet\n";
        EXPECT_EXIT(
            {
                if (chdir(dir.c_str()) != 0) std::_Exit(99);
                main_2();
            },
            ::testing::ExitedWithCode(1), c.message)
            << (c.plan ? c.plan : "(no plan)");
        EXPECT_EQ(read_file(dir + "/O1_Phi4.res"), "") << "no table is started";
        std::filesystem::remove_all(dir);
    }
}
