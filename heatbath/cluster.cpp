// The single-cluster update of the signs.
#include <cmath>
#include <random>

#include "heatbath/heatbath.h"

namespace o1hb {

long cluster_update(const Lattice &lat, double beta, std::vector<double> &phi, Rng &g, std::vector<std::int32_t> &stack)
{
    // With |phi| fixed, S depends on the signs s_x only through
    // -beta sum |phi_x phi_y| s_x s_y: an Ising model with couplings
    // beta |phi_x phi_y|.  A link between two sites of equal sign joins the
    // cluster with probability 1 - exp(-2 beta |phi_x phi_y|).
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    double *f = phi.data();
    stack.resize(static_cast<std::size_t>(lat.V));
    const long seed = std::uniform_int_distribution<long>(0, lat.V - 1)(g);
    if (f[seed] == 0) return 0;  // a zero field value has no sign to flip
    const double sign = f[seed] < 0 ? -1.0 : 1.0;
    // Members change sign as they join, so "has the seed's sign" means
    // "not in the cluster yet".
    std::size_t top = 0;
    stack[top++] = static_cast<std::int32_t>(seed);
    f[seed] = -f[seed];
    long size = 1;
    while (top > 0) {
        const std::int32_t x = stack[--top];
        const double ax = std::fabs(f[x]);
        const std::int32_t *nb = lat.nb.data() + static_cast<std::size_t>(x) * n;
        for (std::size_t k = 0; k < n; ++k) {
            const std::int32_t y = nb[k];
            const double fy = f[y] * sign;
            if (fy > 0 && uniform(g) < -std::expm1(-2 * beta * ax * fy)) {
                f[y] = -f[y];
                stack[top++] = y;
                ++size;
            }
        }
    }
    return size;
}

}  // namespace o1hb
