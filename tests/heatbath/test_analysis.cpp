// The analysis on series whose answers are known: a Gaussian AR(1) process
// x_{t+1} = rho x_t + sqrt(1 - rho^2) SIGMA xi_t has mean 0, variance SIGMA^2,
// tau_int = (1 + rho)/(2 (1 - rho)), x^2 has tau_int = (1 + rho^2)/(2 (1 - rho^2)),
// the error of the mean is SIGMA sqrt(2 tau_int / N), and <x^4>/<x^2>^2 = 3.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "heatbath/analysis.h"

namespace {

constexpr long N = 200000;
// Not 1, so that <x^2> = 1 cannot hide a wrong power in U4.
constexpr double SIGMA = 2;
// Relative tolerance of an error bar estimated from 20 or more blocks.
constexpr double ERROR_TOL = 0.2;

std::vector<o1hb::Sample> ar1(double rho, std::uint64_t seed)
{
    std::mt19937_64 g(seed);
    std::normal_distribution<double> xi;
    std::vector<o1hb::Sample> s(N);
    double x = SIGMA * xi(g);
    for (o1hb::Sample &v : s) {
        v = o1hb::Sample{x, x, x, x};
        x = rho * x + std::sqrt(1 - rho * rho) * SIGMA * xi(g);
    }
    return s;
}

}  // namespace

TEST(HeatBathAnalysis, RecoversMeanErrorAndTauOfAutoregressiveSeries)
{
    for (double rho : {0.0, 0.8, 0.95}) {
        SCOPED_TRACE(rho);
        const o1hb::Analysis an = o1hb::analyse(ar1(rho, 7));
        ASSERT_EQ(an.rows.size(), 6u);
        const o1hb::Estimate &x = an.rows[0], &x2 = an.rows[4], &u4 = an.rows[5];
        const double tau = (1 + rho) / (2 * (1 - rho)), tau2 = (1 + rho * rho) / (2 * (1 - rho * rho));
        const double error = SIGMA * std::sqrt(2 * tau / N);
        EXPECT_NEAR(x.ac.tau, tau, 4 * x.ac.tau_error);
        EXPECT_NEAR(x2.ac.tau, tau2, 4 * x2.ac.tau_error);
        EXPECT_NEAR(x.error / error, 1, ERROR_TOL);
        EXPECT_NEAR(x.mean, 0, 4 * error);
        EXPECT_NEAR(u4.mean, 3, 4 * u4.error);
        EXPECT_FALSE(an.short_run);
        EXPECT_GE(an.blocks, o1hb::MIN_BLOCKS);
    }
}
