#include "numeric/numeric.h"

// Running trapezoid estimate of the latest stage, shared by every quadrature
// of the calling thread.
static thread_local double s;

double trapzd(double (*func)(double), double a, double b, int n)
{
    if (n == 1) {
        // T1 = (b - a)/2 (f(a) + f(b)), f(a) evaluated first.
        double fa = func(a);
        double fb = func(b);
        s = 0.5 * (b - a) * (fa + fb);
    } else {
        // T_n = (T_(n-1) + (b - a) * mean of the k new midpoints)/2, k = 2^(n-2).
        int it = 1 << (n - 2);
        double tnm = it;
        double del = (b - a) / tnm;
        double x = a + 0.5 * del;
        double sum = 0.0;
        for (int j = 1; j <= it; j++, x += del) sum += func(x);
        s = 0.5 * (s + (b - a) * sum / tnm);
    }
    return s;
}
