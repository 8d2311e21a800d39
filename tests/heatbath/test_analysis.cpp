// The analysis on series whose answers are known: a Gaussian AR(1) process
// x_{t+1} = rho x_t + sqrt(1 - rho^2) SIGMA xi_t has mean 0, variance SIGMA^2,
// tau_int = (1 + rho)/(2 (1 - rho)), x^2 has tau_int = (1 + rho^2)/(2 (1 - rho^2)),
// the error of the mean is SIGMA sqrt(2 tau_int / N), and <x^4>/<x^2>^2 = 3;
// hand-worked series for the window, the derived quantities and the
// jackknife; the reweighting against its own limits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "heatbath/analysis.h"
#include "heatbath/reweight.h"

namespace {

constexpr long N = 200000;
// Not 1, so that <x^2> = 1 cannot hide a wrong power in U4.
constexpr double SIGMA = 2;
// Relative tolerance of an error bar estimated from one series.
constexpr double ERROR_TOL = 0.2;

std::vector<double> ar1(double rho, long n, std::uint64_t seed)
{
    std::mt19937_64 g(seed);
    std::normal_distribution<double> xi;
    std::vector<double> s(static_cast<std::size_t>(n));
    double x = SIGMA * xi(g);
    for (double &v : s) {
        v = x;
        x = rho * x + std::sqrt(1 - rho * rho) * SIGMA * xi(g);
    }
    return s;
}

// Samples whose every column is the AR(1) series (no lattice in the header).
o1hb::Series ar1_series(double rho, std::uint64_t seed)
{
    o1hb::Series s;
    for (double x : ar1(rho, N, seed)) s.samples.push_back(o1hb::Sample{x, x, x, x, x});
    return s;
}

}  // namespace

TEST(HeatBathAnalysis, RecoversMeanErrorAndTauOfAutoregressiveSeries)
{
    for (double rho : {0.0, 0.8, 0.95}) {
        SCOPED_TRACE(rho);
        const o1hb::Analysis an = o1hb::analyse(ar1_series(rho, 7));
        ASSERT_EQ(an.rows.size(), 6u);  // no chi, chi', xi/L without a lattice
        const o1hb::Estimate &x = an.rows[0], &x2 = an.rows[4], &u4 = an.rows[5];
        const double tau = (1 + rho) / (2 * (1 - rho)), tau2 = (1 + rho * rho) / (2 * (1 - rho * rho));
        const double error = SIGMA * std::sqrt(2 * tau / N);
        EXPECT_NEAR(x.ac.tau, tau, 4 * x.ac.tau_error);
        EXPECT_NEAR(x2.ac.tau, tau2, 4 * x2.ac.tau_error);
        EXPECT_NEAR(x.error / error, 1, ERROR_TOL);
        EXPECT_NEAR(x.mean, 0, 4 * error);
        EXPECT_NEAR(u4.mean, 3, 4 * u4.error);
        // Independent Gaussian samples: U4's fluctuation (x^4 - 6 SIGMA^2 x^2)/SIGMA^4
        // has variance 105 - 180 + 108 - 9 = 24 (312 with the wrong sign).
        if (rho == 0) {
            EXPECT_NEAR(u4.error / std::sqrt(24.0 / N), 1, ERROR_TOL);
        }
    }
}

// Over 20 series the quoted error of the mean must be the true one within
// 3 %: blocks 10 tau_int long quoted 0.95 of it.
TEST(HeatBathAnalysis, QuotedErrorOfTheMeanIsTheTrueOne)
{
    constexpr double rho = 0.9;
    constexpr int K = 20;
    // The variance of the mean of N samples of a stationary AR(1) series.
    const double Nd = static_cast<double>(N);
    const double truth = SIGMA * std::sqrt((Nd * (1 + rho) / (1 - rho) -
                                            2 * rho * (1 - std::pow(rho, Nd)) / ((1 - rho) * (1 - rho))) / (Nd * Nd));
    double ratio = 0, tau = 0;
    for (int k = 0; k < K; ++k) {
        const o1hb::Estimate e = o1hb::mean_estimate("x", ar1(rho, N, 1000 + static_cast<std::uint64_t>(k)));
        ratio += e.error / truth / K;
        tau += e.ac.tau / K;
    }
    EXPECT_GE(ratio, 0.97);
    EXPECT_LE(ratio, 1.03);
    EXPECT_NEAR(tau, 9.5, 0.2);
}

