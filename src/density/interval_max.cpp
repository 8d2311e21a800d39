#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"

// Exit status of the one fatal stop that does not go through nrerror.
constexpr int INTERVAL_MAX_EXIT = -1;

// Left of X_max the envelope runs along g1 (up to the left mode X_min, down
// into the valley, up to X_max), right of it along g2 (up to X_max_sup, then
// down), so the maximum is an end value or a mode value.
double g1_Deltax_max(double x1, double x2)
{
    if (x2 < X_min) return g1(x2);
    if (x1 < X_min && x2 < X_max) {
        double p = (g1(X_min) > g1(x2)) ? X_min : x2;
        return MODE_SAFETY * g1(p);
    }
    if (x1 < X_min && x2 > X_max) return g2(x2);
    if (x2 < X_max) {
        double p = (g1(x1) > g1(x2)) ? x1 : x2;
        return g1(p);
    }
    if (x2 < X_max_sup) return g2(x2);
    if (x1 < X_max_sup && x2 > X_max_sup) return MODE_SAFETY * g2(X_max_sup);
    if (x1 > X_max_sup) return g2(x1);
    console_printf("problem in g1_Deltax_max => exit\n");
    stop_program(INTERVAL_MAX_EXIT);
}

double g1_Deltax(double x1, double x2, double a)
{
    double m = g1_Deltax_max(x1, x2);
    return m * (x2 - x1) - a;
}

double root1(double (*fn)(double, double, double), double x1, double step, double a)
{
    double x = x1;
    for (;;) {
        x = x + step;
        double v = fn(x1, x, a);
        if (v == 0) return 1.01 * x;
        if (v > 0) return x;
        // Written as "not below" so that a non-finite Xlimit ends the scan
        // instead of running it for ever.
        if (!(x <= Xlimit)) return Xlimit + 1;
    }
}
