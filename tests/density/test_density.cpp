// The weight, its modes, the interval maximum and the forward bin scan.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <vector>

#include "density/density.h"
#include "test_support.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// Modes to 1e-8, each with a slope below the tolerance; a start point
// (+-x_s) that is already stationary must be returned without a scan step.
TEST(ModeSearch, RightAndLeftModes)
{
    const double xs = std::sqrt(1.0 / 6), h_xs = 2 * xs - 4 * xs * xs * xs;  // Landa 1: slope(h_xs, -xs) = 0
    struct Case {
        double landa, h, right, left;
    } cases[] = {
        {1, 0, M_SQRT1_2, -M_SQRT1_2},
        {1, 0.5, 0.80901699, -0.5},
        {1, 0.6, 0.82563777, NO_LEFT_MODE},
        {1, 1, 0.88464618, NO_LEFT_MODE},
        {1, 100, 2.98100986, NO_LEFT_MODE},
        {1, h_xs, 2 * xs, -xs},
        {1, -h_xs, xs, -2 * xs},
        {2, 0, std::sqrt(3.0) / 2, -std::sqrt(3.0) / 2},
        {0.5, 0, 0, 0},
        {0.5, 1, std::cbrt(0.5), NO_LEFT_MODE},
    };
    for (const Case &c : cases) {
        Landa = c.landa;
        double right = g1_Deltax_xmaximum_3(c.h), left = g1_Deltax_xmaximum_4(c.h);
        EXPECT_NEAR(right, c.right, 1e-8) << "Landa " << c.landa << " h " << c.h;
        EXPECT_NEAR(left, c.left, 1e-8) << "Landa " << c.landa << " h " << c.h;
        EXPECT_LT(std::fabs(g1p(c.h, right)), MODE_SLOPE_TOL) << "Landa " << c.landa << " h " << c.h;
        if (left != NO_LEFT_MODE) {
            EXPECT_LT(std::fabs(g1p(c.h, left)), MODE_SLOPE_TOL) << "Landa " << c.landa << " h " << c.h;
        }
    }
}

// The absolute slope tolerance is out of reach for huge field values: the
// bounded bisection must still end, at the mode to machine precision.
TEST(ModeSearch, HugeFieldValuesEndQuickly)
{
    Landa = 1;
    for (double h : {1e7, 1e9, 1e12}) {
        // The scan from x_s to the mode, then at most MODE_BISECTION_MAX halvings.
        double right = g1_Deltax_xmaximum_3(h);
        const double x_s = std::sqrt((2 * Landa - 1) / (6 * Landa));
        EXPECT_LE(Mode_search_steps, (right - x_s) / MODE_SCAN_STEP + 1 + MODE_BISECTION_MAX) << h;
        double left = g1_Deltax_xmaximum_4(h);
        EXPECT_EQ(Mode_search_steps, 0) << "no left mode: the sign of the slope at -x_s tells at once";
        EXPECT_TRUE(std::isfinite(right) && right > 0) << h;
        EXPECT_LT(std::fabs(g1p(h, right)), 1e-12 * h) << h;
        EXPECT_EQ(left, NO_LEFT_MODE) << h;
    }
}

TEST(Weight, ValuesAtTheMode)
{
    Landa = 1;
    H = 0;
    X_max = g1_Deltax_xmaximum_3(H);
    EXPECT_NEAR(g1(X_max), 0.47236655, 1e-8);
    for (double hs : {0.0, 0.4, 7.0, -3.0}) {
        Hsup = hs;
        EXPECT_EQ(g2(X_max), g1(X_max)) << "Hsup " << hs;
    }
    H = 100;
    X_max = g1_Deltax_xmaximum_3(H);
    EXPECT_NEAR(g1(X_max) / 1.35e-31, 1, 0.01) << g1(X_max);
    for (double h : {0.0, 0.4, -2.5, 1e6}) EXPECT_EQ(g1p(h, 0), h);
}

// Landa = 1, H = 0, Hsup = 0.4, modes from the searches.
void example_globals()
{
    Landa = 1;
    H = 0;
    Hsup = 0.4;
    X_min = g1_Deltax_xmaximum_4(H);
    X_max = g1_Deltax_xmaximum_3(H);
    X_max_sup = g1_Deltax_xmaximum_3(Hsup);
}

