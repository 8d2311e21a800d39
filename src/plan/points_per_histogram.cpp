#include "plan/plan.h"

int points_per_histogram(double f, bool *capped)
{
    double v;
    if (f > 1.07) {
        v = 3 / (f - 1.02) + 1;
    } else {
        v = 5 / (f - 1.002);
    }
    // Truncation toward zero, done on the double so that no out-of-range
    // value is ever converted to int.
    bool cap = !(v < ND_MAX + 1);
    if (capped) *capped = cap;
    if (cap) return ND_MAX;
    if (v < 1) return 1;
    return static_cast<int>(v);
}
