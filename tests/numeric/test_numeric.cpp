// Romberg quadrature, Neville's scheme and Ridders' root finder: known
// answers, evaluation counts, and the fatal stops; the staged output files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// --- Staged output files -------------------------------------------------------

namespace {

// Renames fail at the calls numbered in Failing_renames (from 1).
std::vector<int> Failing_renames;
int Renames_made;
int failing_rename(const char *from, const char *to)
{
    Renames_made++;
    for (int n : Failing_renames)
        if (n == Renames_made) return errno = EIO, -1;
    return std::rename(from, to);
}

}  // namespace

// Two outputs staged as the generator stages its table and diagnostic file,
// then committed with a fault injected at one rename or two: a stop leaves
// both previous files as they were (or none, where there was none) and no
// temporary file behind, or, when the previous diagnostic file cannot be
// put back either, says where it is.  The renames are the diagnostic
// file's (1), the table's (2) and putting back the diagnostic file (3).
TEST(StagedFilesDeathTest, AFaultAtAnyRenameLeavesBothPreviousFilesAsTheyWere)
{
    struct Case {
        std::vector<int> failing;
        bool previous_curve;  // a diagnostic file from an earlier run
        const char *message;  // nullptr: the commit succeeds
        const char *table, *curve, *kept;  // contents afterwards, nullptr: no such file
    };
    const Case cases[] = {
        {{}, true, nullptr, "new table.res", "new curve.res", nullptr},
        {{1}, true, "!!! cannot replace the file curve\\.res\n", "old table", "old curve", nullptr},
        {{2}, true, "!!! cannot replace the file table\\.res\n", "old table", "old curve", nullptr},
        {{2}, false, "!!! cannot replace the file table\\.res\n", "old table", nullptr, nullptr},
        {{2, 3}, true,
         "!!! cannot replace the file table\\.res, and the previous curve\\.res could not be put back: "
         "it is curve\\.res\\.old",
         "old table", "new curve.res", "old curve"},
    };
    for (const Case &c : cases) {
        const std::string dir = make_scratch_dir("staged");
        std::ofstream(dir + "/table.res") << "old table";
        if (c.previous_curve) std::ofstream(dir + "/curve.res") << "old curve";
        Failing_renames = c.failing;
        EXPECT_EXIT(
            {
                if (chdir(dir.c_str()) != 0) std::_Exit(99);
                for (const char *name : {"table.res", "curve.res"}) {
                    FILE *f = open_output(name);
                    std::fprintf(f, "new %s", name);
                    close_file(f, name);
                }
                Renames_made = 0;
                Rename_file = failing_rename;
                commit_outputs();
                std::exit(0);
            },
            ::testing::ExitedWithCode(c.message ? 1 : 0), c.message ? c.message : "");
        const std::pair<const char *, const char *> files[] = {
            {"table.res", c.table}, {"curve.res", c.curve}, {"curve.res.old", c.kept},
            {"table.res.part", nullptr}, {"curve.res.part", nullptr}, {"table.res.old", nullptr}};
        for (const auto &f : files) {
            EXPECT_EQ(std::filesystem::exists(dir + "/" + f.first), f.second != nullptr) << f.first;
            if (f.second) {
                EXPECT_EQ(read_file(dir + "/" + f.first), f.second) << f.first;
            }
        }
    }
}
