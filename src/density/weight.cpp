#include <cmath>

#include "density/density.h"

double Landa;
thread_local double H;
thread_local double Hsup;
thread_local double X_max;
thread_local double X_min;
thread_local double X_max_sup;

double g1(double x)
{
    return std::exp(log_weight(H, X_max, x));
}

double g2(double x)
{
    return std::exp(log_weight(Hsup, X_max, x));
}

double log_weight(double h, double shift, double x)
{
    return h * (x - shift) - x * x - Landa * (x * x - 1) * (x * x - 1);
}

double g1p(double h, double x)
{
    return h - 2 * x * (1 - 2 * Landa) - 4 * Landa * x * x * x;
}
