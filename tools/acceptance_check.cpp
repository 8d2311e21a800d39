// The predicted acceptance of each histogram over the field range it serves,
// against what the table's header loss claims.
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "check.h"

namespace o1check {

double acceptance_floor(const o1phi4::Table &t)
{
    const double claim = 1 / (1 + std::fmax(t.loss_header, 0.0) / 100);
    return std::fmax(ACCEPTANCE_SHARE * claim, ACCEPTANCE_MIN);
}

AcceptanceReport check_acceptance(const o1phi4::Table &t, double landa)
{
    AcceptanceReport r;
    r.floor = acceptance_floor(t);
    char buf[300];
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        if (!t.used(static_cast<int>(m))) continue;
        const o1phi4::Block &b = t.blocks[m];
        ++r.histograms;
        const double lo = t.served_lo[m], hi = t.served_hi[m];
        long failed = 0;
        for (const double h : {lo, 0.5 * (lo + hi), hi}) {
            ++r.field_values;
            double p;
            try {
                p = std::exp(log_weight_integral(h, b.X_max, landa) - std::log(t.nd_poi * b.a));
            } catch (const std::runtime_error &e) {
                std::snprintf(buf, sizeof buf, "histogram %zu: %s", m, e.what());
                if (failed++ == 0) r.problems.push_back(at_line(t, b.first_line, buf));
                continue;
            }
            const Violation v{static_cast<int>(m), h, 0, -1, p};
            if (!(p >= r.lowest.ratio)) r.lowest = v;
            if (!(p <= r.highest.ratio)) r.highest = v;
            const char *why = nullptr;
            if (!(p >= r.floor)) why = "below the floor";
            else if (!(p <= 1 + ACCEPTANCE_EXCESS_TOL)) why = "above 1: the majorant has less area than the weight";
            if (why) {
                std::snprintf(buf, sizeof buf, "histogram %zu at h=%.10g: predicted acceptance %.4g, %s", m, h, p, why);
                if (failed++ == 0) r.problems.push_back(at_line(t, b.first_line, buf));
            }
        }
        if (failed > 0) ++r.failed;
    }
    return r;
}

}  // namespace o1check
