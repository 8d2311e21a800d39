#include <cmath>

#include "numeric/numeric.h"

double qromb(double (*func)(double), double a, double b)
{
    // T[j]: trapezoid estimate of stage j; h[j]: its relative squared
    // spacing, h[j+1] = h[j]/4.  Both 1-based.
    double T[QROMB_JMAX + 2];
    double h[QROMB_JMAX + 2];
    h[1] = 1.0;
    for (int j = 1; j <= QROMB_STAGES_ATTEMPTED; j++) {
        T[j] = trapzd(func, a, b, j);
        if (j >= QROMB_K) {
            double ss, dss;
            // Extrapolate T(h) through the latest five stages to h = 0.
            polint(&h[j - QROMB_K], &T[j - QROMB_K], QROMB_K, 0.0, &ss, &dss);
            if (QROMB_EPS * std::fabs(ss) > std::fabs(dss)) return ss;
            bool all_zero = true;
            for (int i = j - QROMB_K + 1; i <= j; i++) all_zero = all_zero && T[i] == 0.0;
            if (all_zero) nrerror("The integral is zero at every stage in routine qromb (the integrand underflows)");
        }
        h[j + 1] = 0.25 * h[j];
    }
    nrerror("Too many steps in routine qromb");
}
