// The Metropolis sweep.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

void metropolis_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                      Rng &g, MetropolisStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    std::uint64_t accepted = 0;
    for (long x = 0; x < lat.V; ++x, nb += n) {
        double sum = 0;
        for (std::size_t k = 0; k < n; ++k) sum += f[nb[k]];
        const double h = beta * sum;
        // The part of S that depends on phi_x: s(y) = -h y + y^2 + landa (y^2 - 1)^2.
        double y = f[x];
        double sy = -h * y + y * y + landa * (y * y - 1) * (y * y - 1);
        for (int i = 0; i < hits; ++i) {
            const double z = y + step * (2 * uniform(g) - 1);
            const double sz = -h * z + z * z + landa * (z * z - 1) * (z * z - 1);
            // Accept with probability min(1, exp(sy - sz)).
            if (sz <= sy || uniform(g) < std::exp(sy - sz)) {
                y = z;
                sy = sz;
                ++accepted;
            }
        }
        f[x] = y;
    }
    st.proposed += static_cast<std::uint64_t>(lat.V) * static_cast<std::uint64_t>(hits);
    st.accepted += accepted;
}

}  // namespace o1hb
