#include <cmath>

#include "numeric/numeric.h"

void polint(const double xa[], const double ya[], int n, double x, double *y, double *dy)
{
    int ns = 1;
    double dif = std::fabs(x - xa[1]);
    double *c = vector(1, n);
    double *d = vector(1, n);
    for (int i = 1; i <= n; i++) {
        double dift = std::fabs(x - xa[i]);
        if (dift < dif) {
            ns = i;
            dif = dift;
        }
        c[i] = ya[i];
        d[i] = ya[i];
    }
    *y = ya[ns--];
    // Tableau columns m = 1..n-1: c[i], d[i] are the corrections that raise
    // the order by one, going up (c) or down (d) the tableau.
    for (int m = 1; m < n; m++) {
        for (int i = 1; i <= n - m; i++) {
            double ho = xa[i] - x;
            double hp = xa[i + m] - x;
            double w = c[i + 1] - d[i];
            double den = ho - hp;
            if (den == 0.0) nrerror("Error in routine polint");
            den = w / den;
            d[i] = hp * den;
            c[i] = ho * den;
        }
        // Take the path through the tableau that stays closest to x.
        if (2 * ns < (n - m)) {
            *dy = c[ns + 1];
        } else {
            *dy = d[ns--];
        }
        *y += *dy;
    }
    free_vector(d, 1, n);
    free_vector(c, 1, n);
}
