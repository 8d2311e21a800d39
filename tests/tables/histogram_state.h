// The globals the driver sets before it builds a histogram, for tests that
// build one piece by piece.
#pragma once

#include "density/density.h"
#include "tables/tables.h"

// Landa = 1, field values h and hsup, the three modes, the accuracies, and
// the ordinary (not strict) right-tail iteration.
inline void set_histogram(double h, double hsup)
{
    Landa = 1.0;
    H = h;
    Hsup = hsup;
    X_min = g1_Deltax_xmaximum_4(H);
    X_max = g1_Deltax_xmaximum_3(H);
    X_max_sup = g1_Deltax_xmaximum_3(Hsup);
    Acc_interval = ACC_INTERVAL;
    Acc_ridders = ACC_RIDDERS;
    Acc_a = ACC_A;
    Strict_right_tail = false;
}
