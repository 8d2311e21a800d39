#include <cmath>
#include <cstdio>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"

double find_x(double x_prev, double a)
{
    if (x_prev > Xlimit) return Xlimit + 1;
    // Scan for the first point where the bin equation turns positive, then
    // refine inside the last scan step.
    double hi = root1(g1_Deltax, x_prev, Acc_interval, a, Xlimit);
    double lo = hi - Acc_interval;
    if (lo > Xlimit) return Xlimit + 1;
    double r = zriddr(g1_Deltax, x_prev, lo, hi, Acc_ridders, a);
    // Still the same sign one accuracy step to the right: move the edge left,
    // which narrows the bin and raises its height.
    if (g1_Deltax(x_prev, r, a) * g1_Deltax(x_prev, r + Acc_ridders, a) > 0) r = r - Acc_ridders;
    return r;
}

[[noreturn]] static void no_area(const char *why)
{
    char msg[240];
    std::snprintf(msg, sizeof msg, "!!! no area found for the histogram at H=%f: %s", H, why);
    nrerror(msg);
}

void find_x_all(double a, double edges[], int n)
{
    std::vector<double> save(static_cast<size_t>(n) + 1, 0.0);
    int i = 0;
    xo_xnd_change(XO_BUILD_TAILS, a, &i, edges, save.data(), &n);
    // Tails that are not numbers leave no region to lay bins in.
    if (!std::isfinite(edges[0]) || !std::isfinite(Xlimit)) no_area("the tails of the trial area are not finite");
    for (i = 1; i <= n; i++) edges[i] = find_x(edges[i - 1], a);
}

// Stops when the bracketing of the area has not closed in AREA_BRACKET_MAX steps.
static void check_bracket_steps(int steps)
{
    if (steps > AREA_BRACKET_MAX) no_area("the last edge never changes side of Xlimit");
}

double find_a(double a0, double edges[], int nd)
{
    int counter = 0;
    int n = nd;
    // Save slot of the reinsertion at the end: never written by the search,
    // so x1[0] comes back as 0.
    std::vector<double> save(static_cast<size_t>(nd) + 1, 0.0);
    xo_xnd_change(XO_DROP_TWO, a0, &counter, edges, save.data(), &n);

    double A = a0;
    double B;
    find_x_all(A, edges, n);
    int steps = 0;
    if (edges[n] - Xlimit < 0) {
        // Area too small: grow it until the last edge reaches Xlimit.
        do {
            check_bracket_steps(++steps);
            A = AREA_BRACKET_FACTOR * A;
            find_x_all(A, edges, n);
        } while (!(edges[n] - Xlimit >= 0));
        B = A;
        A = A / AREA_BRACKET_FACTOR;
    } else {
        // Area too large (or just right): shrink it until the last edge falls short.
        do {
            check_bracket_steps(++steps);
            A = A / AREA_BRACKET_FACTOR;
            find_x_all(A, edges, n);
        } while (!(edges[n] - Xlimit < 0));
        B = AREA_BRACKET_FACTOR * A;
    }

    if (!(std::fabs(edges[n] - Xlimit) <= Acc_a)) {
        // Bisection: A keeps a last edge short of Xlimit, B one that reaches it.
        for (;;) {
            double m = (A + B) / 2;
            find_x_all(m, edges, n);
            if (edges[n] < Xlimit) {
                A = m;
            } else {
                B = m;
            }
            bool out_of_steps = counter > AREA_BISECTION_MAX;
            counter++;
            if (out_of_steps) break;
            double d = std::fabs(edges[n] - Xlimit);
            if (d < 1.0 / (AREA_TOL_BINS * n)) break;
            if (d <= Acc_a) break;
        }
    }
    // Where Xlimit jumps with the area, the search can end on a trial area
    // whose edges ran past the start of the right tail by more than the last
    // bin, leaving the corrections no room for the last two bins.  The lower
    // end of the bracket keeps its last edge short of Xlimit: lay its edges.
    if (edges[n - 2] >= Xlimit - XLIMIT_MARGIN / n) find_x_all(A, edges, n);
    xo_xnd_change(XO_REINSERT_AFTER_SEARCH, A, &counter, edges, save.data(), &n);
    return B;
}
