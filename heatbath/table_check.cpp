// The load-time majorant check.
#include "heatbath/table_check.h"

#include <cmath>

namespace o1hb {

namespace {

// Bisection steps: enough to reach adjacent doubles on any bracket.
constexpr int BISECTION_STEPS = 2100;

// q(x) = 4 landa x^3 + 2 (1 - 2 landa) x - c.
double cubic(double landa, double c, double x) { return 4 * landa * x * x * x + 2 * (1 - 2 * landa) * x - c; }

// The root of the cubic in [lo, hi], where q(lo) <= 0 <= q(hi) or the reverse.
double bisect(double landa, double c, double lo, double hi)
{
    const bool rising = cubic(landa, c, lo) <= 0;
    for (int i = 0; i < BISECTION_STEPS; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        if ((cubic(landa, c, mid) <= 0) == rising) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

// Records log majorant - log weight at one point.
void compare(TableCheck &r, int m, double h, double x, double log_major, double log_w)
{
    const double ratio = std::exp(log_major - log_w);
    if (ratio < r.ratio) {
        r.m = m;
        r.h = h;
        r.x = x;
        r.ratio = ratio;
    }
    if (ratio < 1 - MAJORANT_TOL) r.ok = false;
}

// Histogram m of t at field value h.
void check_at(TableCheck &r, const o1phi4::Block &b, int m, double landa, double h)
{
    const std::size_t nd = b.p.size();
    double roots[3];
    // Nothing bounds the weight between the left tail's anchor and the first step.
    if (b.p[0] < b.p[1]) compare(r, m, h, b.p[0], -INFINITY, o1phi4::log_weight(h, b.X_max, landa, b.p[0]));
    // Steps: the weight's largest value over [p_k, p_k+1] is at an edge or at
    // a stationary point inside.
    const int ns = stationary_points(landa, h, roots);
    for (std::size_t k = 1; k + 1 < nd; ++k) {
        const double lo = b.p[k], hi = b.p[k + 1];
        const double log_height = std::log(b.a / (hi - lo));
        compare(r, m, h, lo, log_height, o1phi4::log_weight(h, b.X_max, landa, lo));
        compare(r, m, h, hi, log_height, o1phi4::log_weight(h, b.X_max, landa, hi));
        for (int i = 0; i < ns; ++i)
            if (roots[i] > lo && roots[i] < hi) compare(r, m, h, roots[i], log_height, o1phi4::log_weight(h, b.X_max, landa, roots[i]));
    }
    // Tails: C1 x + C2 - log weight is smallest at the anchor or where its
    // slope C1 - h + 2x + 4 landa x (x^2 - 1) vanishes, a root of the same
    // cubic with c = h - C1.
    const double pL = b.p[0], pR = b.p[nd - 1];
    compare(r, m, h, pL, b.C1L * pL + b.C2L, o1phi4::log_weight(h, b.X_max, landa, pL));
    compare(r, m, h, pR, b.C1R * pR + b.C2R, o1phi4::log_weight(h, b.X_max, landa, pR));
    const int nl = stationary_points(landa, h - b.C1L, roots);
    for (int i = 0; i < nl; ++i)
        if (roots[i] < pL) compare(r, m, h, roots[i], b.C1L * roots[i] + b.C2L, o1phi4::log_weight(h, b.X_max, landa, roots[i]));
    const int nr = stationary_points(landa, h - b.C1R, roots);
    for (int i = 0; i < nr; ++i)
        if (roots[i] > pR) compare(r, m, h, roots[i], b.C1R * roots[i] + b.C2R, o1phi4::log_weight(h, b.X_max, landa, roots[i]));
}

}  // namespace

int stationary_points(double landa, double c, double roots[3])
{
    if (landa == 0) {
        roots[0] = c / 2;
        return 1;
    }
    // All roots lie within the Cauchy bound of the monic cubic
    // x^3 + (1 - 2 landa)/(2 landa) x - c/(4 landa).
    const double R = 1 + std::fmax(std::fabs((1 - 2 * landa) / (2 * landa)), std::fabs(c / (4 * landa)));
    if (!(landa > 0.5)) {
        // q' = 12 landa x^2 + 2 (1 - 2 landa) >= 0: one root.
        roots[0] = bisect(landa, c, -R, R);
        return 1;
    }
    // q rises, falls on (-xs, xs), rises: a root in each part where q changes sign.
    const double xs = std::sqrt((2 * landa - 1) / (6 * landa));
    const double bounds[4] = {-R, -xs, xs, R};
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        const double qa = cubic(landa, c, bounds[i]), qb = cubic(landa, c, bounds[i + 1]);
        if ((qa <= 0 && qb >= 0) || (qa >= 0 && qb <= 0)) roots[n++] = bisect(landa, c, bounds[i], bounds[i + 1]);
    }
    return n;
}

TableCheck check_table(const o1phi4::Table &t, double landa)
{
    TableCheck r;
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        if (!t.used(static_cast<int>(m))) continue;
        ++r.histograms;
        check_at(r, t.blocks[m], static_cast<int>(m), landa, t.served_lo[m]);
        check_at(r, t.blocks[m], static_cast<int>(m), landa, t.served_hi[m]);
    }
    return r;
}

}  // namespace o1hb
