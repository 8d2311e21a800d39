#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"

// Least factor by which the area is raised.
constexpr double AREA_MARGIN = 1.001;

double corrections(double edges[], double heights[], double *a, int nd)
{
    int n = nd;
    int k = 0;
    std::vector<double> save(static_cast<size_t>(nd) + 1, 0.0);
    xo_xnd_change(XO_REMOVE_FIRST, *a, &k, edges, save.data(), &n);

    // Back to the start of the right tail, and pin the last edge there.
    Xlimit = Xlimit - XLIMIT_MARGIN / n;
    edges[n] = Xlimit;
    if (edges[n - 2] >= Xlimit) nrerror("change the % of losses");
    // The last two bins share [x1[n-2], Xlimit] 3 to 2 when the last edge
    // came out at or beyond Xlimit.
    if (edges[n - 1] >= Xlimit) edges[n - 1] = edges[n - 2] + 3 * (Xlimit - edges[n - 2]) / 5;

    // Correction ratio: 1.001 max(1, m/h) for the last bin's height h and bound m.
    double h = *a / (Xlimit - edges[n - 1]);
    double m = g1_Deltax_max(edges[n - 1], Xlimit);
    double r;
    if (h > m) {
        r = AREA_MARGIN;
    } else {
        r = AREA_MARGIN * m / h;
    }
    *a = r * *a;

    for (k = 0; k < n; k++) {
        heights[k] = *a / (edges[k + 1] - edges[k]);
        double mk = g1_Deltax_max(edges[k], edges[k + 1]);
        if (mk > heights[k]) {
            console_error("!!! for f1[%d]=%f <max=%f on [%f,%f]\n", k, heights[k], mk, edges[k], edges[k + 1]);
            nrerror("f1 must be > max of the function g1");
        }
    }
    xo_xnd_change(XO_REINSERT_AFTER_HEIGHTS, *a, &k, edges, save.data(), &n);
    xo_xnd_change(XO_FINISH_TAILS, *a, &k, heights, edges, &n);
    if (H == DEBUG_H) console_printf("Xlimit=%f, x1=%f\n", Xlimit, C3[nd - 1]);
    return r;
}
