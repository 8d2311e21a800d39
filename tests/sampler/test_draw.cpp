// Draws of the reference sampler against the exact law of the weight: the
// same distribution whatever the generator, and the C++ entry points agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <gsl/gsl_cdf.h>

#include "check.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

namespace {

constexpr double H_TEST = 2.5;  // inside [H0, H_max) = [0, 5)
constexpr int BINS = 50;

// p-value of the chi-square of n draws from s at h on equiprobable bins.
template <class URBG>
double chi2_p(const o1phi4::Sampler &s, double h, long n, URBG &g)
{
    const o1check::ExactLaw law(h, s.table().blocks[static_cast<std::size_t>(s.histogram(h))].X_max, s.landa());
    std::vector<double> q;
    for (int k = 1; k < BINS; ++k) q.push_back(law.quantile(static_cast<double>(k) / BINS));
    std::vector<long> c(BINS, 0);
    for (long i = 0; i < n; ++i) ++c[static_cast<std::size_t>(std::upper_bound(q.begin(), q.end(), s(h, g)) - q.begin())];
    double chi2 = 0;
    const double e = static_cast<double>(n) / BINS;
    for (long v : c) chi2 += (v - e) * (v - e) / e;
    return gsl_cdf_chisq_Q(chi2, BINS - 1);
}

}  // namespace

TEST(SamplerDraw, DrawsFollowTheExactWeightWithAnyGenerator)
{
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h5")), 1.0);
    o1phi4::Xoshiro256ss x(11);
    std::mt19937 m32(12);      // 32-bit words: two per 64 bits
    std::minstd_rand lcg(13);  // a range that is no power of two
    EXPECT_GT(chi2_p(s, H_TEST, 200000, x), 1e-4);
    EXPECT_GT(chi2_p(s, H_TEST, 100000, m32), 1e-4);
    EXPECT_GT(chi2_p(s, H_TEST, 50000, lcg), 1e-4);
}

TEST(SamplerDraw, EntryPointsAgreeAndCountTrials)
{
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h5")), 1.0);
    o1phi4::Xoshiro256ss a(5), b(5), c(5);
    std::vector<double> batch(1000);
    const std::uint64_t trials = s.draw_n(H_TEST, a, batch.data(), batch.size());
    std::uint64_t counted = 0;
    for (double v : batch) {
        EXPECT_EQ(s.draw(H_TEST, b, counted), v);
        EXPECT_EQ(s(H_TEST, c), v);
    }
    EXPECT_EQ(counted, trials);
    EXPECT_GE(trials, batch.size());
    EXPECT_LT(trials, 2 * batch.size());
}
