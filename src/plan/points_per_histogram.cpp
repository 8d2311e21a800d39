#include "plan/plan.h"

// The rule: for a loss factor f above SWITCH, COARSE/(f - COARSE_POLE) + 1
// points, else FINE/(f - FINE_POLE), truncated, from 1 to ND_MAX.
constexpr double SWITCH = 1.07;
constexpr double COARSE = 3;
constexpr double COARSE_POLE = 1.02;
constexpr double FINE = 5;
constexpr double FINE_POLE = 1.002;

int points_per_histogram(double f, bool *capped)
{
    double v;
    if (f > SWITCH) {
        v = COARSE / (f - COARSE_POLE) + 1;
    } else {
        v = FINE / (f - FINE_POLE);
    }
    // Truncation toward zero, done on the double so that no out-of-range
    // value is ever converted to int.
    bool cap = !(v < ND_MAX + 1);
    if (capped) *capped = cap;
    if (cap) return ND_MAX;
    if (v < 1) return 1;
    return static_cast<int>(v);
}
