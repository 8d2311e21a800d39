#include <cmath>

#include "density/density.h"

// Bisection steps on one monotone piece: enough to reach adjacent doubles
// from any bracket the doubling below can produce.
constexpr int ROOT_BISECTION_STEPS = 2200;

// g1p(h, x) - c, the slope of the exponent shifted by c.
static double shifted_slope(double h, double c, double x)
{
    return g1p(h, x) - c;
}

// Root of the shifted slope on [lo, hi], where it falls from >= 0 at lo to
// <= 0 at hi (or rises from <= 0 to >= 0 when rising is true).
static double bisect(double h, double c, double lo, double hi, bool rising)
{
    for (int i = 0; i < ROOT_BISECTION_STEPS; i++) {
        double m = 0.5 * (lo + hi);
        if (!(m > lo && m < hi)) break;
        double v = shifted_slope(h, c, m);
        if (v == 0) return m;
        if ((v > 0) != rising) {
            lo = m;
        } else {
            hi = m;
        }
    }
    return 0.5 * (lo + hi);
}

int slope_roots(double h, double c, double roots[3])
{
    // The shifted slope falls on (-oo, -x_s] and on [x_s, oo) and rises on
    // [-x_s, x_s] (x_s = 0 for Landa = 0.5: it falls everywhere), so each
    // piece holds at most one root.
    double xs = (Landa > 0.5) ? std::sqrt((2 * Landa - 1) / (6 * Landa)) : 0.0;
    int n = 0;
    // Outer ends: double a bound until the slope has the sign of its limit.
    double left = -xs - 1;
    while (!(shifted_slope(h, c, left) > 0) && std::isfinite(left)) left = 2 * left;
    double right = xs + 1;
    while (!(shifted_slope(h, c, right) < 0) && std::isfinite(right)) right = 2 * right;
    if (!std::isfinite(left) || !std::isfinite(right)) return 0;

    double at_minus = shifted_slope(h, c, -xs), at_plus = shifted_slope(h, c, xs);
    if (at_minus <= 0) roots[n++] = bisect(h, c, left, -xs, false);
    if (xs > 0 && at_minus < 0 && at_plus > 0) roots[n++] = bisect(h, c, -xs, xs, true);
    if (at_plus >= 0 && !(xs == 0 && at_minus <= 0)) roots[n++] = bisect(h, c, xs, right, false);
    return n;
}
