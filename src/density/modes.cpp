#include <cmath>

#include "density/density.h"
#include "numeric/numeric.h"
#include "sampler/weight.h"

thread_local long Mode_search_steps;

// Both searches start at the slope's turning point x_s (or -x_s): the
// slope falls strictly on [x_s, oo) and on (-oo, -x_s], so each holds at
// most one mode.
static double start_point()
{
    return o1phi4::inflection(Landa);
}

double g1_Deltax_xmaximum_3(double h)
{
    Mode_search_steps = 0;
    double x = start_point();
    if (std::fabs(g1p(h, x)) < MODE_SLOPE_TOL) return x;
    // Scan right until the slope turns negative; the first step is taken
    // without looking at the slope at x_s.
    double p, v;
    long steps = 0;
    do {
        p = x;
        x = x + MODE_SCAN_STEP;
        v = g1p(h, x);
        if (v == 0) return x;
        if (++steps > MODE_SCAN_MAX) nrerror("!!! no right maximum of the weight found: the field value is too large");
        Mode_search_steps++;
    } while (v > 0);
    // Bisection on [p, x]: slope positive at p, negative at x.
    double m = x;
    for (int i = 0; i < MODE_BISECTION_MAX; i++) {
        Mode_search_steps++;
        m = (p + x) / 2;
        v = g1p(h, m);
        if (std::fabs(v) < MODE_SLOPE_TOL) return m;
        if (v < 0) x = m;
        if (v > 0) p = m;
    }
    return m;
}

double g1_Deltax_xmaximum_4(double h)
{
    Mode_search_steps = 0;
    double x = -start_point();
    if (std::fabs(g1p(h, x)) < MODE_SLOPE_TOL) return x;
    if (g1p(h, x) > 0) return NO_LEFT_MODE;
    // Scan left while the slope is negative.
    double q;
    long steps = 0;
    for (;;) {
        q = x;
        x = x - MODE_SCAN_STEP;
        if (std::fabs(g1p(h, x)) < MODE_SLOPE_TOL) return x;
        if (!(g1p(h, x) < 0)) break;
        if (++steps > MODE_SCAN_MAX) nrerror("!!! no left maximum of the weight found: the field value is too large");
        Mode_search_steps++;
    }
    // Bisection on [x, q]: slope positive at x, negative at q.
    double m = x;
    for (int i = 0; i < MODE_BISECTION_MAX; i++) {
        Mode_search_steps++;
        m = (q + x) / 2;
        double v = g1p(h, m);
        if (std::fabs(v) < MODE_SLOPE_TOL) return m;
        if (v < 0) q = m;
        if (v > 0) x = m;
    }
    return m;
}