// One interval per case of the envelope; a wrong case shows up as a wrong
// end, a missing or misplaced safety factor, or g1 in place of g2.
TEST(IntervalMaximum, EachCaseOfTheEnvelope)
{
    example_globals();
    EXPECT_NEAR(X_max_sup, 0.79142548, 1e-8);
    const double cases[][3] = {
        {-1, -0.8, 0.46319831},   // left of the left mode
        {-1, 0, 0.47283892},      // holds the left mode: 1.001 g1(X_min)
        {-1, 1.5, 0.03033835},    // holds both modes: g2 at the end
        {-0.6, 0.3, 0.46319831},  // between the modes: larger end
        {0.5, 0.75, 0.47866755},  // rising flank of g2
        {0.7, 0.9, 0.48131255},   // holds the mode of g2: 1.001 g2(X_max_sup)
        {0.9, 1.2, 0.46350287},   // falling flank of g2
    };
    for (const auto &c : cases)
        EXPECT_NEAR(g1_Deltax_max(c[0], c[1]), c[2], 1e-8) << "[" << c[0] << ", " << c[1] << "]";
    for (double x : {-2.0, -0.5, 0.75, 3.0}) EXPECT_EQ(g1_Deltax(x, x, 0.1), -0.1) << "empty bin at " << x;
    X_min = NO_LEFT_MODE;  // only the ends count left of X_max
    EXPECT_EQ(g1_Deltax_max(-1, 0), g1(0));
    EXPECT_EQ(g1_Deltax_max(-0.9, 0.3), g1(-0.9));
}

// An interval touching the mode of g2 exactly fits no case: the message goes
// to standard output (standard error is silenced here) and the status is -1.
TEST(IntervalMaximum, TouchingTheModeOfG2Exits)
{
    example_globals();
    const double ends[][2] = {{0.75, X_max_sup}, {X_max_sup, 1.0}};
    for (const auto &e : ends) {
        EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), dup2(open("/dev/null", O_WRONLY), STDERR_FILENO),
                     g1_Deltax_max(e[0], e[1])),
                    ::testing::ExitedWithCode(255), "^problem in g1_Deltax_max => exit\n$");
    }
}

// Bin equations for the forward scan, recording where they are evaluated.
std::vector<double> calls;
double recorded_bin(double x1, double x, double a) { return calls.push_back(x), g1_Deltax(x1, x, a); }
double crossing(double, double x, double a) { return calls.push_back(x), x - a; }
double negative(double, double x, double) { return calls.push_back(x), -1.0; }
double positive(double, double x, double) { return calls.push_back(x), 1.0; }
double not_a_number(double, double x, double) { return calls.push_back(x), NaN; }

TEST(ForwardScan, WorkedExampleStopsAtTheThirdPoint)
{
    example_globals();
    calls.clear();
    double got = root1(recorded_bin, -1, 0.1, 0.1, 1.4);
    EXPECT_EQ(got, -0.7000000000000001) << hex(got);
    const double points[] = {-1 + 0.1, -1 + 0.1 + 0.1, -1 + 0.1 + 0.1 + 0.1};
    const double values[] = {-0.05709149, -0.00736034, 0.04185168};
    ASSERT_EQ(calls.size(), 3u);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(calls[k], points[k]) << k;
        EXPECT_NEAR(g1_Deltax(-1, points[k], 0.1), values[k], 1e-8) << k;
    }
}

// The scan's exits: positive (the point), exactly zero (1.01 times the
// point), past Xlimit (Xlimit + 1, after evaluating one point beyond it).
TEST(ForwardScan, ExitsAndEvaluationCounts)
{
    struct Case {
        const char *name;
        double (*fn)(double, double, double);
        double x1, step, a, xlimit, want;
        size_t evals;
    } cases[] = {
        {"positive at the first point", positive, 0, 0.5, 0, 10, 0.5, 1},
        {"exact zero", crossing, 0, 0.5, 1.0, 10, 1.01, 2},
        {"exact zero left of 0", crossing, -2, 0.5, -1.0, 10, -1.01, 2},
        {"one point beyond Xlimit", negative, 0, 0.25, 0, 1.0, 2.0, 5},
        {"Xlimit below x1, positive", positive, 0, 0.5, 0, -5, 0.5, 1},
        {"Xlimit below x1, negative", negative, 0, 0.5, 0, -5, -4, 1},
        {"NaN equation scans on", not_a_number, 0, 0.25, 0, 1.0, 2.0, 5},
        {"NaN Xlimit ends the scan", negative, 0, 0.5, 0, NaN, NaN, 1},
    };
    for (const Case &c : cases) {
        calls.clear();
        double got = root1(c.fn, c.x1, c.step, c.a, c.xlimit);
        EXPECT_TRUE(got == c.want || (std::isnan(got) && std::isnan(c.want))) << c.name << ": " << hex(got);
        EXPECT_EQ(calls.size(), c.evals) << c.name;
    }
}

}  // namespace
