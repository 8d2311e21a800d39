#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "sampler/weight.h"
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
// than four points, stops through nrerror before the table file is created;
// a FIFO in the plan's place stops it at once.
TEST(GenerationDriverDeathTest, UnusablePlanStopsWithAMessage)
{
    Landa = 1.0;
    struct Case { const char *plan, *message; bool fifo = false; };
    const Case cases[] = {
        {nullptr, "cannot open the file temp2\\.tmp"},
        {nullptr, "cannot open the file temp2\\.tmp: it is not a regular file", true},
        {"abc\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n3 1.050000\n0 0.000000\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n1 1.000000\n0 0.000000\n5\n", "temp2\\.tmp"},
        {"0.000000 1.000000\n1 2.500000\n0 0.000000\n5\n", "Nd_poi=3"},
    };
    for (const Case &c : cases) {
        const std::string dir = make_scratch_dir("main2");
        ASSERT_FALSE(dir.empty());
        if (c.plan) std::ofstream(dir + "/temp2.tmp") << c.plan;
        if (c.fifo) {
            ASSERT_EQ(mkfifo((dir + "/temp2.tmp").c_str(), 0644), 0);
        }
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

// --- Majorant proof -------------------------------------------------------------

// A histogram built as the driver builds it, for H = 0 to Hsup = 0.05 at 104
// points, then damaged one way at a time: the proof must stop naming the
// histogram, the field value and x, and pass the sound one over its range.
TEST(MajorantProofDeathTest, FindsEveryPieceBelowTheWeightAndPassesASoundHistogram)
{
    struct Case {
        const char *what;
        int piece;        // -1 left tail, 0 none, k step edge k moved right, 1000 right tail
        double shift;     // how far: below the weight at the anchor (tails), in widths (edges)
        double h_hi;      // upper end of the field range checked
        const char *message;
    };
    const Case cases[] = {
        {"sound", 0, 0.0, 0.05, nullptr},
        {"range beyond the next field value", 0, 0.0, 0.5, "h=0\\.125, x=1\\.29"},
        {"right tail 1e-6 below the weight", 1000, 1e-6, 0.05, "h=0\\.05, x=1\\.3"},
        {"left tail 1e-6 below the weight", -1, 1e-6, 0.05, "h=0, x=-1\\.8"},
        {"step widened", 60, 0.3, 0.05, "h=0(\\.05)?, x=0\\.[0-9]+ \\(majorant/weight=0\\.[0-9]+"},
        {"gap after the left tail", 1, 1e-3, 0.05, "h=0, x=-1\\.8"},
    };
    for (const Case &c : cases) {
        set_histogram(0.0, 0.05);
        Nd_poi = 104;
        for (int k = 0; k < TABLE_SIZE; k++) X_point[k] = 0;
        x1[Nd_poi] = X_RIGHT;
        double a = find_a(qromb(g1, X_LEFT, X_RIGHT) / Nd_poi, x1, Nd_poi);
        corrections(x1, f1, &a, Nd_poi);
        // A tail is lowered to c.shift below the weight at its anchor, at
        // the end of the range where the weight is larger on its side.
        const int last = Nd_poi - 1;
        if (c.piece == -1) C2[0] -= C1[0] * C3[0] + C2[0] - o1phi4::log_weight(0.0, X_max, Landa, C3[0]) + c.shift;
        if (c.piece == 1000) C2[last] -= C1[last] * C3[last] + C2[last] - o1phi4::log_weight(c.h_hi, X_max, Landa, C3[last]) + c.shift;
        if (c.piece > 0 && c.piece < Nd_poi) x1[c.piece] += c.shift * (c.piece == 1 ? 1 : x1[c.piece + 1] - x1[c.piece]);
        if (!c.message) {
            prove_majorant(7, a, 0.0, c.h_hi);
            continue;
        }
        EXPECT_EXIT(prove_majorant(7, a, 0.0, c.h_hi), ::testing::ExitedWithCode(1),
                    std::string("!!! Histogram=7, H=0\\.000000: the majorant lies below the weight at ") + c.message)
            << c.what;
    }
}

// Landa 5 at 1 % (600 points): the area search runs out of bisection steps on
// a jump of Xlimit, and its last trial area lays edges past the tail start;
// the histogram is still finished, a majorant over its range.
TEST(BinSearch, SearchEndingPastTheTailStartLeavesRoomForTheLastBins)
{
    set_histogram(83.812, 83.944);
    Landa = 5.0;
    X_min = g1_Deltax_xmaximum_4(H);
    X_max = g1_Deltax_xmaximum_3(H);
    X_max_sup = g1_Deltax_xmaximum_3(Hsup);
    Nd_poi = 600;
    for (int k = 0; k < TABLE_SIZE; k++) X_point[k] = 0;
    x1[Nd_poi] = X_RIGHT;
    double a = find_a(qromb(g1, X_LEFT, X_RIGHT) / Nd_poi, x1, Nd_poi);
    EXPECT_LT(x1[Nd_poi - 3], Xlimit - XLIMIT_MARGIN / (Nd_poi - 2));
    corrections(x1, f1, &a, Nd_poi);
    prove_majorant(743, a, H, Hsup);
}

// A histogram made by hand at h = 0 (Landa 1: modes at -1/sqrt 2 and 1/sqrt 2,
// weight exp(-3/4) = 0.472 there, exp(-1) = 0.368 at -1, 0 and 1): left tail
// below -3 (slope 10, 1 above the log weight at -3), steps [-3, -1], [-1, 0],
// [0, 1], [1, 2.5] of the area a = 0.8, right tail above 2.5 (slope -10, 0.5
// above the log weight at 2.5).  Each fault below is seen by one check alone.
TEST(MajorantProofDeathTest, EachCheckAloneFindsTheFaultOnlyItSees)
{
    struct Case {
        const char *what;
        double a;             // common area
        double edge4;         // right end of the step that holds the right mode
        double right_slope;   // slope of the right tail
        const char *message;  // where the proof must stop, or nullptr
    };
    const Case cases[] = {
        {"sound", 0.8, 1.0, -10.0, nullptr},
        // [-3, -1] of height 0.35: the weight rises across it and passes it at its right end only.
        {"step below the weight at its right end", 0.7, 1.0, -10.0, "h=0, x=-1 "},
        // [0, 1.9] of height 0.42: above the weight at both ends, below it at the mode inside.
        {"step below the weight at the mode inside", 0.8, 1.9, -10.0, "h=0, x=0\\.70710678"},
        // Above the weight at 2.5 (slope -57.5 there), falling faster: below it from x = 2.6 on.
        {"right tail steeper than the weight", 0.8, 1.0, -70.0, "h=0, x=2\\.66"},
    };
    for (const Case &c : cases) {
        set_histogram(0.0, 0.0);
        Nd_poi = 6;
        const double p[6] = {-3.0, -3.0, -1.0, 0.0, c.edge4, 2.5};
        for (int k = 0; k < Nd_poi; k++) {
            x1[k] = p[k];
            X_point[k] = 0;
        }
        C1[0] = 10.0;
        C2[0] = o1phi4::log_weight(0.0, X_max, Landa, -3.0) + 1.0 - C1[0] * -3.0;
        C1[5] = c.right_slope;
        C2[5] = o1phi4::log_weight(0.0, X_max, Landa, 2.5) + 0.5 - C1[5] * 2.5;
        if (!c.message) {
            prove_majorant(3, c.a, 0.0, 0.0);
            continue;
        }
        EXPECT_EXIT(prove_majorant(3, c.a, 0.0, 0.0), ::testing::ExitedWithCode(1),
                    std::string("Histogram=3, H=0\\.000000: the majorant lies below the weight at ") + c.message)
            << c.what;
    }
}

// --- Served ranges ------------------------------------------------------------------

// The field values the index table sends to each histogram, read from a
// snippet file, against answers worked out by hand: ranges joined across
// entries and across the two C lines, a histogram no entry names, and an H0
// on a step edge that the line sends to index 0 (89.96/0.01 is 8996 in
// doubles) while 8996 times 0.01 is one double above it.
TEST(ServedRanges, MatchHandWorkedRangesOfTheCLines)
{
    struct Case {
        const char *lines, *entries;
        double h0, h_max;
        std::vector<double> lo, hi;  // per histogram, NaN when unused
    };
    const double none = NAN;
    const Case cases[] = {
        // 99.981/0.004 = 24995.25: index 0; 100/5 = 20: index 5.
        {"if(h<100.000000 ) j=-24995+(int)(h/0.004000);\nelse if(h<110.000000 ) j=-15+(int)(h/5.000000);\n",
         "7\n0 0\n1 0\n2 1\n3 1\n4 1\n5 1\n6 2\n", 99.981, 110.0, {99.981, 99.988, 105.0, none},
         {99.988, 105.0, 110.0, none}},
        {"if(h<90.000000 ) j=-8996+(int)(h/0.010000);\n", "2\n0 0\n1 1\n", 89.96, 90.0, {89.96, 89.97},
         {89.97, 89.98}},
    };
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    for (const Case &c : cases) {
        const std::string dir = make_scratch_dir("served");
        std::ofstream(dir + "/temp1.tmp") << "--> a. In C \n" << c.lines
                                           << "else {printf(\"H must be < 1\\n\"); exit(-1);}\n-\n"
                                           << "$------------------- end copy ------------------------\n"
                                           << c.entries;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        const int N = static_cast<int>(c.lo.size()) - 1;
        read_served_ranges(N, c.h0, c.h_max, Served_lo, Served_hi);
        ASSERT_EQ(chdir(cwd), 0);
        EXPECT_EQ(Served_lo[0], c.h0) << "H0 itself is served: " << hex(Served_lo[0]);
        for (int m = 0; m <= N; m++) {
            if (std::isnan(c.lo[m])) {
                EXPECT_TRUE(std::isnan(Served_lo[m]) && std::isnan(Served_hi[m])) << "histogram " << m;
                continue;
            }
            EXPECT_NEAR(Served_lo[m], c.lo[m], 1e-12) << "histogram " << m;
            EXPECT_NEAR(Served_hi[m], c.hi[m], 1e-12) << "histogram " << m;
        }
    }
}
