#include <cmath>

#include "density/density.h"
#include "numeric/numeric.h"

// Exit status of the one fatal stop that does not go through nrerror.
constexpr int INTERVAL_MAX_EXIT = -1;
// The scan returns its point times this when the bin equation is exactly 0
// there.
constexpr double EXACT_ZERO_FACTOR = 1.01;

namespace {

// A weight at one abscissa, kept with everything it depends on.  The bin
// search asks for many intervals with the same left end (the scan and the
// root finder move only the right end) and the modes stay for a whole
// histogram, so their weights are computed once instead of at every call;
// the value is the same double either way.
struct KeptWeight {
    double x = NAN, h = NAN, shift = NAN, landa = NAN;
    double value = 0;
};

// weight(x) at field value h (H for g1, Hsup for g2), from keep when
// nothing it depends on has changed.
double kept(KeptWeight &keep, double (*weight)(double), double h, double x)
{
    if (!(x == keep.x && h == keep.h && X_max == keep.shift && Landa == keep.landa)) {
        keep.x = x;
        keep.h = h;
        keep.shift = X_max;
        keep.landa = Landa;
        keep.value = weight(x);
    }
    return keep.value;
}

}  // namespace

// Left of X_max the envelope runs along g1 (up to the left mode X_min, down
// into the valley, up to X_max), right of it along g2 (up to X_max_sup, then
// down), so the maximum is an end value or a mode value.
double g1_Deltax_max(double x1, double x2)
{
    static thread_local KeptWeight g1_mode, g1_left, g2_mode, g2_left;
    if (x2 < X_min) return g1(x2);
    if (x1 < X_min && x2 < X_max) {
        double m = kept(g1_mode, g1, H, X_min), e = g1(x2);
        return MODE_SAFETY * ((m > e) ? m : e);
    }
    if (x1 < X_min && x2 > X_max) return g2(x2);
    if (x2 < X_max) {
        double l = kept(g1_left, g1, H, x1), r = g1(x2);
        return (l > r) ? l : r;
    }
    if (x2 < X_max_sup) return g2(x2);
    if (x1 < X_max_sup && x2 > X_max_sup) return MODE_SAFETY * kept(g2_mode, g2, Hsup, X_max_sup);
    if (x1 > X_max_sup) return kept(g2_left, g2, Hsup, x1);
    console_printf("problem in g1_Deltax_max => exit\n");
    stop_program(INTERVAL_MAX_EXIT);
}

double g1_Deltax(double x1, double x2, double a)
{
    double m = g1_Deltax_max(x1, x2);
    return m * (x2 - x1) - a;
}

double root1(double (*fn)(double, double, double), double x1, double step, double a, double xlimit)
{
    double x = x1;
    for (;;) {
        x = x + step;
        double v = fn(x1, x, a);
        if (v == 0) return EXACT_ZERO_FACTOR * x;
        if (v > 0) return x;
        // Written as "not below" so that a non-finite xlimit ends the scan
        // instead of running it for ever.
        if (!(x <= xlimit)) return xlimit + 1;
    }
}
