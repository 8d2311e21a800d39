#include <cmath>
#include <cstdio>

#include "density/density.h"
#include "numeric/numeric.h"
#include "run/run.h"

// Absolute tolerance of the bisection on the loss ratio.
constexpr double LOSS_RATIO_TOL = 0.01;
// Midpoints of the bisection (the count test is "> 1000").
constexpr int GRID_BISECTION_MAX = 1000;
// Below this field value the outward step is H 1.3 + 0.1, from it on H 1.1.
constexpr double STEP_SWITCH = 50.0;
constexpr double STEP_GROWTH_LOW = 1.3;
constexpr double STEP_OFFSET_LOW = 0.1;
constexpr double STEP_GROWTH_HIGH = 1.1;

// The integral left of the mode is taken in six pieces closing in on X_max,
// where the weight is largest: [-3, X_max - 0.1], [X_max - 0.1, X_max - 0.01],
// ..., [X_max - 0.00001, X_max].
constexpr int N_PIECES = 6;
constexpr double PIECE_GAP[N_PIECES + 1] = {0, 0.1, 0.01, 0.001, 0.0001, 0.00001, 0};

// Integral of g1 over piece i (1..N_PIECES).
static double piece(int i)
{
    double from = (i == 1) ? X_LEFT : X_max - PIECE_GAP[i - 1];
    double to = (i == N_PIECES) ? X_max : X_max - PIECE_GAP[i];
    return qromb(g1, from, to);
}

double left_integral()
{
    double S = piece(1);
    for (int i = 2; i <= N_PIECES; i++) S = S + piece(i);
    return S;
}

double loss_ratio(double u)
{
    // The pieces are taken from u one by one, in the order of left_integral.
    double d = u;
    for (int i = 1; i <= N_PIECES; i++) d = d - piece(i);
    return 1 + d / u;
}

void find_H_all()
{
    H = H0;
    count = 0;
    H_result[0] = H0;
    if (H_max <= H0) return;
    for (;;) {
        // A new base value: its mode and the mass left of it.
        X_max = g1_Deltax_xmaximum_3(H);
        double u = left_integral();
        H_result[count] = H;
        double lo = H;
        double r;
        do {
            if (H < STEP_SWITCH) {
                H = H * STEP_GROWTH_LOW + STEP_OFFSET_LOW;
            } else {
                H = H * STEP_GROWTH_HIGH;
            }
            r = loss_ratio(u);
        } while (r < factor);
        double hi = H;
        for (int n = 1;; n++) {
            H = (lo + hi) * 0.5;
            r = loss_ratio(u);
            if (std::fabs(r - factor) < LOSS_RATIO_TOL) break;
            if (n > GRID_BISECTION_MAX) break;
            if (r < factor) {
                lo = H;
            } else {
                hi = H;
            }
        }
        if (count + 1 >= GRID_SIZE) {
            char msg[200];
            std::snprintf(msg, sizeof msg,
                          "!!! The grid needs more than %d field values: increase the losses or decrease H_max",
                          GRID_SIZE);
            nrerror(msg);
        }
        count = count + 1;
        H_result[count] = H;
        if (count % 10 == 0) std::printf("count=%d, H_result=%f\n", count, H);
        if (!(H_max > H)) return;
    }
}
