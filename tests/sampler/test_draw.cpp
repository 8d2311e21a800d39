// Draws of the reference sampler against the exact law of the weight: the
// same distribution whatever the generator, for both signs of the field and
// by the fallback beyond the table; the C++ entry points agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
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
    } cases[] = {{1.0, 7.5}, {1.0, -7.5}, {1.0, 300.0}, {1.0, 1e6}, {1e4, -1e6}, {1.0, 0.0}, {0.0, 3.0}, {0.3, -1.0}, {0.5, 0.0},
                 {4.0, 0.5}};
    for (const auto &c : cases) {
        o1phi4::SamplerOptions o;
        o.fallback = true;
        o.check = false;  // the table is made for Landa 1; only the fallback draws
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

// Large field values, where the weight is close to a Gaussian at its mode of
// width 1/sqrt(-E'') (E the exponent), and from |h| of some 1e24 on (Landa
// 1) narrower than the spacing of doubles there: every draw lies within six
// widths and two units in the last place of the mode.  611 field values
// from 1e20 to the largest double, for Landa from 0.3 to 1e4, each drawn at
// an acceptance above one half.
TEST(SamplerDraw, FallbackDrawsEveryFiniteFieldValue)
{
    const o1phi4::Table t = o1phi4::load_table(table_path("h5"));
    for (const double landa : {0.3, 1.0, 1e4}) {
        o1phi4::SamplerOptions o;
        o.fallback = true;
        o.check = false;
        const o1phi4::Sampler s(t, landa, o);
        o1phi4::Xoshiro256ss g(51);
        std::uint64_t trials = 0;
        long draws = 0, off = 0;
        for (int i = 0; i <= 610; ++i) {
            const double h = i == 610 ? std::numeric_limits<double>::max() : std::pow(10.0, 20 + 0.47 * i) * (i % 2 ? -1 : 1);
            // The mode of |h| in long double: the zero of 4Lx^3 + 2(1 - 2L)x - |h| right of the cube root.
            const long double L = landa, a = std::fabs(h);
            long double x = 1 + std::cbrt(a / (4 * L));
            for (int k = 0; k < 200; ++k) x -= (4 * L * x * x * x + 2 * (1 - 2 * L) * x - a) / (12 * L * x * x + 2 * (1 - 2 * L));
            const long double width = 1 / std::sqrt(2 + 4 * L * (3 * x * x - 1));
            for (int k = 0; k < 3; ++k, ++draws) {
                const double v = s.draw_fallback(h, g, trials);
                const bool near = std::fabs(std::fabs(static_cast<long double>(v)) - x) <= 6 * width + 2 * x * 0x1p-52L && (v < 0) == (h < 0);
                off += !near;
            }
        }
        EXPECT_EQ(off, 0) << "Landa " << landa << ": draws further from the mode";
        EXPECT_LT(trials, 2u * static_cast<std::uint64_t>(draws)) << "Landa " << landa;
    }
}

// A field value below the table's range is drawn through its mirror -h when
// the table serves -h, whatever H0: which histogram serves it, or why none.
TEST(SamplerDraw, NegativeFieldValuesAreServedThroughTheirMirror)
{
    const o1phi4::Table h5 = o1phi4::load_table(table_path("h5"));
    const int at2 = o1phi4::Sampler(h5, 1.0).histogram(2.0);
    const struct {
        double H0, h;
        int m;                      // expected histogram, -1 when refused ...
        o1phi4::FieldError::Kind kind;  // ... for this reason
    } cases[] = {
        {0.0, -2.0, at2, {}},
        {0.0, -5.0, -1, o1phi4::FieldError::AboveHmax},
        {0.0, -INFINITY, -1, o1phi4::FieldError::AboveHmax},
        {2.0, -2.0, at2, {}},
        {2.0, -1.0, -1, o1phi4::FieldError::BelowH0},   // |h| below H0
        {2.0, -0.0, -1, o1phi4::FieldError::BelowH0},
        {-1.0, -2.0, at2, {}},                           // below H0: mirrored
        {-1.0, -0.5, -1, o1phi4::FieldError::MissingIndex},  // in [H0, H_max): as it is, index -12
    };
    o1phi4::Xoshiro256ss g(41);
    for (const auto &c : cases) {
        o1phi4::Table t = h5;
        t.H0 = c.H0;
        const o1phi4::Sampler s(t, 1.0);
        if (c.m >= 0) {
            EXPECT_EQ(s.histogram(c.h), c.m) << "H0=" << c.H0 << " h=" << c.h;
            EXPECT_LT(s(c.h, g), 0.5) << "H0=" << c.H0 << " h=" << c.h;  // the weight at -2 lies left of 0.5
            continue;
        }
        try {
            s(c.h, g);
            ADD_FAILURE() << "drew at H0=" << c.H0 << " h=" << c.h;
        } catch (const o1phi4::FieldError &e) {
            EXPECT_EQ(e.kind(), c.kind) << "H0=" << c.H0 << " h=" << c.h << ": " << e.what();
        }
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

namespace {

// Field index of h by the C line as the user's program computes it, looked
// up in the index table: the histogram, or -1 when the table lacks the index.
int c_line_histogram(const o1phi4::Table &t, double h)
{
    for (const o1phi4::FieldInterval &f : t.c_map)
        if (h < f.upper) {
            const long j = f.offset + static_cast<long>(h / f.step);
            const auto it = std::lower_bound(t.index_j.begin(), t.index_j.end(), j);
            return it != t.index_j.end() && *it == j ? t.index_m[static_cast<std::size_t>(it - t.index_j.begin())] : -1;
        }
    return -1;
}

// Field values on and around every cell boundary of the field-index map
// (the products q*step, a few units in the last place either side) and in
// the middle of every cell.
std::vector<double> boundary_field_values(const o1phi4::Table &t)
{
    std::vector<double> h;
    double lower = t.H0;
    for (const o1phi4::FieldInterval &f : t.c_map) {
        for (double q = std::floor(lower / f.step); q * f.step <= f.upper; ++q) {
            double b = q * f.step;
            for (int i = 0; i < 3; ++i) b = std::nextafter(b, -INFINITY);
            for (int i = 0; i < 7; ++i, b = std::nextafter(b, INFINITY)) h.push_back(b);
            h.push_back((q + 0.5) * f.step);
        }
        lower = f.upper;
    }
    std::vector<double> in;
    for (double v : h)
        if (v >= t.H0 && v < t.H_max) in.push_back(v);
    return in;
}

}  // namespace

// The sampler finds the field index by a product with 1/step where it can;
// it must agree with the C line's (int)(h/step) everywhere, boundaries
// included, for both signs of h.
TEST(SamplerDraw, FieldIndexIsTheCLinesTruncatedQuotient)
{
    for (const char *name : {"h5", "h200"}) {
        const o1phi4::Table t = o1phi4::load_table(table_path(name));
        const o1phi4::Sampler s(t, 1.0);
        long differ = 0, checked = 0;  // field values where the product's integer part differs
        for (double h : boundary_field_values(t)) {
            for (const o1phi4::FieldInterval &f : t.c_map)
                if (h < f.upper) {
                    differ += static_cast<long>(h * (1 / f.step)) != static_cast<long>(h / f.step);
                    break;
                }
            const int want = c_line_histogram(t, h);
            int m = -1, mirrored = -1;
            s.try_histogram(h, m);
            if (h > 0) s.try_histogram(-h, mirrored);
            EXPECT_EQ(m, want) << name << std::hexfloat << " h=" << h;
            if (h > 0) {
                EXPECT_EQ(mirrored, want) << name << std::hexfloat << " h=-" << h;
            }
            ++checked;
        }
        EXPECT_GT(differ, 0) << name << ": no field value where the product and the quotient differ";
        EXPECT_GT(checked, 100) << name;
    }
}

// The bounds that let a draw accept or reject without the exponential must
// hold at every field value that reaches the histogram: on both sides of
// every cell boundary of the map, for every step, across the step.
TEST(SamplerDraw, StepBoundsHoldWhereverTheFieldValueLies)
{
    constexpr int X_POINTS = 9;        // per step, both ends included
    constexpr double TOLERANCE = 1e-12;  // relative rounding of the weight
    for (const char *name : {"h5", "h200"}) {
        const o1phi4::Table t = o1phi4::load_table(table_path(name));
        const o1phi4::Sampler s(t, 1.0);
        long violations = 0;
        double lower_sum = 0;
        long n = 0;
        for (double h : boundary_field_values(t)) {
            int m;
            if (!s.try_histogram(h, m)) continue;
            const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
            for (int k = 1; k + 1 < t.nd_poi; ++k) {
                double lower, upper;
                s.step_bounds(m, h, k, lower, upper);
                const double w = b.p[static_cast<std::size_t>(k) + 1] - b.p[static_cast<std::size_t>(k)];
                for (int i = 0; i < X_POINTS; ++i) {
                    const double x = b.p[static_cast<std::size_t>(k)] + w * i / (X_POINTS - 1);
                    const double ratio = o1phi4::weight(h, b.X_max, 1.0, x) * w / b.a;
                    if (ratio < lower * (1 - TOLERANCE) || ratio > upper * (1 + TOLERANCE)) {
                        if (++violations <= 5)
                            ADD_FAILURE() << name << std::hexfloat << " h=" << h << " histogram " << m << " step " << k
                                          << std::defaultfloat << " x=" << x << ": ratio " << ratio << " outside [" << lower
                                          << ", " << upper << "]";
                    }
                }
                lower_sum += lower;
                ++n;
            }
        }
        EXPECT_EQ(violations, 0) << name;
        // Bounds that decide nothing would pass the above; these decide most
        // proposals.
        EXPECT_GT(lower_sum / static_cast<double>(n), 0.5) << name;
    }
}

namespace {

// A generator that returns the given words in turn.
struct Scripted {
    using result_type = std::uint64_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return ~result_type(0); }
    std::vector<std::uint64_t> words;
    std::size_t next = 0;
    result_type operator()() { return words.at(next++); }
};

}  // namespace

// On a step the draw decides most proposals by the top 8 bits of v against
// stored bounds of weight/height (below the lower one: accepted; above the
// upper one: rejected) and the rest by the exact test v*a < width*weight.
// With one trial a draw accepts its one proposal or gives up: proposals at
// both ends of every step, with v in the 256th of either bound on the far
// side of weight/height, must be decided as the exact test decides them.
TEST(SamplerDraw, EachProposalOnAStepIsDecidedAsTheExactTestDecidesIt)
{
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h5")), 1.0, 1);
    const int m = s.histogram(H_TEST), nd = s.nd_poi();
    const o1phi4::Block &b = s.table().blocks[static_cast<std::size_t>(m)];
    int decided[2] = {0, 0};  // cases at the lower bound, at the upper one
    for (int k = 1; k + 1 < nd; ++k) {
        double lower, upper;
        s.step_bounds(m, H_TEST, k, lower, upper);
        const double left = b.p[static_cast<std::size_t>(k)], width = b.p[static_cast<std::size_t>(k) + 1] - left;
        for (const bool right_end : {false, true}) {
            // The first word picks step k and the position in it:
            // floor(nd*r/2^64) = k, the low word of the product the position.
            const unsigned __int128 target = (static_cast<unsigned __int128>(k) << 64) + (right_end ? ~std::uint64_t(0) : 0);
            const std::uint64_t r = static_cast<std::uint64_t>(right_end ? target / nd : (target + nd - 1) / nd);
            std::uint64_t low;
            ASSERT_EQ(o1phi4::detail::piece(r, nd, low), k);
            const double x = left + o1phi4::detail::unit(low) * width;
            const double ratio = width * o1phi4::weight(H_TEST, b.X_max, 1.0, x) / b.a;
            // v just above the ratio in the 256th of the lower bound, just
            // below it in the 256th of the upper bound.
            const double windows[2][2] = {{ratio, lower + 1.0 / 256}, {upper - 1.0 / 256, ratio}};
            const double top[2] = {lower * 256, upper * 256 - 1};
            for (int w = 0; w < 2; ++w) {
                Scripted g{{r, static_cast<std::uint64_t>(std::ldexp(0.5 * (windows[w][0] + windows[w][1]), 53)) << 11}};
                const double v = o1phi4::detail::unit(g.words[1]);
                if (!(v > windows[w][0] && v < windows[w][1]) || static_cast<double>(g.words[1] >> 56) != top[w]) continue;
                const bool exact = v * b.a < width * o1phi4::weight(H_TEST, b.X_max, 1.0, x);
                bool accepted;
                try {
                    accepted = s(H_TEST, g) == x;
                } catch (const std::runtime_error &) {
                    accepted = false;
                }
                EXPECT_EQ(accepted, exact) << "step " << k << (right_end ? " right" : " left") << " end, v=" << v << ", ratio "
                                           << ratio << ", bounds [" << lower << ", " << upper << ")";
                ++decided[w];
            }
        }
    }
    EXPECT_GT(decided[0], 10);
    EXPECT_GT(decided[1], 10);
}
