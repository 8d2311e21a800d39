// The periodic lattice and its neighbour table.
#include <cmath>
#include <stdexcept>
#include <string>

#include "heatbath/heatbath.h"

namespace o1hb {

long lattice_sites(int d, int L)
{
    if (d < 1 || d > MAX_DIM)
        throw std::invalid_argument("the dimension must be from 1 to " + std::to_string(MAX_DIM) + ", not " + std::to_string(d));
    if (L < 2) throw std::invalid_argument("the lattice size L must be at least 2, not " + std::to_string(L));
    long V = 1;
    for (int mu = 0; mu < d; ++mu) {
        if (V > MAX_SITES / L)
            throw std::invalid_argument("a lattice of " + std::to_string(L) + "^" + std::to_string(d) +
                                        " sites is larger than the limit of " + std::to_string(MAX_SITES));
        V *= L;
    }
    return V;
}

Lattice make_lattice(int d, int L)
{
    const long V = lattice_sites(d, L);
    Lattice lat;
    lat.d = d;
    lat.L = L;
    lat.V = V;
    lat.rows = V / L;
    lat.nb.resize(static_cast<std::size_t>(V) * 2 * static_cast<std::size_t>(d));
    for (long x = 0; x < V; ++x) {
        long stride = 1;
        for (int mu = 0; mu < d; ++mu) {
            // Coordinate c of x along mu; its neighbours differ by +-stride with wrap-around.
            const long c = (x / stride) % L;
            const long up = c + 1 < L ? x + stride : x - (L - 1) * stride;
            const long down = c > 0 ? x - stride : x + (L - 1) * stride;
            const std::size_t i = static_cast<std::size_t>(x) * 2 * static_cast<std::size_t>(d) + 2 * static_cast<std::size_t>(mu);
            lat.nb[i] = static_cast<std::int32_t>(up);
            lat.nb[i + 1] = static_cast<std::int32_t>(down);
            stride *= L;
        }
    }
    // The phases of the smallest momentum along one direction.
    constexpr double two_pi = 6.283185307179586476925286766559;
    lat.cos_k.resize(static_cast<std::size_t>(L));
    lat.sin_k.resize(static_cast<std::size_t>(L));
    for (int c = 0; c < L; ++c) {
        lat.cos_k[static_cast<std::size_t>(c)] = std::cos(two_pi * c / L);
        lat.sin_k[static_cast<std::size_t>(c)] = std::sin(two_pi * c / L);
    }
    return lat;
}

RowNeighbours row_neighbours(const Lattice &lat, long r)
{
    RowNeighbours n{};
    const long L = lat.L;
    long stride = 1;  // in rows: L^(mu - 1)
    int parity = 0;
    for (int mu = 1; mu < lat.d; ++mu) {
        const long c = (r / stride) % L;
        n.up[mu - 1] = (c + 1 < L ? r + stride : r - (L - 1) * stride) * L;
        n.down[mu - 1] = (c > 0 ? r - stride : r + (L - 1) * stride) * L;
        parity += static_cast<int>(c & 1);
        stride *= L;
    }
    n.parity = parity & 1;
    return n;
}

}  // namespace o1hb