TEST(HeatBathAnalysis, AutocorrelationOfHandWorkedSeries)
{
    struct Case {
        const char *what;
        std::vector<double> a;
        double tau, tau_error;
        long window;
        o1hb::Window status;
    };
    // Gamma(t) = 1, 1/3, -1/4, 0, 1/6, 0: tau(W) = 5/6, 7/12, 7/12, 3/4, 3/4,
    // and W = 5 is the first with W >= 6 tau(W).
    const std::vector<double> worked = {2, 1, -1, 0, 1, 0, 0, -1, -1, -1};
    std::vector<double> ramp(40);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<double>(i);
    for (const Case &c : {
             Case{"worked", worked, 0.75, 0.75 * std::sqrt(2.0 * 11 / 10), 5, o1hb::Window::Found},
             // rho(1) = -1: tau(1) = -1/2.
             Case{"alternating", {1, -1, 1, -1, 1, -1, 1, -1, 1, -1}, 0.5, 0.5 * std::sqrt(2.0 * 3 / 10), 1,
                  o1hb::Window::Clamped},
             Case{"constant", std::vector<double>(1000, 0.1), 0.5, 0, 0, o1hb::Window::Constant},
             Case{"large constant", std::vector<double>(999, -12345.678), 0.5, 0, 0, o1hb::Window::Constant},
             Case{"ramp", ramp, -1, -1, 20, o1hb::Window::NotFound},
         }) {
        SCOPED_TRACE(c.what);
        const o1hb::Autocorrelation r = o1hb::autocorrelation(c.a);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.window, c.window);
        if (c.tau < 0) continue;
        EXPECT_NEAR(r.tau, c.tau, 1e-14);
        EXPECT_NEAR(r.tau_error, c.tau_error, 1e-14);
        const o1hb::Estimate e = o1hb::mean_estimate("a", c.a);
        EXPECT_NEAR(e.error, std::sqrt(r.variance * 2 * c.tau / static_cast<double>(c.a.size())), 1e-14);
        if (c.status == o1hb::Window::Constant) {
            EXPECT_EQ(e.error, 0);
        }
    }
}

TEST(HeatBathAnalysis, DerivedQuantitiesOfHandWorkedSeries)
{
    // d = 2, L = 4, V = 16; m cycles through 1/4, -1/4, 3/4, -3/4 and F = 5/2:
    // <m^2> = 5/16, <|m|> = 1/2, <m^4> = 41/256, so chi = 5, chi' = 1,
    // U4 = 1.64 and chi/<F> = 2, xi = 1/(2 sin(pi/4)), xi/L = 1/(4 sqrt 2).
    o1hb::Series s;
    s.d = 2;
    s.L = 4;
    s.has_F = true;
    for (int i = 0; i < 40; ++i) {
        const double m[] = {0.25, -0.25, 0.75, -0.75};
        s.samples.push_back(o1hb::Sample{m[i % 4], 1, 1, 1, 2.5});
    }
    o1hb::Analysis an = o1hb::analyse(s);
    ASSERT_EQ(an.rows.size(), 9u);
    const struct {
        const char *name;
        double value;
    } expected[] = {{"chi", 5}, {"chi'", 1}, {"U4", 1.64}, {"xi/L", 1 / (4 * std::sqrt(2.0))}};
    for (const auto &x : expected) {
        const o1hb::Estimate *e = o1hb::find_row(an, x.name);
        ASSERT_TRUE(e) << x.name;
        EXPECT_TRUE(e->undefined.empty()) << x.name;
        EXPECT_NEAR(e->mean, x.value, 1e-14 * x.value) << x.name;
    }

    // m = 0 throughout: U4 and xi do not exist.
    for (o1hb::Sample &x : s.samples) x.m = 0;
    an = o1hb::analyse(s);
    EXPECT_EQ(o1hb::find_row(an, "U4")->undefined, "<m^2> = 0");
    EXPECT_EQ(o1hb::find_row(an, "xi/L")->undefined, "chi/<F> < 1");
    EXPECT_EQ(o1hb::find_row(an, "|m|")->ac.status, o1hb::Window::Constant);
}

