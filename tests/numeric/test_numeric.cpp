// Romberg quadrature, Neville's scheme and Ridders' root finder: known
// answers, evaluation counts, and the fatal stops.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "test_support.h"

namespace {

// Every evaluation of an integrand or root function is recorded here.
std::vector<double> calls;
double (*inner)(double);
double counted(double x) { return calls.push_back(x), inner(x); }
double integrate(double (*f)(double), double a, double b)
{
    return calls.clear(), inner = f, qromb(counted, a, b);
}

double linear(double x) { return x; }
double square(double x) { return x * x; }

// The evaluation count pins the stage at which the extrapolation first meets
// the tolerance (stage n costs 2^(n-1) + 1 evaluations in all).
TEST(RombergConvergence, KnownIntegralsAtTheExpectedStage)
{
    Landa = 1;
    H = 0;
    X_max = g1_Deltax_xmaximum_3(0);
    struct Case {
        double (*f)(double);
        double a, b, want, tol;
        size_t evals;
    } cases[] = {
        {[](double) { return 2.5; }, 0, 1, 2.5, 0, 17},  // every stage agrees: exact
        {linear, 0, 1, 0.5, 0, 17},
        {square, 0, 1, 1.0 / 3, 1e-15, 17},
        {[](double x) { return std::pow(x, 9); }, 0, 1, 0.1, 1e-7, 33},
        {[](double x) { return std::sin(x); }, 0, M_PI, 1.9999999946, 1e-10, 17},
        {g1, -3, 6, 1.0158435175336875, 1e-6, 129},
        {square, 1, 0, -1.0 / 3, 1e-15, 17},  // reversed limits
    };
    for (const Case &c : cases) {
        double got = integrate(c.f, c.a, c.b);
        EXPECT_NEAR(got, c.want, c.tol) << "integral to " << c.want << ": " << hex(got);
        EXPECT_EQ(calls.size(), c.evals) << "integral to " << c.want;
        EXPECT_EQ(calls.front(), c.a);
    }
}

// Each stage evaluates only the midpoints of the previous one, left to right.
TEST(TrapezoidStages, EvaluationPointsInOrder)
{
    inner = linear;
    const std::vector<double> want[] = {{1, 3}, {2}, {1.5, 2.5}, {1.25, 1.75, 2.25, 2.75}};
    for (int n = 1; n <= 4; n++) {
        calls.clear();
        EXPECT_EQ(trapzd(counted, 1, 3, n), 4.0) << "stage " << n;
        EXPECT_EQ(calls, want[n - 1]) << "stage " << n;
    }
}

// Random signs: no stage agrees with the next, so only the cap on the stages
// ends the quadrature.  Counted without storing (2^29 + 1 calls up to stage 30).
long noise_evals;
double coin_flip(double)
{
    static unsigned long long state = 88172645463325252ULL;
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return noise_evals++, (state & 1) ? 1.0 : -1.0;
}
void report_noise_evals() { std::fprintf(stderr, "evaluations=%ld\n", noise_evals); }

TEST(RombergStops, NeverConvergingOrZeroIntegralsEndTheProgram)
{
    EXPECT_EXIT((std::atexit(report_noise_evals), qromb(coin_flip, 0, 1)), ::testing::ExitedWithCode(1),
                "Too many steps in routine qromb(.|\n)*evaluations=536870913\n");
    EXPECT_EXIT(integrate([](double) { return 0.0; }, -3, 6), ::testing::ExitedWithCode(1), "zero at every stage");
    EXPECT_EXIT(integrate(square, 2, 2), ::testing::ExitedWithCode(1), "zero at every stage");
    const double xa[] = {0, 1, 1, 2}, ya[] = {0, 1, 2, 3};
    double y, dy;
    EXPECT_EXIT(polint(xa, ya, 3, 0.0, &y, &dy), ::testing::ExitedWithCode(1), "Error in routine polint");
}

double shifted(double, double x, double B) { return calls.push_back(x), x - B; }
double parabola(double, double x, double B) { return calls.push_back(x), x * x - B; }
double flat_zero(double, double x, double) { return calls.push_back(x), 0.0; }
// Root at 0.5 exactly, between end values whose product underflows to 0.
double tiny_step(double, double x, double)
{
    return calls.push_back(x), x < 0.5 ? 1e-200 : (x > 0.5 ? -1e-200 : 0.0);
}

// Each case with the most evaluations it may take: end values of exactly 0
// are returned without iterating.
TEST(RiddersRoots, KnownRootsAndEndValues)
{
    struct Case {
        const char *name;
        double (*f)(double, double, double);
        double x1, x2, xacc, B, want, tol;
        size_t max_evals;
    } cases[] = {
        {"linear: first estimate is the root", shifted, 0, 1, 1e-8, 0.3, 0.3, 1e-15, 6},
        {"x^2 - 2", parabola, 0, 2, 1e-8, 2, M_SQRT2, 1e-8, 1202},
        {"reversed bracket", parabola, 2, 0, 1e-8, 2, M_SQRT2, 1e-8, 1202},
        {"zero at x1", shifted, 0.3, 1, 1e-8, 0.3, 0.3, 0, 2},
        {"zero at x2", shifted, 0, 0.3, 1e-8, 0.3, 0.3, 0, 2},
        {"zero at both ends gives x1", flat_zero, 4, 5, 1e-8, 0, 4, 0, 2},
        {"s underflows to 0: the midpoint", tiny_step, 0, 1, 1e-8, 0, 0.5, 0, 3},
        {"converged: the previous estimate", parabola, 0, 2, 0.1, 2, 1.0 + 1.0 / std::sqrt(5.0), 0, 5},
    };
    for (const Case &c : cases) {
        calls.clear();
        double got = zriddr(c.f, 0, c.x1, c.x2, c.xacc, c.B);
        EXPECT_NEAR(got, c.want, c.tol) << c.name << ": " << hex(got);
        EXPECT_LE(calls.size(), c.max_evals) << c.name;
    }
    EXPECT_EXIT(zriddr(parabola, 0, 2, 3, 1e-8, 2), ::testing::ExitedWithCode(1),
                "root must be bracketed in zriddr\\.");
}

}  // namespace
