#include <cmath>

#include "density/density.h"
#include "run/run.h"
#include "sampler/weight.h"

// Bisection steps for the limit: far below the six decimals it is shown with.
constexpr int LIMIT_BISECTION_STEPS = 100;
// Doublings of the upper bracket before the search gives up looking higher.
constexpr int LIMIT_DOUBLINGS = 60;
// First upper bracket of the limit.
constexpr double LIMIT_FIRST_GUESS = 100.0;
// Step of the scan for the first unsound field value below the bracket.
constexpr double LIMIT_SCAN_STEP = 1.0;
// Points of the first five Romberg stages beyond the first (2^4 intervals).
constexpr int QUAD_SAMPLES = 16;
// Largest sample of the weight below which the integral is taken as blind
// (the smallest normal double is about 2.2e-308).
constexpr double SAMPLE_FLOOR = 1e-300;

bool weight_sound_at(double h)
{
    double X = g1_Deltax_xmaximum_3(h);
    if (std::exp(o1phi4::log_weight(h, X, Landa, X)) < WEIGHT_FLOOR) return false;
    // The first stages of phase 2's integral over [X_LEFT, X_RIGHT] sample
    // the weight at QUAD_SAMPLES + 1 evenly spaced points; a peak so narrow
    // that all of them underflow leaves the quadrature nothing to see.
    double best = -INFINITY;
    for (int k = 0; k <= QUAD_SAMPLES; k++)
        best = std::fmax(best, o1phi4::log_weight(h, X, Landa, X_LEFT + k * (X_RIGHT - X_LEFT) / QUAD_SAMPLES));
    return !(std::exp(best) < SAMPLE_FLOOR);
}

// The weight at the mode falls as h rises (h >= 0), but the samples of the
// integral need not: the limit is the first field value that fails, found
// by a scan in steps of LIMIT_SCAN_STEP and a bisection behind it.
double largest_sound_H_max()
{
    double lo = 0.0;
    double hi = LIMIT_FIRST_GUESS;
    for (int i = 0; i < LIMIT_DOUBLINGS && weight_sound_at(hi); i++) {
        lo = hi;
        hi = 2 * hi;
    }
    for (double h = 0.0; h < hi; h += LIMIT_SCAN_STEP) {
        if (!weight_sound_at(h)) {
            hi = h;
            break;
        }
        lo = h;
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
