#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"

// Least factor by which the area is raised.
constexpr double AREA_MARGIN = 1.001;

double corrections(double x1[], double f1[], double *a, int Nd_poi)
{
    int n = Nd_poi;
    int k = 0;
    std::vector<double> save(static_cast<size_t>(Nd_poi) + 1, 0.0);
    xo_xnd_change(4, *a, &k, x1, save.data(), &n);

    // Back to the start of the right tail, and pin the last edge there.
    Xlimit = Xlimit - XLIMIT_MARGIN / n;
    x1[n] = Xlimit;
    if (x1[n - 2] >= Xlimit) nrerror("change the % of losses");
    // The last two bins share [x1[n-2], Xlimit] 3 to 2 when the last edge
    // came out at or beyond Xlimit.
    if (x1[n - 1] >= Xlimit) x1[n - 1] = x1[n - 2] + 3 * (Xlimit - x1[n - 2]) / 5;

    // Correction ratio: 1.001 max(1, m/h) for the last bin's height h and bound m.
    double h = *a / (Xlimit - x1[n - 1]);
    double m = g1_Deltax_max(x1[n - 1], Xlimit);
    double r;
    if (h > m) {
        r = AREA_MARGIN;
    } else {
        r = AREA_MARGIN * m / h;
    }
    *a = r * *a;

    for (k = 0; k < n; k++) {
        f1[k] = *a / (x1[k + 1] - x1[k]);
        double mk = g1_Deltax_max(x1[k], x1[k + 1]);
        if (mk > f1[k]) {
            console_error("!!! for f1[%d]=%f <max=%f on [%f,%f]\n", k, f1[k], mk, x1[k], x1[k + 1]);
            nrerror("f1 must be > max of the function g1");
        }
    }
    xo_xnd_change(5, *a, &k, x1, save.data(), &n);
    xo_xnd_change(6, *a, &k, f1, x1, &n);
    if (H == DEBUG_H) console_printf("Xlimit=%f, x1=%f\n", Xlimit, C3[Nd_poi - 1]);
    return r;
}
