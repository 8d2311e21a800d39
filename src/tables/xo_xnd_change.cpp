#include <cmath>

#include "density/density.h"
#include "numeric/numeric.h"
#include "sampler/weight.h"
#include "tables/tables.h"

// The left tail is the tangent of log g1 at TANGENT_FAR for H below
// TANGENT_NEAR_FROM, at TANGENT_NEAR for H below SLOPE_H_FROM, and has the
// slope H from there on.
constexpr double TANGENT_NEAR_FROM = 1.0;
constexpr double SLOPE_H_FROM = 1.5;
constexpr double TANGENT_FAR = -1.1;
constexpr double TANGENT_NEAR = -1.0;
// The right tail's iteration starts at this multiple of the mode at Hsup.
constexpr double RIGHT_TAIL_START = 1.1;

// Left tail of the trial area a; returns its finite end.
static double build_left_tail(double a)
{
    if (H < SLOPE_H_FROM) {
        // Tangent of log g1 at x0 = -1.1 (H < 1) or -1 (1 <= H < 1.5).
        double x0 = (H < TANGENT_NEAR_FROM) ? TANGENT_FAR : TANGENT_NEAR;
        double s = g1p(H, x0);
        C1[0] = s;
        // log_weight with the shift 0: H x0 - x0^2 - Landa (x0^2 - 1)^2.
        C2[0] = o1phi4::log_weight(H, 0.0, Landa, x0) - s * x0 - H * X_max;
        C3[0] = (std::log(a * s) - C2[0]) / s;
    } else {
        // Slope H over the largest value of -x^2 - Landa (x^2 - 1)^2, which
        // is -1 + 1/(4 Landa).
        C3[0] = (std::log(a * H) + 1 - 1 / (4 * Landa)) / H + X_max;
        C1[0] = H;
        C2[0] = -H * X_max - 1 + 1 / (4 * Landa);
    }
    X_point[0] = 1;
    return C3[0];
}

// Right tail of the trial area a at entry n + 1: damped fixed-point
// iteration on the tangent point v of log g2, aiming at the point right of
// which the tangent holds the area a.
static void build_right_tail(double a, int n)
{
    double v = RIGHT_TAIL_START * X_max_sup;
    double F, S;
    int count = 0;
    for (;;) {
        count++;
        X0 = v;
        F = o1phi4::log_weight(Hsup, X_max, Landa, v);
        S = g1p(Hsup, v);
        Xlimit = v + (std::log(-a * S) - F) / S;
        if (X0 > Xlimit) {
            v = (X0 + Xlimit) / 2;
        } else {
            v = Xlimit;
        }
        if (count > TAIL_PASSES_MAX) break;
        if (std::fabs(Xlimit - X0) / Xlimit <= TAIL_REL_CHANGE && (!Strict_right_tail || X0 >= Xlimit))
            break;
    }
    X_point[n + 1] = 2;
    C1[n + 1] = S;
    C2[n + 1] = F - X0 * S;
    C3[n + 1] = X0;
    Xlimit = X0 + XLIMIT_MARGIN / n;
}

// Moves values[0..n] one slot up and puts the saved first entry back.
static void reinsert_first(double values[], const double save[], int *n)
{
    for (int j = *n; j >= 0; j--) values[j + 1] = values[j];
    values[0] = save[0];
    *n = *n + 2;
}

// Rescales both tails to the final area a and prints the debug lines.
static void finish_tails(double a, double f[], const double x[], int *n)
{
    *n = *n - 2;
    for (int j = *n; j >= 0; j--) f[j + 1] = f[j];
    *n = *n + 2;
    int last = *n - 1;
    C2[0] = std::log(a * C1[0]) - C1[0] * C3[0];
    C2[last] = std::log(-a * C1[last]) - C1[last] * C3[last];
    if (H == DEBUG_H) {
        console_printf("int=%f,x1=%f,a=%20.16e, b=%20.16e, exp(a*x1+b)/a=%20.16e\n", a, C3[0], C1[0], C2[0],
                    std::exp(C1[0] * C3[0] + C2[0]) / C1[0]);
        for (int j = 1; j <= last; j++)
            console_printf("x1=%f, f*Dx=%20.16e, a1=%f\n", x[j], (x[j + 1] - x[j]) * f[j], a);
        console_printf("int=%f,x1=%f,a=%20.16e, b=%20.16e, exp(a*x1+b)/a=%20.16e\n", a, C3[last], C1[last],
                    C2[last], std::exp(C1[last] * C3[last] + C2[last]) / C1[last]);
    }
}

double xo_xnd_change(int mode, double a, int *bin, double values[], double save[], int *n)
{
    switch (mode) {
    case XO_EVALUATE: {
        int k = *bin;
        if (k == 0 || k == *n - 1) return std::exp(C1[k] * a + C2[k]);
        return values[k];
    }
    case XO_BUILD_TAILS:
        save[0] = values[0];
        values[0] = build_left_tail(a);
        build_right_tail(a, *n);
        return 0;
    case XO_REINSERT_AFTER_SEARCH:
    case XO_REINSERT_AFTER_HEIGHTS:
        reinsert_first(values, save, n);
        return 0;
    case XO_REMOVE_FIRST:
        save[0] = values[0];
        *n = *n - 2;
        for (int j = 0; j <= *n; j++) values[j] = values[j + 1];
        return 0;
    case XO_FINISH_TAILS:
        finish_tails(a, values, save, n);
        return 0;
    case XO_DROP_TWO:
        *n = *n - 2;
        return 0;
    default:
        return 0;
    }
}
