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
        // nb[1] = x - 1 was drawn just before x: added last, it leaves the
        // other additions free to run during that draw.
        double sum = f[nb[0]];
        for (std::size_t k = 2; k < n; ++k) sum += f[nb[k]];
        sum += f[nb[1]];
        const double h = beta * sum;
        // Not std::fmax: its NaN rules make it a library call.
        if (std::fabs(h) > max_abs_h) max_abs_h = std::fabs(h);
        f[x] = heat_bath_draw(s, h, g, st.draw);
    }
    st.max_abs_h = max_abs_h;
    st.draws += static_cast<std::uint64_t>(lat.V);
}

}  // namespace o1hb
