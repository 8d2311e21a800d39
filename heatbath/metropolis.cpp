// The Metropolis sweep.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

// hits proposals at one site with field value y and neighbour field h, from
// the site's stream g; returns the new value and counts the acceptances.
inline double metropolis_site(double y, double h, double landa, int hits, double step, CounterStream &g,
                              std::uint64_t &accepted)
{
    // The part of -S that depends on phi_x is the log weight of the heat
    // bath, w(y) = h y - y^2 - landa (y^2 - 1)^2 (shift 0).
    double wy = o1phi4::log_weight(h, 0.0, landa, y);
    for (int i = 0; i < hits; ++i) {
        const double z = y + step * (2 * unit_interval(g()) - 1);
        const double wz = o1phi4::log_weight(h, 0.0, landa, z);
        // Accept with probability min(1, exp(wz - wy)).
        if (wz >= wy || unit_interval(g()) < std::exp(wz - wy)) {
            y = z;
            wy = wz;
            ++accepted;
        }
    }
    return y;
}

template <int D>
void checkerboard_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                        const SweepKey &k, int threads, MetropolisStats &st)
{
    const long L = lat.L;
    std::vector<std::uint64_t> accepted(static_cast<std::size_t>(threads));
    for (int colour = 0; colour < 2; ++colour) {
        for_row_blocks(lat.rows, threads, [&](int b, long first_row, long end_row) {
            std::uint64_t a = 0;
            double *f = phi.data();
            // The first block of each site's stream (its first hit), a row at a time.
            std::vector<std::uint64_t> u(static_cast<std::size_t>(L / 2)), v(u.size());
            for (long r = first_row; r < end_row; ++r) {
                const RowNeighbours n = row_neighbours(lat, r);
                const long first = (colour + n.parity) & 1;
                double *row = f + n.offset;
                const Philox::ctr_type c = stream_counter(StreamKind::Metropolis, k.sweep, 0, n.site + static_cast<std::uint32_t>(first));
                philox_pairs(k.key, c, 2, u.size(), u.data(), v.data());
                for (long x0 = first; x0 < L; x0 += 2) {
                    const double sum = neighbour_sum<D>(f, row, n, L, x0);
                    Philox::ctr_type cj = c;
                    cj[1] += static_cast<std::uint32_t>(x0 - first);
                    const std::size_t j = static_cast<std::size_t>(x0 / 2);
                    CounterStream g(k.key, cj, u[j], v[j]);
                    row[x0] = metropolis_site(row[x0], beta * sum, landa, hits, step, g, a);
                }
            }
            accepted[static_cast<std::size_t>(b)] += a;
        });
        if (lat.team) lat.team->exchange(phi.data(), sizeof(double), colour);
    }
    for (std::uint64_t a : accepted) st.accepted += a;
}

void lexicographic_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                         const SweepKey &k, MetropolisStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    std::uint64_t accepted = 0;
    std::vector<std::uint64_t> first(static_cast<std::size_t>(lat.L)), second(first.size());
    for (long x = 0; x < lat.V; ++x, nb += n) {
        const std::size_t x0 = static_cast<std::size_t>(x % lat.L);
        const Philox::ctr_type c = stream_counter(StreamKind::Metropolis, k.sweep, 0, static_cast<std::uint32_t>(x));
        if (x0 == 0) philox_pairs(k.key, c, 1, first.size(), first.data(), second.data());
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i) sum += f[nb[i]];
        CounterStream g(k.key, c, first[x0], second[x0]);
        f[x] = metropolis_site(f[x], beta * sum, landa, hits, step, g, accepted);
    }
    st.accepted += accepted;
}

}  // namespace

void metropolis_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                      const SweepKey &k, Order order, int threads, MetropolisStats &st)
{
    if (order == Order::Lexicographic) lexicographic_sweep(lat, beta, landa, hits, step, phi, k, st);
    else if (lat.d == 2) checkerboard_sweep<2>(lat, beta, landa, hits, step, phi, k, threads, st);
    else checkerboard_sweep<3>(lat, beta, landa, hits, step, phi, k, threads, st);
    st.proposed += static_cast<std::uint64_t>(lat.V) * static_cast<std::uint64_t>(hits);
}

}  // namespace o1hb
