#include <cmath>

#include "numeric/numeric.h"

double zriddr(double (*func)(double, double, double), double A, double x1, double x2,
              double xacc, double B)
{
    double fl = func(A, x1, B);
    double fh = func(A, x2, B);
    if ((fl > 0.0 && fh < 0.0) || (fl < 0.0 && fh > 0.0)) {
        double xl = x1;
        double xh = x2;
        double ans = ZRIDDR_UNUSED;
        for (int j = 1; j <= ZRIDDR_MAXIT; j++) {
            double xm = 0.5 * (xl + xh);
            double fm = func(A, xm, B);
            double s = std::sqrt(fm * fm - fl * fh);
            // s = 0 needs fm = 0 with an underflowed fl*fh: the midpoint is
            // then a root inside the bracket (never hand back the marker).
            if (s == 0.0) return xm;
            // Ridders' update: x_new = x_m + (x_m - x_l) sign(f_l - f_h) f_m / s.
            double xnew = xm + (xm - xl) * ((fl >= fh ? 1.0 : -1.0) * fm / s);
            if (std::fabs(xnew - ans) <= xacc) return ans;
            ans = xnew;
            double fnew = func(A, ans, B);
            if (fnew == 0.0) return ans;
            // Keep a bracket around the root; a value of exactly 0 differs in
            // sign from nothing.
            if (fm * fnew < 0.0) {
                xl = xm;
                fl = fm;
                xh = ans;
                fh = fnew;
            } else if (fl * fnew < 0.0) {
                xh = ans;
                fh = fnew;
            } else if (fh * fnew < 0.0) {
                xl = ans;
                fl = fnew;
            } else {
                nrerror("never get here.");
            }
            if (std::fabs(xh - xl) <= xacc) return ans;
        }
        nrerror("zriddr exceed maximum iterations");
    }
    if (fl == 0.0) return x1;
    if (fh == 0.0) return x2;
    nrerror("root must be bracketed in zriddr.");
}
