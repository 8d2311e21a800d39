// The heat-bath sweep.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

// The field values beta * (sum of the 2d neighbours) of the sites of one
// colour in the row n, from its site `first` on in steps of 2, into h[0 .. L/2 - 1].
template <int D>
void row_fields(const Lattice &lat, const RowNeighbours &n, long first, double beta, const double *phi, double *h)
{
    const long L = lat.L;
    const double *row = phi + n.offset;
    for (long j = 0, x0 = first; j < L / 2; ++j, x0 += 2) h[j] = beta * neighbour_sum<D>(phi, row, n, L, x0);
}

template <int D>
void checkerboard_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                        const SweepKey &k, int threads, HeatBathStats &st)
{
    const long L = lat.L;
    const std::size_t half = static_cast<std::size_t>(L / 2);
    std::vector<HeatBathStats> blocks(static_cast<std::size_t>(threads));
    for (int colour = 0; colour < 2; ++colour) {
        for_row_blocks(lat.rows, threads, [&](int b, long first_row, long end_row) {
            HeatBathStats bs = blocks[static_cast<std::size_t>(b)];
            // A row at a time: the field values of its sites of this colour,
            // the first block of each site's stream, then the draws.
            std::vector<double> h(half);
            std::vector<Philox::ctr_type> first(half);
            double *f = phi.data();
            for (long r = first_row; r < end_row; ++r) {
                const RowNeighbours n = row_neighbours(lat, r);
                const long first_site = (colour + n.parity) & 1, x = n.offset + first_site;
                row_fields<D>(lat, n, first_site, beta, f, h.data());
                const Philox::ctr_type c = stream_counter(StreamKind::HeatBath, k.sweep, 0, n.site + static_cast<std::uint32_t>(first_site));
                philox_first_blocks(k.key, c, 2, half, first.data());
                for (std::size_t j = 0; j < half; ++j) {
                    // Not std::fmax: its NaN rules make it a library call.
                    if (std::fabs(h[j]) > bs.max_abs_h) bs.max_abs_h = std::fabs(h[j]);
                    Philox::ctr_type cj = c;
                    cj[1] += static_cast<std::uint32_t>(2 * j);
                    CounterStream g(k.key, cj, first[j]);
                    f[x + 2 * static_cast<long>(j)] = heat_bath_draw(s, h[j], g, bs.draw);
                }
                bs.draws += half;
            }
            blocks[static_cast<std::size_t>(b)] = bs;
        });
        if (lat.team) lat.team->exchange(phi.data(), sizeof(double), colour);
    }
    for (const HeatBathStats &bs : blocks) {
        st.draw.trials += bs.draw.trials;
        st.draw.fallback += bs.draw.fallback;
        st.draws += bs.draws;
        if (bs.max_abs_h > st.max_abs_h) st.max_abs_h = bs.max_abs_h;
    }
}

void lexicographic_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                         const SweepKey &k, HeatBathStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    double max_abs_h = st.max_abs_h;
    // The first blocks of the streams of a row do not depend on the field:
    // made in one batch, they leave the draws alone on the critical path.
    std::vector<Philox::ctr_type> first(static_cast<std::size_t>(lat.L));
    for (long x = 0; x < lat.V; ++x, nb += n) {
        const std::size_t x0 = static_cast<std::size_t>(x % lat.L);
        const Philox::ctr_type c = stream_counter(StreamKind::HeatBath, k.sweep, 0, static_cast<std::uint32_t>(x));
        if (x0 == 0) philox_first_blocks(k.key, c, 1, first.size(), first.data());
        // nb[1] = x - 1 was drawn just before x: added last, it leaves the
        // other additions free to run during that draw.
        double sum = f[nb[0]];
        for (std::size_t i = 2; i < n; ++i) sum += f[nb[i]];
        sum += f[nb[1]];
        const double h = beta * sum;
        if (std::fabs(h) > max_abs_h) max_abs_h = std::fabs(h);
        CounterStream g(k.key, c, first[x0]);
        f[x] = heat_bath_draw(s, h, g, st.draw);
    }
    st.max_abs_h = max_abs_h;
    st.draws += static_cast<std::uint64_t>(lat.V);
}

}  // namespace

void heat_bath_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                     const SweepKey &k, Order order, int threads, HeatBathStats &st)
{
    if (order == Order::Lexicographic) lexicographic_sweep(lat, beta, s, phi, k, st);
    else if (lat.d == 2) checkerboard_sweep<2>(lat, beta, s, phi, k, threads, st);
    else checkerboard_sweep<3>(lat, beta, s, phi, k, threads, st);
}

}  // namespace o1hb
