// Set-up of the sampler: the dense field-index lookup, the tails in the form
// the draw uses, the edges of the steps and, per sub-range of the field
// values that reach a histogram, bounds of the acceptance probability over
// each step; the tests that need the exponential; the envelope of the
// fallback; the messages of field values the table does not serve.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "sampler/sampler.h"
#include "sampler/table_check.h"

namespace o1phi4 {

namespace {

// The index table may have gaps; a lookup array spanning more than this many
// field indices per entry (plus a constant) means a damaged table.
constexpr long INDEX_SPAN_PER_ENTRY = 8;
constexpr long INDEX_SPAN_EXTRA = 1024;
// The bounds of weight/height over a step are widened by this relative margin
// so that rounding in the exponent never puts the weight outside them.
constexpr double BOUND_MARGIN = 1e-9;
// Resolution of the stored bounds: 256ths, compared with the top 8 bits of v.
constexpr double BOUND_SCALE = 256;
// Over a sub-range of field values of width W the weight at x changes by the
// factor exp(W*|x - X_max|); sub-ranges are cut so that this factor stays
// below exp(SUB_RANGE_SPREAD) over the steps, ...
constexpr double SUB_RANGE_SPREAD = 0.1;
// ... but no histogram has more than MAX_SUB_RANGES of them, and all bounds
// together stay below BOUNDS_BUDGET entries (2 bytes each) beyond one
// sub-range per histogram.
constexpr double MAX_SUB_RANGES = 32;
constexpr double BOUNDS_BUDGET = 4194304;
// Distance from an integer, relative to the largest quotient h/step, within
// which the field index is computed by division rather than by the product
// with 1/step (16 times the largest difference of the two, which covers the
// rounding of the test as well).
constexpr double NEAR_INTEGER = 0x1p-49;
// Field values reaching a histogram may lie outside the cells of its field
// indices by the rounding of h/step, and a sub-range index by the rounding of
// its product: both are far below this margin relative to the field values.
constexpr double RANGE_PAD = 1e-12;
// Newton steps for the fallback's envelope (it converges in about ten; the
// limit only guards against a start far from the root).
constexpr int ENVELOPE_STEPS = 200;
// Relative change of k at which Newton's method has converged (rounding
// keeps it from reaching 0).
constexpr double ENVELOPE_TOL = 1e-14;
// Steps of the safeguarded Newton search for the weight's mode (enough to
// bisect to adjacent doubles from any bracket; Newton takes a few).
constexpr int MODE_STEPS = 2200;
// Relative widening of a bound of the mode computed with cube roots, which
// are good to a few units in the last place.
constexpr double MODE_BOUND_SLACK = 0x1p-40;
// The fallback's Gaussian is centred at the mode T where the weight's
// curvature at T is at most this many times the Gaussian's (which keeps the
// acceptance above about 1/sqrt(8) and the field value the draw is exact
// for within a few units in the last place of h) ...
constexpr double CENTRED_CURVATURE = 8;
// ... and the mean of Landa*d^4 under the Gaussian (d = x - T), 3L/(4k^2),
// at most this (the quartic term then thins the acceptance little).
constexpr double CENTRED_QUARTIC = 1;

// The stationary points of the exponent at field value h: where its largest
// and smallest values over a step lie when not at an end.
struct Stationary {
    double h;
    double x[3];
    int n;
};
Stationary stationary_at(double landa, double h)
{
    Stationary s{h, {0, 0, 0}, 0};
    s.n = stationary_points(landa, h, s.x);
    return s;
}

// Bounds of the acceptance probability weight*(x1 - x0)/a of a proposal x on
// the step [x0, x1] (height a/(x1 - x0)) of a histogram with the shift X_max,
// over every field value h in [s0.h, s1.h] and every x in the step:
// lower <= weight(h, X_max, landa, x)*(x1 - x0)/a <= upper, each widened by
// BOUND_MARGIN so that the rounding of the exponent in a draw never puts the
// acceptance outside them.  The weight at a fixed x is log-linear in h, so
// its extremes lie at either end of the range; at a fixed h, at x0, x1 or a
// stationary point of the exponent between them.  Either is NaN where the
// exponent is (at a position so far out that it overflows).
void acceptance_bounds(double landa, double X_max, double a, double x0, double x1, const Stationary &s0, const Stationary &s1,
                       double &lower, double &upper)
{
    double e_lo = INFINITY, e_hi = -INFINITY;
    for (const Stationary *s : {&s0, &s1}) {
        const double ends[2] = {log_weight(s->h, X_max, landa, x0), log_weight(s->h, X_max, landa, x1)};
        for (const double e : ends) {
            e_lo = std::fmin(e_lo, e);
            e_hi = std::fmax(e_hi, e);
        }
        for (int i = 0; i < s->n; ++i) {
            if (!(s->x[i] > x0 && s->x[i] < x1)) continue;
            const double e = log_weight(s->h, X_max, landa, s->x[i]);
            e_lo = std::fmin(e_lo, e);
            e_hi = std::fmax(e_hi, e);
        }
    }
    const double w = x1 - x0;
    lower = std::exp(e_lo) * w / a * (1 - BOUND_MARGIN);
    upper = std::exp(e_hi) * w / a * (1 + BOUND_MARGIN);
}

// k(x) = 1 + 2L(x*x - 1), the Gaussian's k whose envelope touches the
// weight at x, with x*x - 1 as (x - 1)(x + 1): no cancellation near 1 and no
// overflow of x*x where 2L*x*x is finite.
double touching_k(double L, double x) { return 1 + (2 * L * (x - 1)) * (x + 1); }

// The field value from which the fallback's Gaussian is centred at the mode
// T (for L > 0): both conditions hold for every T above a bound, and the
// mode grows with h.  q(T) <= CENTRED_CURVATURE*k(T), with the curvature
// 2q(T) = 2(k(T) + 4L*T*T), for L > 1/2 from T*T = (14L - 7)/(10L) on (for
// L <= 1/2 always: q <= 3k); 3L/(4k(T)^2) <= CENTRED_QUARTIC from
// k(T) = sqrt(3L/(4*CENTRED_QUARTIC)) on.  At the larger bound,
// h = 2T*k(T): 1.67 for L = 1, 1.9e4 for L = 1e4.
double centred_from(double L)
{
    const double k_min = std::sqrt(3 * L / (4 * CENTRED_QUARTIC));
    const double curvature = (2 * CENTRED_CURVATURE - 2) * L - (CENTRED_CURVATURE - 1);
    const double tt = std::fmax(std::fmax(curvature / ((2 * CENTRED_CURVATURE - 6) * L), 1 + (k_min - 1) / (2 * L)), 0.0);
    return 2 * std::sqrt(tt) * std::fmax(1 + 2 * L * (tt - 1), k_min);
}

// The right mode of the weight at field value h > 0 for L > 0: the zero of
// psi(x) = k(x) - h/(2x), where the slope h - 2x*k(x) of the exponent
// vanishes.  psi rises on x > 0 (psi' = 4Lx + h/(2x^2)) from -infinity, so
// the zero is unique; it lies below both max(1, h/2) and
// 1 + cbrt(h/(4L)), where psi >= 0 (the second widened by MODE_BOUND_SLACK
// against the rounding of the cube roots).  Newton's method inside the
// bracket, bisecting when a step leaves it, ends within a unit or so in the
// last place of the mode.
// Not stationary_points (weight.h): the two agree to a unit or so in the
// last place, not to the bit, and the fallback's draws follow every bit of
// the mode.
double right_mode(double L, double h)
{
    double lo = 0, hi = std::fmin(std::fmax(1.0, h / 2), (1 + std::cbrt(h) / std::cbrt(4 * L)) * (1 + MODE_BOUND_SLACK));
    double x = hi;
    for (int i = 0; i < MODE_STEPS; ++i) {
        const double psi = touching_k(L, x) - h / (2 * x);
        if (psi == 0) break;
        (psi < 0 ? lo : hi) = x;
        double next = x - psi / (4 * L * x + h / (2 * x) / x);
        // A step below rounding: converged.
        if (next == x) break;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (next == lo || next == hi) break;
        x = next;
    }
    return x;
}

}  // namespace

namespace detail {

GaussEnvelope gauss_envelope(double landa, double h)
{
    const double L = landa;
    if (L == 0) return {h / 2, std::sqrt(0.5), 0.0, 0.0, 0.0, false};
    // Centred at the mode where that serves (see the header).
    if (h > 0 && h >= centred_from(L)) {
        const double T = right_mode(L, h), kT = touching_k(L, T);
        if (kT > 0) return {T, std::sqrt(0.5 / kT), L, T * T, T, true};
    }
    // g(k) = 2k + 2(2L - 1) - 2L/k - L h^2/k^2 is the cubic divided by k^2:
    // increasing and concave for k > 0, so Newton's method from a point left
    // of its root climbs to it, and from the right it lands left of it.
    // Start at the larger of the root for h = 0 (of k^2 + (2L - 1)k - L) and
    // the root's limit for large h, cbrt(L h^2/2).
    const double sL = std::sqrt(L);
    auto g = [&](double k) { return 2 * k + 2 * (2 * L - 1) - 2 * L / k - (sL * h / k) * (sL * h / k); };
    auto dg = [&](double k) { return 2 + 2 * L / (k * k) + 2 * (sL * h / k) * (sL * h / k) / k; };
    const double b = 2 * L - 1, disc = std::hypot(b, 2 * sL), cb = std::cbrt(h);
    double k = std::fmax(b > 0 ? 2 * L / (b + disc) : (disc - b) / 2, std::cbrt(L / 2) * cb * cb);
    for (int i = 0; i < ENVELOPE_STEPS; ++i) {
        const double gk = g(k);
        if (gk == 0) break;
        double next = k - gk / dg(k);
        // Right of the root a step may leave k > 0: halve instead.
        if (gk > 0 && !(next > 0)) next = k / 2;
        // Left of the root every step climbs until rounding stops it.
        if (gk < 0 && !(next > k)) break;
        const bool done = std::fabs(next - k) <= ENVELOPE_TOL * k;
        k = next;
        if (done) break;
    }
    // Any k > 0 gives an exact envelope; the root only makes it the tightest.
    // tau = (k - 1 + 2L)/(2L), with k - 1 first: for a small Landa, k is
    // close to 1 and 2L would vanish beside it; sqrt(tau) apart, as tau may
    // overflow where its root does not.
    const double num = (k - 1) + 2 * L;
    return {h / (2 * k), std::sqrt(0.5 / k), L, num / (2 * L), num >= 0 ? std::sqrt(num) / std::sqrt(2 * L) : std::nan(""),
            false};
}

}  // namespace detail

FieldError::FieldError(Kind kind, double h, long index, const std::string &message)
    : std::domain_error(message), kind_(kind), h_(h), index_(index)
{
}

void Xoshiro256ss::seed(std::uint64_t seed)
{
    // splitmix64 fills the state, which is then never all zero.
    for (std::uint64_t &s : s_) {
        seed += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        s = z ^ (z >> 31);
    }
}

Sampler::Sampler(Table table, double landa, SamplerOptions options)
    : table_(std::move(table)), landa_(landa), options_(options), nd_(table_.nd_poi), mirror_below_(std::fmin(table_.H0, 0.0))
{
    if (!(landa_ >= 0) || !(landa_ <= MAX_LANDA))
        throw TableError(table_.file, 0, "Landa must be a number from 0 to 1e300 for the weight to be integrable");
    if (options_.max_trials == 0) throw std::invalid_argument("a sampler needs at least one proposal per draw (max_trials 0)");
    if (options_.check) {
        const TableCheck c = check_table(table_, landa_);
        if (!c.ok) throw TableError(table_.file, c.line, c.problem);
    }
    // The counts, the histogram numbers and the field indices are as the
    // loader checked them; the span of the index table and the shape of
    // each block are checked on the way, also without the check above.
    build_lookup();
    build_histograms();
    build_bounds();
}

void Sampler::build_lookup()
{
    const Table &t = table_;
    // Dense lookup from field index to histogram, -1 for the gaps.
    long j_first = 0;
    if (!t.index_j.empty()) {
        j_first = t.index_j.front();
        const long span = t.index_j.back() - j_first + 1;
        if (span > INDEX_SPAN_PER_ENTRY * static_cast<long>(t.index_j.size()) + INDEX_SPAN_EXTRA)
            throw TableError(t.file, 0, "the index table spans " + std::to_string(span) + " field indices with only " +
                                            std::to_string(t.index_j.size()) + " entries");
        index_.assign(static_cast<std::size_t>(span), Entry{Range{0, -1, 0, 0, 1}, -1});
        for (std::size_t i = 0; i < t.index_j.size(); ++i)
            index_[static_cast<std::size_t>(t.index_j[i] - j_first)].m = t.index_m[i];
    }
    // The C lines take the first line whose bound h is below: the first
    // whose running maximum of the bounds it is below.
    // h*inv_step differs from the C code's h/step by at most 3 units in the
    // last place (two roundings in the product, one in the quotient), so
    // their integer parts can differ only within 3 units of the largest
    // |h/step| of the line from an integer; there the draw divides.
    double upper = -INFINITY;
    for (const FieldInterval &f : t.c_map) {
        upper = std::fmax(upper, f.upper);
        const double q_max = std::fmax(std::fmax(std::fabs(t.H0), std::fabs(t.H_max)), std::fabs(f.upper)) / f.step;
        lines_.push_back({upper, f.step, 1 / f.step, 0.5 - NEAR_INTEGER * q_max, f.offset - j_first});
    }
}

void Sampler::build_histograms()
{
    const Table &t = table_;
    const std::size_t ns = static_cast<std::size_t>(nd_ - 2);
    hist_.resize(t.blocks.size());
    range_.resize(t.blocks.size());
    edges_.resize(t.blocks.size() * (ns + 1));
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const Block &b = t.blocks[m];
        long line;
        const std::string shape = detail::shape_problem(b, line);
        if (!shape.empty()) throw TableError(t.file, line, shape);
        Hist &hs = hist_[m];
        hs.X_max = b.X_max;
        hs.a = b.a;
        hs.pL = b.p[0];
        hs.C1L = b.C1L;
        hs.C2L = b.C2L;
        hs.invC1L = 1 / b.C1L;
        hs.pR = b.p[ns + 1];
        hs.C1R = b.C1R;
        hs.C2R = b.C2R;
        hs.invC1R = 1 / b.C1R;
        std::copy(b.p.begin() + 1, b.p.end(), edges_.begin() + static_cast<std::ptrdiff_t>(m * (ns + 1)));

        // The field values that reach it: those the index table sends to it
        // and those it was built for (for a caller's own lookup), widened by
        // rounding.
        const double h_next = t.H_upper(static_cast<int>(m));
        double lo = std::fmin(b.H, h_next), hi = std::fmax(b.H, h_next);
        if (t.used(static_cast<int>(m))) {
            lo = std::fmin(lo, t.served_lo[m]);
            hi = std::fmax(hi, t.served_hi[m]);
        }
        Range &rg = range_[m];
        const double pad = RANGE_PAD * (std::fabs(lo) + std::fabs(hi) + (hi - lo));
        rg.h_lo = lo - pad;
        rg.h_hi = hi + pad;
        const double spread = (hi - lo) * std::fmax(std::fabs(b.p[1] - b.X_max), std::fabs(b.p[ns + 1] - b.X_max));
        rg.n_sub = static_cast<int>(std::fmin(std::ceil(spread / SUB_RANGE_SPREAD), MAX_SUB_RANGES));
        if (!(rg.n_sub >= 1)) rg.n_sub = 1;
    }
}

