// The measurements of one configuration.
#include "heatbath/heatbath.h"

namespace o1hb {

Sample measure(const Lattice &lat, const std::vector<double> &phi)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    double m = 0, phi2 = 0, link = 0, pot = 0;
    for (long x = 0; x < lat.V; ++x) {
        const double y = phi[static_cast<std::size_t>(x)];
        const std::int32_t *nb = lat.nb.data() + static_cast<std::size_t>(x) * n;
        double forward = 0;  // neighbours x + mu: every link once
        for (std::size_t k = 0; k < n; k += 2) forward += phi[static_cast<std::size_t>(nb[k])];
        m += y;
        phi2 += y * y;
        link += y * forward;
        pot += (y * y - 1) * (y * y - 1);
    }
    const double V = static_cast<double>(lat.V);
    return Sample{m / V, phi2 / V, link / V, pot / V};
}

}  // namespace o1hb
