#include <cmath>
#include <cstdio>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"

// Field values checked strictly between the ends of a histogram's range
// (the ends decide, since the log weight is linear in h at fixed x).
constexpr int PROOF_INNER_FIELDS = 3;
// Rounding allowed in log majorant - log weight: far below any real fault.
constexpr double PROOF_LOG_TOL = 1e-9;

// The worst point found so far.
struct Worst {
    double gap = INFINITY;
    double x = 0;
};

static void look(Worst &w, double gap, double x)
{
    if (!(gap >= w.gap)) {
        w.gap = gap;
        w.x = x;
    }
}

// Smallest log majorant - log weight at field value h over the histogram as
// the block writes it: left tail below p[0], steps [p[k], p[k+1]] of height
// a/(p[k+1] - p[k]) (its logarithm in top[k]), right tail above
// p[Nd_poi - 1].  The minimum over a tail lies at its anchor or where the
// slopes agree, the maximum of the weight over a step at an end or at a
// stationary point inside.
static Worst smallest_gap(double h, const double p[], const double top[])
{
    Worst w;
    const int last = Nd_poi - 1;
    double r[3];
    look(w, C1[0] * p[0] + C2[0] - log_weight(h, X_max, p[0]), p[0]);
    for (int i = slope_roots(h, C1[0], r) - 1; i >= 0; i--)
        if (r[i] < p[0]) look(w, C1[0] * r[i] + C2[0] - log_weight(h, X_max, r[i]), r[i]);
    look(w, C1[last] * p[last] + C2[last] - log_weight(h, X_max, p[last]), p[last]);
    for (int i = slope_roots(h, C1[last], r) - 1; i >= 0; i--)
        if (r[i] > p[last]) look(w, C1[last] * r[i] + C2[last] - log_weight(h, X_max, r[i]), r[i]);

    int modes = slope_roots(h, 0.0, r);
    // The step region must join the left tail without a gap.
    if (!(p[1] <= p[0])) look(w, -INFINITY, p[0]);
    for (int k = 1; k < last; k++) {
        if (!(p[k + 1] - p[k] > 0)) {
            look(w, -INFINITY, p[k]);
            continue;
        }
        look(w, top[k] - log_weight(h, X_max, p[k]), p[k]);
        look(w, top[k] - log_weight(h, X_max, p[k + 1]), p[k + 1]);
        for (int i = 0; i < modes; i++)
            if (r[i] > p[k] && r[i] < p[k + 1]) look(w, top[k] - log_weight(h, X_max, r[i]), r[i]);
    }
    return w;
}

void prove_majorant(int j, double a, double h_lo, double h_hi)
{
    // Positions as the block writes them, and the log height of every step,
    // the same at every field value.
    std::vector<double> pos(static_cast<size_t>(Nd_poi)), top(static_cast<size_t>(Nd_poi), 0.0);
    for (int k = 0; k < Nd_poi; k++) pos[k] = (X_point[k] != 0) ? C3[k] : x1[k];
    const double *p = pos.data();
    for (int k = 1; k < Nd_poi - 1; k++)
        if (p[k + 1] - p[k] > 0) top[k] = std::log(a / (p[k + 1] - p[k]));
    for (int i = 0; i <= PROOF_INNER_FIELDS + 1; i++) {
        double h = (i == PROOF_INNER_FIELDS + 1) ? h_hi : h_lo + (h_hi - h_lo) * i / (PROOF_INNER_FIELDS + 1);
        Worst w = smallest_gap(h, p, top.data());
        if (!(w.gap >= -PROOF_LOG_TOL)) {
            char msg[300];
            std::snprintf(msg, sizeof msg,
                          "!!! Histogram=%d, H=%f: the majorant lies below the weight at h=%.9g, x=%.9g "
                          "(majorant/weight=%.6g), change the %% of losses",
                          j, H, h, w.x, std::exp(w.gap));
            nrerror(msg);
        }
    }
}
