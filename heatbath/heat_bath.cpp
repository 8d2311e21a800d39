// The heat-bath sweep.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

void heat_bath_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi, Rng &g,
                     HeatBathStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    double max_abs_h = st.max_abs_h;
    for (long x = 0; x < lat.V; ++x, nb += n) {
        double sum = 0;
        for (std::size_t k = 0; k < n; ++k) sum += f[nb[k]];
        const double h = beta * sum;
        // Not std::fmax: its NaN rules make it a library call.
        if (std::fabs(h) > max_abs_h) max_abs_h = std::fabs(h);
        f[x] = heat_bath_draw(s, h, g, st.draw);
    }
    st.max_abs_h = max_abs_h;
    st.draws += static_cast<std::uint64_t>(lat.V);
}

}  // namespace o1hb
