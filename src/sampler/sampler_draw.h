// The sampler's draw path, inline: the field value's histogram by the C
// lines and the index table, the rejection loop under the histogram (with
// the bounds that decide most proposals without the exponential), and the
// table-free fallback.  Included at the end of sampler.h; the Sampler's
// declaration, and which entry point to call when, are there.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sampler.h"

namespace o1phi4 {

namespace detail {

// The sign bit of a double when negate, else 0; v with that bit flipped.
inline std::uint64_t sign_mask(bool negate) { return static_cast<std::uint64_t>(negate) << 63; }
inline double flip(double v, std::uint64_t mask)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    b ^= mask;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// Piece index floor(n*r/2^64) and the low word of the product as the
// position within the piece, for 0 < n < 2^31.  The product has 95 bits:
// n*r = n*r_hi*2^32 + n*r_lo with r's 32-bit halves, each part below 2^63,
// so both its words come from two 64-bit products (as fast as one 128-bit
// product in the benchmark).
inline int piece(std::uint64_t r, int n, std::uint64_t &low)
{
    const std::uint64_t un = static_cast<std::uint32_t>(n);
    const std::uint64_t lo = un * (r & 0xffffffffu);
    const std::uint64_t mid = un * (r >> 32) + (lo >> 32);
    low = (mid << 32) | (lo & 0xffffffffu);
    return static_cast<int>(mid >> 32);
}

// The Gaussian envelope of the fallback for a field value h >= 0: since
// Landa*(x*x - tau)^2 >= 0, the weight exp(h*x - x*x - Landa*(x*x - 1)^2) is at
// most a constant times exp(h*x - k*x*x) with k = 2*Landa*tau - 2*Landa + 1,
// for every tau with k > 0; a proposal x from that Gaussian (mean h/(2k),
// variance 1/(2k)) is accepted with probability exp(-Landa*(x*x - tau)^2).
//
// Two choices of tau.  Where it serves (all large h), tau = T*T with T the
// weight's right mode: the Gaussian is then centred at T, and a draw works
// in d = x - T, with x*x - tau = d*(2T + d), so that nothing cancels
// however large h is.  The mode as a double is off by up to a unit in its
// last place, so the draw is exact for the field value 2T*k(T) whose mode T
// is, within a relative 1e-15 of h (and for a width within a relative
// 1e-16): exact up to the rounding of h.  It serves where the weight's
// curvature at T is at most 8 times the Gaussian's and Landa*(x - T)^4 is
// at most 1 on average under it (acceptance above about 0.35, 0.57 for
// large h): for Landa = 1 from h = 1.67 on, for Landa = 1e4 from 1.9e4 on.
// Elsewhere, k minimises the envelope's area (the positive root of
// 2k^3 + 2(2*Landa - 1)k^2 - 2*Landa*k - Landa*h^2): there the rounding of
// x*x - tau changes the density by about a relative 1e-15*sqrt(Landa) (the
// mode is below 1.2 there for Landa >= 1/2).  Landa = 0 gives k = 1 and a Gaussian weight that
// every proposal fits.
struct GaussEnvelope {
    double mean, sd;  // of the proposal (the mode T when centred)
    double landa;
    double tau;       // the x*x at which the envelope touches the weight
    double r;         // sqrt(tau) when tau >= 0, else NaN
    bool centred;     // centred at the mode: draw d = x - mean
};
// The envelope for field value h >= 0 (finite) and 0 <= landa <= MAX_LANDA.
GaussEnvelope gauss_envelope(double landa, double h);

}  // namespace detail

// ---------------------------------------------------------------- lookup

inline const Sampler::Entry *Sampler::find(double a) const noexcept
{
    // NaN fails the range test.
    if (!(a >= table_.H0 && a < table_.H_max)) return nullptr;
    const std::size_t i = line_of(a);
    if (i == lines_.size()) return nullptr;
    const Line &l = lines_[i];
    // (int)(h/step) of the C code.  The product with the reciprocal
    // differs from the quotient by at most 3 units in the last place, so
    // their integer parts can differ only when the product lies that close
    // to an integer: there the quotient decides.  The loader has checked
    // that the index fits.
    const double p = a * l.inv_step;
    long q = static_cast<long>(p);
    // p - q is in [0, 1) for p >= 0, in (-1, 0] for p < 0: close to 0
    // or to +-1 when its distance from +-1/2 is at least l.half_far.
    const double f = p - static_cast<double>(q);
    if (std::fabs(f - std::copysign(0.5, f)) >= l.half_far) q = static_cast<long>(a / l.step);
    const unsigned long j = static_cast<unsigned long>(l.offset + q);
    if (j >= index_.size() || index_[j].m < 0) return nullptr;
    return &index_[j];
}

inline std::size_t Sampler::line_of(double a) const noexcept
{
    // Without branches.
    std::size_t i = 0;
    for (const Line &l : lines_) i += a >= l.upper;
    return i;
}

inline bool Sampler::lookup(double a, int &m) const noexcept
{
    const Entry *e = find(a);
    if (e) m = e->m;
    return e != nullptr;
}

inline bool Sampler::try_histogram(double h, int &m, FieldError::Kind *kind) const noexcept
{
    if (lookup(h < mirror_below_ ? -h : h, m)) return true;
    if (kind) *kind = failure(h);
    return false;
}

inline const Sampler::Bound *Sampler::bounds_at(const Range &r, double a) const
{
    if (!(a >= r.h_lo && a <= r.h_hi)) return no_bounds_.data();
    const int s = static_cast<int>((a - r.h_lo) * r.inv_width);
    return bounds_.data() + r.bounds + static_cast<std::size_t>(s < r.n_sub ? s : r.n_sub - 1) * static_cast<std::size_t>(nd_ - 2);
}

// ---------------------------------------------------------------- entry points

template <class URBG>
double Sampler::operator()(double h, URBG &g) const
{
    DrawStats stats;
    return draw(h, g, stats);
}

template <class URBG>
double Sampler::draw(double h, URBG &g, DrawStats &stats) const
{
    // The sign bit for a field value drawn through its mirror, flipped
    // in h and in x without a branch, which would be mispredicted half
    // the time in a heat bath of the symmetric phase.
    const std::uint64_t sign = detail::sign_mask(h < mirror_below_);
    const double a = detail::flip(h, sign);
    if (const Entry *e = find(a)) return detail::flip(draw_table(e->m, a, bounds_at(e->range, a), g, stats.trials), sign);
    if (!options_.fallback || !std::isfinite(h)) not_served(h);
    ++stats.fallback;
    return draw_fallback(h, g, stats.trials);
}

template <class URBG>
double Sampler::draw(double h, URBG &g, std::uint64_t &trials) const
{
    DrawStats stats;
    const double x = draw(h, g, stats);
    trials += stats.trials;
    return x;
}

template <class URBG>
std::uint64_t Sampler::draw_n(double h, URBG &g, double *out, std::size_t n) const
{
    DrawStats stats;
    int m;
    if (try_histogram(h, m))
        for (std::size_t i = 0; i < n; ++i) out[i] = draw_from(m, h, g, stats.trials);
    else
        for (std::size_t i = 0; i < n; ++i) out[i] = draw(h, g, stats);
    return stats.trials;
}

template <class URBG>
double Sampler::draw_from(int m, double h, URBG &g, std::uint64_t &trials) const
{
    const std::uint64_t sign = detail::sign_mask(h < mirror_below_);
    const double a = detail::flip(h, sign);
    return detail::flip(draw_table(m, a, bounds_at(range_[static_cast<std::size_t>(m)], a), g, trials), sign);
}

// ---------------------------------------------------------------- rejection

// Inline: the call and its set-up cost a draw at a fixed field value about a
// tenth of its time.
inline int Sampler::by_bounds(const double *edge, const Bound *bound, std::uint64_t r0, std::uint64_t r1, unsigned &k,
                             std::uint64_t &low, double &x, double &width) const
{
    const unsigned steps = static_cast<unsigned>(nd_ - 2);
    k = static_cast<unsigned>(detail::piece(r0, nd_, low));
    // Step k (i = k - 1 below Nd_poi - 2; the tails wrap around): x
    // uniform on [p[k], p[k+1]], accepted when v*height < weight.
    const unsigned i = k - 1;
    if (i >= steps) return -1;
    const double left = edge[i];
    width = edge[i + 1] - left;
    x = left + detail::unit(low) * width;
    // The top 8 bits of v put it in [top/256, (top + 1)/256).  Most
    // proposals are decided here, without a branch on the outcome.
    const unsigned top = static_cast<unsigned>(r1 >> 56);
    const Bound b = bound[i];
    return top < b.lo ? 1 : top > b.hi ? 0 : -1;
}

inline bool Sampler::proposal(int m, const double *edge, double a, const Bound *bound, std::uint64_t r0, std::uint64_t r1,
                              double &x) const
{
    unsigned k;
    std::uint64_t low;
    double width;
    const int decided = by_bounds(edge, bound, r0, r1, k, low, x, width);
    if (decided >= 0) return decided;
    if (k - 1 < static_cast<unsigned>(nd_ - 2)) return step_accepts(m, a, x, width, detail::unit(r1));
    // NaN when rejected.
    x = tail_draw(m, a, k == 0, detail::unit(low), detail::unit(r1));
    return x == x;
}

inline Sampler::LookUp Sampler::look_up(double h) const noexcept
{
    LookUp l;
    const std::uint64_t sign = detail::sign_mask(h < mirror_below_);
    const double a = detail::flip(h, sign);
    const Entry *e = find(a);
    if (!e) return l;
    l.edge_ = edges_of(e->m);
    l.bound_ = bounds_at(e->range, a);
    l.sign_ = sign;
    l.m_ = e->m;
    l.line_ = line_of(a);
    l.entry_ = e;
    return l;
}

inline Proposal Sampler::propose(const LookUp &l, double h, std::uint64_t r0, std::uint64_t r1, double &x) const
{
    double y;
    const bool accepted = proposal(l.m_, l.edge_, detail::flip(h, l.sign_), l.bound_, r0, r1, y);
    x = detail::flip(y, l.sign_);
    return accepted ? Proposal::Accepted : Proposal::Rejected;
}

inline Proposal Sampler::propose_by_bounds(const LookUp &l, std::uint64_t r0, std::uint64_t r1, double &x) const
{
    unsigned k;
    std::uint64_t low;
    double y = 0, width;
    const int decided = by_bounds(l.edge_, l.bound_, r0, r1, k, low, y, width);
    x = detail::flip(y, l.sign_);
    return decided > 0 ? Proposal::Accepted : decided == 0 ? Proposal::Rejected : Proposal::Undecided;
}

inline Proposal Sampler::propose(double h, std::uint64_t r0, std::uint64_t r1, double &x) const
{
    const LookUp l = look_up(h);
    return l.served() ? propose(l, h, r0, r1, x) : Proposal::NotServed;
}

template <class URBG>
inline double Sampler::draw_table(int m, double h, const Bound *bound, URBG &g, std::uint64_t &trials) const
{
    const double *edge = edges_of(m);
    // Trials counted here and added at the end: through the reference,
    // which might alias the generator, the compiler would store the count
    // and reload the generator's state every trial.
    std::uint64_t t = 0;
    double x;
    for (;;) {
        if (t == options_.max_trials) {
            trials += t;
            too_many_trials(h, false);
        }
        ++t;
        const std::uint64_t r0 = detail::bits64(g);
        const std::uint64_t r1 = detail::bits64(g);
        if (proposal(m, edge, h, bound, r0, r1, x)) break;
    }
    trials += t;
    return x;
}

template <class URBG>
double Sampler::draw_fallback(double h, URBG &g, std::uint64_t &trials) const
{
    if (!std::isfinite(h)) not_served(h);
    const detail::GaussEnvelope e = detail::gauss_envelope(landa_, std::fabs(h));
    // The polar method turns a pair of uniforms inside the unit disc into
    // two independent normal deviates: the second serves the next proposal.
    // Every pair and every proposal counts towards the limit.
    double spare = 0;
    bool have_spare = false;
    for (std::uint64_t t = 0; t < options_.max_trials; ++t) {
        double z;
        if (have_spare) {
            z = spare;
            have_spare = false;
        } else {
            const double p = 2 * detail::unit(detail::bits64(g)) - 1;
            const double q = 2 * detail::unit(detail::bits64(g)) - 1;
            const double s = p * p + q * q;
            if (!(s > 0 && s < 1)) continue;
            const double f = std::sqrt(-2 * std::log(s) / s);
            z = p * f;
            spare = q * f;
            have_spare = true;
        }
        ++trials;
        if (e.centred) {
            // x*x - T*T as d*(2T + d).
            const double d = e.sd * z, x = e.mean + d, s = d * (2 * e.mean + d);
            if (detail::unit(detail::bits64(g)) < std::exp(-e.landa * s * s)) return h < 0 ? -x : x;
            continue;
        }
        const double x = e.mean + e.sd * z;
        if (e.landa == 0) return h < 0 ? -x : x;
        // x*x - tau as (x - r)(x + r): no overflow of x*x where x is huge.
        const double d = e.r >= 0 ? (x - e.r) * (x + e.r) : x * x - e.tau;
        if (detail::unit(detail::bits64(g)) < std::exp(-e.landa * d * d)) return h < 0 ? -x : x;
    }
    too_many_trials(h, true);
}

}  // namespace o1phi4