void Sampler::build_bounds()
{
    const std::size_t ns = static_cast<std::size_t>(nd_ - 2);
    // Within the budget: extra sub-ranges are cut down in proportion.
    double extra = 0;
    for (const Range &rg : range_) extra += rg.n_sub - 1;
    if (extra * static_cast<double>(ns) > BOUNDS_BUDGET) {
        const double f = BOUNDS_BUDGET / (extra * static_cast<double>(ns));
        for (Range &rg : range_) rg.n_sub = 1 + static_cast<int>((rg.n_sub - 1) * f);
    }
    std::size_t total = 0;
    for (Range &rg : range_) {
        rg.bounds = static_cast<std::uint32_t>(total);
        total += static_cast<std::size_t>(rg.n_sub) * ns;
    }
    bounds_.resize(total);
    no_bounds_.assign(ns, Bound{0, static_cast<std::uint8_t>(BOUND_SCALE - 1)});

    for (std::size_t m = 0; m < range_.size(); ++m) {
        const Hist &hs = hist_[m];
        Range &rg = range_[m];
        const double *edge = edges_.data() + m * (ns + 1);
        const double width = (rg.h_hi - rg.h_lo) / rg.n_sub;
        rg.inv_width = width > 0 ? 1 / width : 0;
        const double pad = RANGE_PAD * (std::fabs(rg.h_lo) + std::fabs(rg.h_hi) + (rg.h_hi - rg.h_lo));
        for (int sub = 0; sub < rg.n_sub; ++sub) {
            const double h0 = rg.h_lo + sub * width - pad;
            const double h1 = sub + 1 == rg.n_sub ? rg.h_hi + pad : rg.h_lo + (sub + 1) * width + pad;
            const Stationary s0 = stationary_at(landa_, h0), s1 = stationary_at(landa_, h1);
            for (std::size_t k = 0; k < ns; ++k) {
                double lower, upper;
                acceptance_bounds(landa_, hs.X_max, hs.a, edge[k], edge[k + 1], s0, s1, lower, upper);
                // lo/256 <= lower and (hi + 1)/256 >= upper, within 0..255;
                // a bound that is NaN decides nothing.
                Bound &bd = bounds_[rg.bounds + static_cast<std::size_t>(sub) * ns + k];
                bd.lo = static_cast<std::uint8_t>(lower > 0 ? std::fmin(std::floor(lower * BOUND_SCALE), BOUND_SCALE - 1) : 0);
                bd.hi = static_cast<std::uint8_t>(upper < 1 ? std::fmax(std::ceil(upper * BOUND_SCALE) - 1, 0.0) : BOUND_SCALE - 1);
            }
        }
    }
    for (Entry &e : index_)
        if (e.m >= 0) e.range = range_[static_cast<std::size_t>(e.m)];
}

