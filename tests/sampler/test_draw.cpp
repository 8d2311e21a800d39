// Draws of the reference sampler against the exact law of the weight: the
// same distribution whatever the generator, for both signs of the field and
// by the fallback beyond the table; the C++ entry points agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <gsl/gsl_cdf.h>

#include "check.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

namespace {

constexpr double H_TEST = 2.5;  // inside [H0, H_max) = [0, 5)
constexpr int BODY_BINS = 40;   // equiprobable bins between the tail anchors
constexpr int TAIL_BINS = 4;    // equiprobable bins beyond each anchor
constexpr double P_MIN = 1e-4;  // a p-value below it fails

// p-value of the chi-square of n draws of draw() against the exact law at h,
// on bins equiprobable within three regions: beyond the left anchor lo,
// between the anchors, beyond the right anchor hi.  So draws misplaced within
// a tail or across an anchor show, however little mass the tails have.  A
// tail expecting fewer than MIN_COUNT draws per bin joins its neighbour.
template <class Draw>
double chi2_p(const o1check::ExactLaw &law, double lo, double hi, long n, Draw draw)
{
    constexpr double MIN_COUNT = 5;
    const double F[4] = {0, law.cdf(lo), law.cdf(hi), 1};
    std::vector<double> start;  // cumulative probability where each bin starts
    for (int r = 0; r < 3; ++r) {
        const int bins = r == 1 ? BODY_BINS : static_cast<double>(n) * (F[r + 1] - F[r]) >= MIN_COUNT * TAIL_BINS ? TAIL_BINS : 0;
        for (int k = 0; k < bins; ++k) start.push_back(F[r] + (F[r + 1] - F[r]) * k / bins);
    }
    start.front() = 0;
    std::vector<double> edge, prob;
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (i > 0) edge.push_back(law.quantile(start[i]));
        prob.push_back((i + 1 < start.size() ? start[i + 1] : 1.0) - start[i]);
    }
    std::vector<long> c(prob.size(), 0);
    for (long i = 0; i < n; ++i) ++c[static_cast<std::size_t>(std::upper_bound(edge.begin(), edge.end(), draw()) - edge.begin())];
    double chi2 = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const double e = static_cast<double>(n) * prob[i];
        chi2 += (static_cast<double>(c[i]) - e) * (static_cast<double>(c[i]) - e) / e;
    }
    return gsl_cdf_chisq_Q(chi2, static_cast<double>(c.size() - 1));
}

// The same for the table's draws at h, with the anchors of the histogram
// serving h (mirrored for a negative h).
template <class URBG>
double table_chi2_p(const o1phi4::Sampler &s, double h, long n, URBG &g)
{
    const o1phi4::Block &b = s.table().blocks[static_cast<std::size_t>(s.histogram(h))];
    const o1check::ExactLaw law(h, b.X_max, s.landa());
    const double lo = h < 0 ? -b.p.back() : b.p.front(), hi = h < 0 ? -b.p.front() : b.p.back();
    return chi2_p(law, lo, hi, n, [&] { return s(h, g); });
}

}  // namespace

TEST(SamplerDraw, DrawsFollowTheExactWeightWithAnyGenerator)
{
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h5")), 1.0);
    o1phi4::Xoshiro256ss x(11);
    std::mt19937 m32(12);      // 32-bit words: two per 64 bits
    std::minstd_rand lcg(13);  // a range that is no power of two
    EXPECT_GT(table_chi2_p(s, H_TEST, 200000, x), P_MIN);
    EXPECT_GT(table_chi2_p(s, H_TEST, 100000, m32), P_MIN);
    EXPECT_GT(table_chi2_p(s, H_TEST, 50000, lcg), P_MIN);
}

TEST(SamplerDraw, BothSignsFollowTheExactWeight)
{
    const struct {
        const char *table;
        double h;
    } cases[] = {{"h5", -H_TEST}, {"h5", -0.01}, {"h200", 150.0}, {"h200", -150.0}, {"h200", -37.3}};
    for (const auto &c : cases) {
        const o1phi4::Sampler s(o1phi4::load_table(table_path(c.table)), 1.0);
        o1phi4::Xoshiro256ss g(21);
        EXPECT_GT(table_chi2_p(s, c.h, 200000, g), P_MIN) << c.table << " h=" << c.h;
    }
}

// The fallback, alone or behind the table, at field values the table does
// not serve, for Landa from a Gaussian weight to a strongly bimodal one.
TEST(SamplerDraw, FallbackFollowsTheExactWeightWhereTheTableServesNothing)
{
    const o1phi4::Table t = o1phi4::load_table(table_path("h5"));
    const struct {
        double landa, h;
    } cases[] = {{1.0, 7.5}, {1.0, -7.5}, {1.0, 300.0}, {1.0, 0.0}, {0.0, 3.0}, {0.3, -1.0}, {0.5, 0.0}, {4.0, 0.5}};
    for (const auto &c : cases) {
        o1phi4::SamplerOptions o;
        o.fallback = true;
        const o1phi4::Sampler s(t, c.landa, o);
        o1phi4::Xoshiro256ss g(31);
        const o1check::ExactLaw law(c.h, 0.0, c.landa);
        o1phi4::DrawStats st;
        // Field values the table serves go through the fallback directly.
        const bool served = std::fabs(c.h) < s.H_max();
        const double p = chi2_p(law, law.quantile(0.01), law.quantile(0.99), 200000,
                                [&] { return served ? s.draw_fallback(c.h, g, st.trials) : s.draw(c.h, g, st); });
        EXPECT_GT(p, P_MIN) << "Landa=" << c.landa << " h=" << c.h;
        EXPECT_EQ(st.fallback, served ? 0u : 200000u);
        EXPECT_LT(st.trials, 200000u * 4) << "Landa=" << c.landa << " h=" << c.h;
    }
}

TEST(SamplerDraw, EntryPointsAgreeAndCountTrials)
{
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h5")), 1.0);
    o1phi4::Xoshiro256ss a(5), b(5), c(5), d(5);
    std::vector<double> batch(1000);
    const std::uint64_t trials = s.draw_n(H_TEST, a, batch.data(), batch.size());
    std::uint64_t counted = 0;
    o1phi4::DrawStats st;
    for (double v : batch) {
        EXPECT_EQ(s.draw(H_TEST, b, counted), v);
        EXPECT_EQ(s(H_TEST, c), v);
        // The mirror draws the same numbers with the sign flipped.
        EXPECT_EQ(s.draw(-H_TEST, d, st), -v);
    }
    EXPECT_EQ(counted, trials);
    EXPECT_EQ(st.trials, trials);
    EXPECT_GE(trials, batch.size());
    EXPECT_LT(trials, 2 * batch.size());
}
