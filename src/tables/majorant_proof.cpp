#include <cmath>
#include <cstdio>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "sampler/weight.h"
#include "tables/tables.h"

// Field values checked strictly between the ends of a histogram's range
// (the ends decide, since the log weight is linear in h at fixed x).
constexpr int PROOF_INNER_FIELDS = 3;
// Rounding allowed in log majorant - log weight: far below any real fault.
constexpr double PROOF_LOG_TOL = 1e-9;

void prove_majorant(int j, double a, double h_lo, double h_hi)
{
    // Positions as the block writes them, and the log height of every step,
    // the same at every field value.
    const int last = Nd_poi - 1;
    std::vector<double> pos(static_cast<size_t>(Nd_poi)), top(static_cast<size_t>(Nd_poi), 0.0);
    for (int k = 0; k < Nd_poi; k++) pos[k] = (X_point[k] != 0) ? C3[k] : x1[k];
    const double *p = pos.data();
    for (int k = 1; k < last; k++)
        if (p[k + 1] - p[k] > 0) top[k] = std::log(a / (p[k + 1] - p[k]));
    const o1phi4::LogHistogram histogram{p, top.data(), static_cast<size_t>(Nd_poi), X_max, C1[0], C2[0], C1[last], C2[last]};
    for (int i = 0; i <= PROOF_INNER_FIELDS + 1; i++) {
        double h = (i == PROOF_INNER_FIELDS + 1) ? h_hi : h_lo + (h_hi - h_lo) * i / (PROOF_INNER_FIELDS + 1);
        o1phi4::LogGap w;
        o1phi4::smallest_log_gap(histogram, Landa, h, w);
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
