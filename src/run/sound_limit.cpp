#include <cmath>

#include "density/density.h"
#include "run/run.h"

// Bisection steps for the limit: far below the six decimals it is shown with.
constexpr int LIMIT_BISECTION_STEPS = 100;
// Doublings of the upper bracket before the search gives up looking higher.
constexpr int LIMIT_DOUBLINGS = 60;
// First upper bracket of the limit.
constexpr double LIMIT_FIRST_GUESS = 100.0;

bool weight_sound_at(double h)
{
    double X = g1_Deltax_xmaximum_3(h);
    return !(std::exp(-X * X - Landa * (X * X - 1) * (X * X - 1)) < WEIGHT_FLOOR);
}

// The weight at the mode falls as h rises (h >= 0), so the limit is found by
// bracketing and bisection.
double largest_sound_H_max()
{
    double lo = 0.0;
    double hi = LIMIT_FIRST_GUESS;
    for (int i = 0; i < LIMIT_DOUBLINGS && weight_sound_at(hi); i++) {
        lo = hi;
        hi = 2 * hi;
    }
    for (int i = 0; i < LIMIT_BISECTION_STEPS && hi - lo > 1e-9 * hi; i++) {
        double m = 0.5 * (lo + hi);
        if (weight_sound_at(m)) {
            lo = m;
        } else {
            hi = m;
        }
    }
    return lo;
}
