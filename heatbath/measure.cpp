// The measurements of one configuration.
//
// Every sum is taken in fixed point, exactly: each term t becomes the integer
// trunc(t 2^s) (64 bits) and the integers are added in 128 bits, which no
// order of addition changes.  So the sample is the same doubles for any
// number of threads and any split of the lattice.  The scale 2^s of each
// observable follows from the largest |phi_x| of the configuration, A < 2^e:
// s is the largest integer with |t| 2^s < 2^62 for every term the bound
// allows (phi: 2^e, phi^2: 2^2e, phi_x sum_mu phi_{x+mu}: d 2^2e,
// (phi^2 - 1)^2: 2^(4 max(e, 1))), so a term keeps at least 62 bits and the
// truncation changes it by less than 2^-62 of the largest; 2^32 sites keep
// the 128-bit sums far from overflow.  The maximum of |phi| does not depend
// on the order either.
//
// The Fourier mode sums phi over the planes x_mu = c (exactly, as above) and
// takes the plane sums times cos and sin of 2 pi c / L in the order of c.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

using Exact = __int128;

// Below this exponent every field value counts as tiny: the largest scale,
// 2^(62 - 2e), stays within the range of a double ...
constexpr int MIN_FIELD_EXP = -480;
// ... and from this one on the run has diverged: (phi^2 - 1)^2 would soon
// overflow.
constexpr int MAX_FIELD_EXP = 128;
// The bits of the largest term.
constexpr int TERM_BITS = 62;

// The sums of one block of rows.
struct Sums {
    Exact phi2 = 0, link = 0, pot = 0;
    std::vector<Exact> plane[MAX_DIM];  // sum of phi over x_mu = c
};

inline std::int64_t fixed(double t, double scale) { return static_cast<std::int64_t>(t * scale); }

template <int D>
void sum_rows(const Lattice &lat, const double *f, long r0, long r1, const double scale[4], Sums &s)
{
    const long L = lat.L;
    for (int mu = 0; mu < D; ++mu) s.plane[mu].assign(static_cast<std::size_t>(L), 0);
    Exact *plane0 = s.plane[0].data();
    for (long r = r0; r < r1; ++r) {
        const RowNeighbours n = row_neighbours(lat, r);
        const double *row = f + n.offset;
        Exact row_sum = 0;
        for (long x0 = 0; x0 < L; ++x0) {
            const double y = row[x0];
            // The neighbours x + mu: every link once.
            double forward = x0 + 1 < L ? row[x0 + 1] : row[0];
            for (int mu = 0; mu < D - 1; ++mu) forward += f[n.up[mu] + x0];
            const std::int64_t q = fixed(y, scale[0]);
            row_sum += q;
            plane0[x0] += q;
            s.phi2 += fixed(y * y, scale[1]);
            s.link += fixed(y * forward, scale[2]);
            s.pot += fixed((y * y - 1) * (y * y - 1), scale[3]);
        }
        // The row lies in the planes x_1 = R mod L, x_2 = R / L of its number R in the lattice.
        long rest = static_cast<long>(n.site) / L;
        for (int mu = 1; mu < D; ++mu, rest /= L) s.plane[mu][static_cast<std::size_t>(rest % L)] += row_sum;
    }
}

}  // namespace

