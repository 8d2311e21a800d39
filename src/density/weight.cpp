// The weight and its slope at the run's Landa, through the formulas of
// sampler/weight.h.
#include "density/density.h"
#include "sampler/weight.h"

double Landa;
thread_local double H;
thread_local double Hsup;
thread_local double X_max;
thread_local double X_min;
thread_local double X_max_sup;

double g1(double x)
{
    return o1phi4::weight(H, X_max, Landa, x);
}

double g2(double x)
{
    return o1phi4::weight(Hsup, X_max, Landa, x);
}

double g1p(double h, double x)
{
    return o1phi4::slope(Landa, h, x);
}