bool Sampler::step_accepts(int m, double a, double x, double width, double v) const
{
    // v*height < weight with height = a/width, as v*a < width*weight.
    const Hist &hs = hist_[static_cast<std::size_t>(m)];
    return v * hs.a < width * std::exp(log_weight(a, hs.X_max, landa_, x));
}

double Sampler::tail_draw(int m, double a, bool left, double u, double v) const
{
    const Hist &hs = hist_[static_cast<std::size_t>(m)];
    // Inversion of the tail exp(C1*x + C2) beyond its anchor p:
    // x = p + log(1 - u)/C1, 1 - u in (0, 1]; accepted when v*tail < weight.
    const double p = left ? hs.pL : hs.pR, C1 = left ? hs.C1L : hs.C1R, C2 = left ? hs.C2L : hs.C2R;
    const double x = p + std::log(1.0 - u) * (left ? hs.invC1L : hs.invC1R);
    return v < std::exp(log_weight(a, hs.X_max, landa_, x) - C1 * x - C2) ? x : std::nan("");
}

void Sampler::step_bounds(int m, double h, int k, double &lower, double &upper) const noexcept
{
    const Bound &b = bounds_at(range_[static_cast<std::size_t>(m)], h)[k - 1];
    lower = b.lo / BOUND_SCALE;
    upper = (b.hi + 1) / BOUND_SCALE;
}