Sample measure(const Lattice &lat, const std::vector<double> &phi, int threads)
{
    const double *f = phi.data();
    const long L = lat.L;
    // The largest |phi|, and whether some value is not finite (which the
    // maximum would skip).
    std::vector<double> largest(static_cast<std::size_t>(threads), 0);
    std::vector<char> bad(static_cast<std::size_t>(threads), 0);
    for_row_blocks(lat.rows, threads, [&](int b, long r0, long r1) {
        double a = 0;
        bool nonfinite = false;
        for (long r = r0; r < r1; ++r) {
            const double *row = f + row_neighbours(lat, r).offset;
            for (long x0 = 0; x0 < L; ++x0) {
                const double y = std::fabs(row[x0]);
                a = y > a ? y : a;
                nonfinite |= !(y <= DBL_MAX);
            }
        }
        largest[static_cast<std::size_t>(b)] = a;
        bad[static_cast<std::size_t>(b)] = nonfinite;
    });
    double A = 0;
    bool nonfinite = false;
    for (std::size_t b = 0; b < largest.size(); ++b) {
        nonfinite |= bad[b] != 0;
        A = largest[b] > A ? largest[b] : A;
    }
    // Every process of a split lattice takes the same scales, and stops together.
    if (lat.team) {
        double v[2] = {A, nonfinite ? 1.0 : 0.0};
        lat.team->max(v, 2);
        A = v[0];
        nonfinite = v[1] > 0;
    }
    if (nonfinite) throw std::runtime_error("a field value is not finite: the run diverged");
    int e;
    std::frexp(A, &e);  // A < 2^e
    if (e >= MAX_FIELD_EXP) {
        char buf[120];
        std::snprintf(buf, sizeof buf, "a field value of %.6g, beyond 2^%d: the run diverged", A, MAX_FIELD_EXP);
        throw std::runtime_error(buf);
    }
    if (e < MIN_FIELD_EXP) e = MIN_FIELD_EXP;
    const int s[4] = {TERM_BITS - e, TERM_BITS - 2 * e, TERM_BITS - 2 - 2 * e, TERM_BITS - 4 * (e > 1 ? e : 1)};
    const double scale[4] = {std::ldexp(1.0, s[0]), std::ldexp(1.0, s[1]), std::ldexp(1.0, s[2]), std::ldexp(1.0, s[3])};

    std::vector<Sums> blocks(static_cast<std::size_t>(threads));
    for_row_blocks(lat.rows, threads, [&](int b, long r0, long r1) {
        if (lat.d == 2) sum_rows<2>(lat, f, r0, r1, scale, blocks[static_cast<std::size_t>(b)]);
        else sum_rows<3>(lat, f, r0, r1, scale, blocks[static_cast<std::size_t>(b)]);
    });
    Sums t;
    for (int mu = 0; mu < lat.d; ++mu) t.plane[mu].assign(static_cast<std::size_t>(L), 0);
    for (const Sums &b : blocks) {
        if (b.plane[0].empty()) continue;  // a block the team did not run
        t.phi2 += b.phi2;
        t.link += b.link;
        t.pot += b.pot;
        for (int mu = 0; mu < lat.d; ++mu)
            for (long c = 0; c < L; ++c) t.plane[mu][static_cast<std::size_t>(c)] += b.plane[mu][static_cast<std::size_t>(c)];
    }
    if (lat.team) {
        // The sums of all blocks, in one message: exact, so in any order.
        std::vector<Exact> all{t.phi2, t.link, t.pot};
        for (int mu = 0; mu < lat.d; ++mu) all.insert(all.end(), t.plane[mu].begin(), t.plane[mu].end());
        lat.team->sum(all.data(), all.size());
        t.phi2 = all[0];
        t.link = all[1];
        t.pot = all[2];
        for (int mu = 0; mu < lat.d; ++mu)
            for (long c = 0; c < L; ++c) t.plane[mu][static_cast<std::size_t>(c)] = all[static_cast<std::size_t>(3 + mu * L + c)];
    }
    Exact m = 0;
    for (long c = 0; c < L; ++c) m += t.plane[0][static_cast<std::size_t>(c)];

    const double V = static_cast<double>(lat.V);
    const double unscale1 = std::ldexp(1.0, -s[0]);
    double F = 0;
    for (int mu = 0; mu < lat.d; ++mu) {
        double re = 0, im = 0;
        for (long c = 0; c < L; ++c) {
            const double p = static_cast<double>(t.plane[mu][static_cast<std::size_t>(c)]) * unscale1;
            re += lat.cos_k[static_cast<std::size_t>(c)] * p;
            im += lat.sin_k[static_cast<std::size_t>(c)] * p;
        }
        F += re * re + im * im;
    }
    Sample out;
    out.m = static_cast<double>(m) * unscale1 / V;
    out.phi2 = static_cast<double>(t.phi2) * std::ldexp(1.0, -s[1]) / V;
    out.energy = static_cast<double>(t.link) * std::ldexp(1.0, -s[2]) / V;
    out.potential = static_cast<double>(t.pot) * std::ldexp(1.0, -s[3]) / V;
    out.F = F / (lat.d * V);
    return out;
}

}  // namespace o1hb
