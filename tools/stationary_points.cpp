// Real roots of c - 2*x*(1 - 2*landa) - 4*landa*x^3: the stationary points of
// the exponent h*x - x*x - landa*(x*x - 1)^2 (c = h), or of the gap between a
// tail's logarithm and it (c = h - slope of the tail).
#include <cmath>

#include "check.h"

namespace o1check {

namespace {

// Halvings of a bracket: from the widest, below 2e100, to within 1e-20 of
// the root (adjacent doubles for roots of magnitude 1e-4 and more).
constexpr int ROOT_BISECTION_STEPS = 400;

// Root of a decreasing (dir = -1) or increasing (dir = +1) cubic on [a, b]
// whose ends have opposite signs, by bisection.
double bisect(double landa, double c, double a, double b, int dir)
{
    for (int i = 0; i < ROOT_BISECTION_STEPS; ++i) {
        const double m = 0.5 * (a + b);
        if (m <= a || m >= b) break;
        const double f = slope(landa, c, m);
        if (f == 0) return m;
        if ((f > 0) == (dir < 0)) a = m;
        else b = m;
    }
    return 0.5 * (a + b);
}

}  // namespace

std::vector<double> stationary_points(double landa, double c)
{
    std::vector<double> r;
    if (landa == 0) {
        r.push_back(c / 2);
        return r;
    }
    // Beyond +-B the cubic term dominates: f(-B) > 0 > f(B).
    double B = 2 * std::cbrt((std::fabs(c) + 2 * std::fabs(1 - 2 * landa)) / (4 * landa)) + 2;
    while (!(slope(landa, c, -B) > 0 && slope(landa, c, B) < 0) && B < 1e100) B *= 2;
    if (landa <= 0.5) {
        // Decreasing everywhere: one root.
        r.push_back(bisect(landa, c, -B, B, -1));
        return r;
    }
    // Decreasing, increasing, decreasing, turning at -xs and xs.
    const double xs = std::sqrt((2 * landa - 1) / (6 * landa));
    const double fl = slope(landa, c, -xs), fr = slope(landa, c, xs);
    if (fl < 0) r.push_back(bisect(landa, c, -B, -xs, -1));
    else if (fl == 0) r.push_back(-xs);
    if (fl < 0 && fr > 0) r.push_back(bisect(landa, c, -xs, xs, +1));
    if (fr > 0) r.push_back(bisect(landa, c, xs, B, -1));
    else if (fr == 0 && fl != 0) r.push_back(xs);
    return r;
}

}  // namespace o1check
