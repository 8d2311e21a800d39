// The single-cluster update of the signs.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

long cluster_update(const Lattice &lat, double beta, std::vector<double> &phi, const SweepKey &k, std::uint32_t number,
                    std::vector<std::int32_t> &stack)
{
    // With |phi| fixed, S depends on the signs s_x only through
    // -beta sum |phi_x phi_y| s_x s_y: an Ising model with couplings
    // beta |phi_x phi_y|.  A link between two sites of equal sign joins the
    // cluster with probability 1 - exp(-2 beta |phi_x phi_y|).
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    double *f = phi.data();
    stack.resize(static_cast<std::size_t>(lat.V));
    CounterStream pick(k.key, StreamKind::ClusterSeed, k.sweep, number, 0);
    std::uint64_t unused;
    const long seed = o1phi4::detail::piece(pick(), static_cast<int>(lat.V), unused);
    if (f[seed] == 0) return 0;  // a zero field value has no sign to flip
    const double sign = f[seed] < 0 ? -1.0 : 1.0;
    // Members change sign as they join, so "has the seed's sign" means
    // "not in the cluster yet".  Each member tests its links once, with the
    // numbers of its own stream.
    std::size_t top = 0;
    stack[top++] = static_cast<std::int32_t>(seed);
    f[seed] = -f[seed];
    long size = 1;
    while (top > 0) {
        const std::int32_t x = stack[--top];
        const double ax = std::fabs(f[x]);
        const std::int32_t *nb = lat.nb.data() + static_cast<std::size_t>(x) * n;
        CounterStream g(k.key, StreamKind::ClusterLink, k.sweep, number, static_cast<std::uint32_t>(x));
        for (std::size_t i = 0; i < n; ++i) {
            const std::int32_t y = nb[i];
            const double fy = f[y] * sign;
            if (fy > 0 && unit_interval(g()) < -std::expm1(-2 * beta * ax * fy)) {
                f[y] = -f[y];
                stack[top++] = y;
                ++size;
            }
        }
    }
    return size;
}

}  // namespace o1hb