// 41 samples in blocks of 2: the jackknife takes the last 40, whose blocks of
// m = 1 and m = 2 alternate (block means of m^2 1 and 4), and leaves the
// first, m = 10, to the value only: <m^2> = (100 + 20 + 80)/41 with the
// jackknife error sqrt(sum (b - <b>)^2 / (nb (nb - 1))) = sqrt(45/380).
TEST(HeatBathAnalysis, JackknifeTakesTheLastBlocks)
{
    o1hb::Series s;
    s.d = 2;
    s.L = 4;
    s.beta = 0.5;
    s.samples.push_back(o1hb::Sample{10, 0, 0, 0, 0});
    for (int i = 0; i < 40; ++i) s.samples.push_back(o1hb::Sample{i / 2 % 2 == 0 ? 1.0 : 2.0, 0, 0, 0, 0});
    for (double beta : {0.5, 0.7}) {  // E = 0: every weight is 1
        const o1hb::ReweightPoint p = o1hb::reweight_at(s, beta, o1hb::Blocks{2, 20});
        EXPECT_NEAR(p.m2.value, 200.0 / 41, 1e-14);
        EXPECT_NEAR(p.m2.error, std::sqrt(45.0 / 380), 1e-14);
    }
}

TEST(HeatBathAnalysis, ReweightingAtBetaZeroIsTheMeanAndItsSlopeTheDerivative)
{
    // Fluctuations of m, E and F correlated as in a run: d = 3, L = 4.
    o1hb::Series s;
    s.d = 3;
    s.L = 4;
    s.beta = 0.375;
    s.has_F = true;
    std::mt19937_64 g(3);
    std::normal_distribution<double> xi;
    for (int i = 0; i < 4000; ++i) {
        const double m = 0.3 * xi(g), e = 0.7 + 0.05 * m * m + 0.01 * xi(g);
        s.samples.push_back(o1hb::Sample{m, 0.6, e, 0.4, 0.5 * 64 * m * m + 0.2 + 0.1 * std::fabs(xi(g))});
    }
    const o1hb::Analysis an = o1hb::analyse(s);
    const o1hb::Reweighting r = o1hb::reweight(s, an.tau_max, o1hb::ReweightRange{s.beta, 0.385, 2});
    const o1hb::ReweightPoint &p = r.points[0];
    EXPECT_EQ(p.beta, s.beta);
    EXPECT_EQ(p.n_eff, 4000);
    const struct {
        o1hb::Jackknifed rw;
        const char *name;
    } same[] = {{p.U4, "U4"}, {p.m2, "m^2"}, {p.chi, "chi"}, {p.xi, "xi/L"}};
    for (const auto &x : same) EXPECT_EQ(x.rw.value, o1hb::find_row(an, x.name)->mean) << x.name;

    // The reweighting is exact for this sample: its slope at beta_0 is the derivative.
    constexpr double delta = 1e-6;
    const o1hb::ReweightPoint up = o1hb::reweight_at(s, s.beta + delta, r.blocks),
                              down = o1hb::reweight_at(s, s.beta - delta, r.blocks);
    EXPECT_NEAR((up.U4.value - down.U4.value) / (2 * delta), r.dU4.value, 1e-5 * std::fabs(r.dU4.value));
    EXPECT_NEAR((up.xi.value - down.xi.value) / (2 * delta), r.dxi.value, 1e-5 * std::fabs(r.dxi.value));
    EXPECT_GT(r.dU4.error, 0);
    EXPECT_GT(r.dxi.error, 0);

    // Far away the weights would overflow without logarithms; the point is flagged.
    const o1hb::ReweightPoint far = o1hb::reweight_at(s, s.beta + 200, r.blocks);
    EXPECT_TRUE(std::isfinite(far.U4.value) && std::isfinite(far.U4.error));
    EXPECT_TRUE(far.too_wide);
    EXPECT_FALSE(r.points[1].too_wide);
}
