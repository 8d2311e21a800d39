// The periodic lattice and its neighbour table.
#include <stdexcept>
#include <string>

#include "heatbath/heatbath.h"

namespace o1hb {

long lattice_sites(int d, int L)
{
    if (d < 1) throw std::invalid_argument("the dimension must be at least 1");
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
    return lat;
}

}  // namespace o1hb
