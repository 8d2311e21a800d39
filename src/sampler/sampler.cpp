// Set-up of the sampler: the dense field-index lookup, the tails in the form
// the draw uses, and per step its width, height and squeeze; the envelope of
// the fallback; the messages of field values the table does not serve.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "sampler/sampler.h"

namespace o1phi4 {

namespace {

// The index table may have gaps; a lookup array spanning more than this many
// field indices per entry (plus a constant) means a damaged table.
constexpr long INDEX_SPAN_PER_ENTRY = 8;
constexpr long INDEX_SPAN_EXTRA = 1024;
// The squeeze is lowered by this relative margin so that rounding in the
// exponent never lets it exceed weight/height.
constexpr double SQUEEZE_MARGIN = 1e-9;
// Bisection steps for the valley of the exponent (enough to reach adjacent
// doubles on any interval).
constexpr int VALLEY_STEPS = 200;
// Newton steps for the fallback's envelope (it converges in about ten; the
// limit only guards against a start far from the root).
constexpr int ENVELOPE_STEPS = 200;
// Relative change of k at which Newton's method has converged (rounding
// keeps it from reaching 0).
constexpr double ENVELOPE_TOL = 1e-14;

// Slope of the exponent h*x - x*x - landa*(x*x - 1)^2.
double slope(double landa, double h, double x) { return h - 2 * x * (1 - 2 * landa) - 4 * landa * x * x * x; }

// The local minimum of the exponent (its valley between the two modes), or
// NaN when there is none.  For landa > 1/2 the slope increases on
// (-x_s, x_s), x_s = sqrt((2*landa - 1)/(6*landa)), and the valley is its
// zero there when the slope changes sign; elsewhere the exponent is concave.
double valley(double landa, double h)
{
    if (!(landa > 0.5)) return std::nan("");
    const double xs = std::sqrt((2 * landa - 1) / (6 * landa));
    double lo = -xs, hi = xs;
    if (!(slope(landa, h, lo) < 0 && slope(landa, h, hi) > 0)) return std::nan("");
    for (int i = 0; i < VALLEY_STEPS; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        if (slope(landa, h, mid) < 0) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

namespace detail {

GaussEnvelope gauss_envelope(double landa, double h)
{
    const double L = landa;
    if (L == 0) return {h / 2, std::sqrt(0.5), 0.0, 0.0, 0.0};
    // g(k) = 2k + 2(2L - 1) - 2L/k - L h^2/k^2 is the cubic divided by k^2:
    // increasing and concave for k > 0, so Newton's method from a point left
    // of its root climbs to it, and from the right it lands left of it.
    // Start right of the root: g(1 + |2L - 1| + L + cbrt(L h^2/2)) > 0.
    const double sL = std::sqrt(L);
    auto g = [&](double k) { return 2 * k + 2 * (2 * L - 1) - 2 * L / k - (sL * h / k) * (sL * h / k); };
    auto dg = [&](double k) { return 2 + 2 * L / (k * k) + 2 * (sL * h / k) * (sL * h / k) / k; };
    const double cb = std::cbrt(h);
    double k = 1 + std::fabs(2 * L - 1) + L + std::cbrt(L / 2) * cb * cb;
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
    const double tau = (k + 2 * L - 1) / (2 * L);
    return {h / (2 * k), std::sqrt(0.5 / k), L, tau, tau >= 0 ? std::sqrt(tau) : std::nan("")};
}

}  // namespace detail

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
    : table_(std::move(table)), landa_(landa), options_(options), nd_(table_.nd_poi), mirror_below_(std::fmin(table_.H0, 0.0)),
      map_(table_.c_map), j_first_(0)
{
    const Table &t = table_;
    if (!(landa_ >= 0) || !(landa_ <= MAX_LANDA))
        throw TableError(t.file, 0, "Landa must be a number from 0 to 1e300 for the weight to be integrable");
    if (options_.max_trials == 0) throw std::invalid_argument("a sampler needs at least one proposal per draw (max_trials 0)");
    if (nd_ < 3 || t.blocks.size() != static_cast<std::size_t>(t.n_histogram) + 1 || t.c_map.empty() ||
        t.index_j.size() != t.index_m.size())
        throw TableError(t.file, 0, "incomplete table");

    // Dense lookup from field index to histogram, -1 for the gaps.
    if (!t.index_j.empty()) {
        j_first_ = t.index_j.front();
        const long span = t.index_j.back() - j_first_ + 1;
        if (span > INDEX_SPAN_PER_ENTRY * static_cast<long>(t.index_j.size()) + INDEX_SPAN_EXTRA)
            throw TableError(t.file, 0, "the index table spans " + std::to_string(span) + " field indices with only " +
                                            std::to_string(t.index_j.size()) + " entries");
        index_hist_.assign(static_cast<std::size_t>(span), -1);
        for (std::size_t i = 0; i < t.index_j.size(); ++i)
            index_hist_[static_cast<std::size_t>(t.index_j[i] - j_first_)] = t.index_m[i];
    }

    const std::size_t ns = static_cast<std::size_t>(nd_ - 2);
    hist_.resize(t.blocks.size());
    steps_.resize(t.blocks.size() * ns);
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const Block &b = t.blocks[m];
        if (b.p.size() != static_cast<std::size_t>(nd_))
            throw TableError(t.file, b.first_line, "block has the wrong number of positions");
        if (!(b.a > 0) || !(b.C1L > 0) || !(b.C1R < 0) || !std::isfinite(1 / b.C1L) || !std::isfinite(1 / b.C1R))
            throw TableError(t.file, b.first_line,
                             "block cannot be a majorant: it needs a > 0, a left tail slope > 0 and a right tail slope < 0");
        if (!(b.p[0] <= b.p[1]))
            throw TableError(t.file, b.first_line + 2, "the left tail's anchor lies right of the first step");
        for (std::size_t k = 1; k + 1 < b.p.size(); ++k)
            if (!(b.p[k] < b.p[k + 1]) || !std::isfinite(b.p[k + 1] - b.p[k]) || !(b.a / (b.p[k + 1] - b.p[k]) > 0) ||
                !std::isfinite(b.a / (b.p[k + 1] - b.p[k])))
                throw TableError(t.file, b.first_line + 3 + static_cast<long>(k), "positions must increase");

        Hist &hs = hist_[m];
        hs.X_max = b.X_max;
        const double h_next = t.H_upper(static_cast<int>(m));
        hs.H_lo = std::min(b.H, h_next);
        hs.H_hi = std::max(b.H, h_next);
        hs.pL = b.p[0];
        hs.C1L = b.C1L;
        hs.C2L = b.C2L;
        hs.invC1L = 1 / b.C1L;
        hs.pR = b.p[static_cast<std::size_t>(nd_ - 1)];
        hs.C1R = b.C1R;
        hs.C2R = b.C2R;
        hs.invC1R = 1 / b.C1R;

        // The weight at a fixed x is log-linear in h, so its minimum over the
        // histogram's field range lies at H_lo or H_hi; over a step it lies at
        // an end or at the valley of the exponent.
        const double hv[2] = {hs.H_lo, hs.H_hi};
        const double xv[2] = {valley(landa_, hs.H_lo), valley(landa_, hs.H_hi)};
        for (std::size_t k = 1; k + 1 < b.p.size(); ++k) {
            Step &s = steps_[m * ns + k - 1];
            s.left = b.p[k];
            s.width = b.p[k + 1] - b.p[k];
            s.height = b.a / s.width;
            double e = INFINITY;
            for (int i = 0; i < 2; ++i) {
                e = std::min(e, exponent(hv[i], b.X_max, b.p[k]));
                e = std::min(e, exponent(hv[i], b.X_max, b.p[k + 1]));
                if (xv[i] > b.p[k] && xv[i] < b.p[k + 1]) e = std::min(e, exponent(hv[i], b.X_max, xv[i]));
            }
            const double q = std::exp(e) / s.height * (1 - SQUEEZE_MARGIN);
            // Above 1 only where the table fails to bound the weight; u < 1
            // then accepts anyway, so 1 changes nothing.
            s.squeeze = q >= 0 ? std::min(q, 1.0) : 0.0;
        }
    }
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