FieldError::Kind Sampler::failure(double h) const noexcept
{
    long j;
    if (std::isnan(h)) return FieldError::NotANumber;
    const double a = h < mirror_below_ ? -h : h;
    if (a < table_.H0) return FieldError::BelowH0;
    if (a >= table_.H_max || !field_index(table_, a, j)) return FieldError::AboveHmax;
    return FieldError::MissingIndex;
}

int Sampler::histogram(double h) const
{
    int m;
    if (try_histogram(h, m)) return m;
    not_served(h);
}

void Sampler::not_served(double h) const
{
    const FieldError::Kind k = failure(h);
    if (k == FieldError::NotANumber) throw FieldError(k, h, 0, "field value is not a number");
    const double a = h < mirror_below_ ? -h : h;
    // A field value drawn through its mirror: the message names both.
    char what[100];
    if (a != h) std::snprintf(what, sizeof what, "the mirror %.17g of field value %.17g", a, h);
    else std::snprintf(what, sizeof what, "field value %.17g", h);
    char buf[300];
    long j = 0;
    switch (k) {
    case FieldError::BelowH0:
        std::snprintf(buf, sizeof buf, "%s is below H0 = %.17g", what, table_.H0);
        break;
    case FieldError::AboveHmax:
        std::snprintf(buf, sizeof buf, "%s is not below H_max = %.17g", what, table_.H_max);
        break;
    default:
        field_index(table_, a, j);
        std::snprintf(buf, sizeof buf, "%s has the field index %ld, which the index table lacks", what, j);
        break;
    }
    throw FieldError(k, h, j, buf);
}

void Sampler::too_many_trials(double h, bool fallback) const
{
    char buf[200];
    std::snprintf(buf, sizeof buf, "no acceptance in %llu trials at field value %.17g: %s",
                  static_cast<unsigned long long>(options_.max_trials), h,
                  fallback ? "the fallback's envelope is too wide for this Landa" : "the table does not fit the weight");
    throw std::runtime_error(buf);
}

}  // namespace o1phi4
