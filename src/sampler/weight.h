// The weight exp(h*(x - X_max) - x*x - landa*(x*x - 1)^2) that every
// histogram of a table bounds, and what the generator, the sampler library
// and the simulation compute from it: its logarithm, the slope of its
// exponent, the slope's turning points and zeros, and the smallest gap
// between a histogram and the weight at a field value.  Standard C++ only;
// installed beside sampler.h.  The validator keeps copies of its own.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>

namespace o1phi4 {

// Logarithm of the weight at field value h with the shift X_max,
// h*(x - X_max) - x*x - landa*(x*x - 1)^2, summed in this order.
inline double log_weight(double h, double X_max, double landa, double x)
{
    return h * (x - X_max) - x * x - landa * (x * x - 1) * (x * x - 1);
}
// The weight at field value h with the shift X_max.
inline double weight(double h, double X_max, double landa, double x) { return std::exp(log_weight(h, X_max, landa, x)); }

// Slope of the exponent h*x - x*x - landa*(x*x - 1)^2 with h replaced by c:
// c - 2*x*(1 - 2*landa) - 4*landa*x^3.  c = h gives the slope of the log
// weight; c = h - C1 that of the log weight less a tail C1*x + C2.
inline double slope(double landa, double c, double x) { return c - 2 * x * (1 - 2 * landa) - 4 * landa * x * x * x; }

// Where the slope turns, for landa >= 1/2: the positive zero of its
// derivative, sqrt((2*landa - 1)/(6*landa)).  The slope falls on
// (-inf, -x_s] and on [x_s, inf) and rises between, so each part holds at
// most one zero.  Computed as sqrt(-(1 - 2*landa)/(6*landa)): the same
// double for landa > 1/2, and -0 at landa = 1/2, the sign the generator's
// mode search returns at h = 0 and the table prints.
inline double inflection(double landa) { return std::sqrt(-(1 - 2 * landa) / (6 * landa)); }

namespace weight_detail {

// Halvings of a bracket: enough to reach adjacent doubles from any bracket
// of finite doubles (2046 binades and 53 bits).
constexpr int BISECTION_STEPS = 2100;

// The zero of slope(landa, c, .) in [lo, hi], where it changes sign, to
// adjacent doubles.
inline double bisect_slope(double landa, double c, double lo, double hi)
{
    const bool falling = slope(landa, c, lo) >= 0;
    for (int i = 0; i < BISECTION_STEPS; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        if ((slope(landa, c, mid) >= 0) == falling) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace weight_detail

// The real zeros of slope(landa, c, .) for landa >= 0 and finite c, in
// increasing order, written to roots; returns how many (1 to 3; a double
// zero may come twice).  With c = h they are the stationary points of the
// weight at field value h: its modes and the valley between.
inline int stationary_points(double landa, double c, double roots[3])
{
    if (landa == 0) {
        roots[0] = c / 2;
        return 1;
    }
    // All zeros lie within the Cauchy bound of the monic cubic
    // x^3 + (1 - 2 landa)/(2 landa) x - c/(4 landa), kept below the largest
    // double (a landa so small that the bound overflows).
    const double R = std::fmin(1 + std::fmax(std::fabs((1 - 2 * landa) / (2 * landa)), std::fabs(c / (4 * landa))), DBL_MAX);
    if (!(landa > 0.5)) {
        // The slope's derivative -2 (1 - 2 landa) - 12 landa x^2 <= 0: one zero.
        roots[0] = weight_detail::bisect_slope(landa, c, -R, R);
        return 1;
    }
    // A zero in each monotone part where the slope changes sign.
    const double xs = inflection(landa);
    const double bounds[4] = {-R, -xs, xs, R};
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        const double sa = slope(landa, c, bounds[i]), sb = slope(landa, c, bounds[i + 1]);
        if ((sa >= 0 && sb <= 0) || (sa <= 0 && sb >= 0)) roots[n++] = weight_detail::bisect_slope(landa, c, bounds[i], bounds[i + 1]);
    }
    return n;
}

// The smallest log majorant - log weight found so far, and where.
struct LogGap {
    double gap = INFINITY, h = 0, x = 0;
    // Takes the point (h_at, x_at), where the two logarithms are log_major
    // and log_w; a NaN difference counts as the smallest.
    void at(double h_at, double x_at, double log_major, double log_w)
    {
        const double g = log_major - log_w;
        if (!(g >= gap)) {
            gap = g;
            h = h_at;
            x = x_at;
        }
    }
};

// A histogram in logarithms, as its block writes it: nd >= 4 positions p
// (p[0] the left tail's anchor, p[nd-1] the right tail's), the log height
// log_height[k] = log(a/(p[k+1] - p[k])) of each step k = 1..nd-2, the
// tails C1L*x + C2L left of p[0] and C1R*x + C2R right of p[nd-1], and the
// shift X_max of the weight it bounds.
struct LogHistogram {
    const double *p;
    const double *log_height;
    std::size_t nd;
    double X_max, C1L, C2L, C1R, C2R;
};

// The exact smallest log majorant - log weight of histogram b at field
// value h for landa, over the whole real line, taken into g: over a step the
// weight is largest at an edge or at a stationary point inside; a tail
// comes closest to it at its anchor or where their slopes agree beyond it.
// A first step that does not start at the left tail's anchor or lies left
// of it, and a step of no positive width, count as -infinity there.
inline void smallest_log_gap(const LogHistogram &b, double landa, double h, LogGap &g)
{
    const double *p = b.p;
    const std::size_t last = b.nd - 1;
    double roots[3];
    if (!(p[1] <= p[0])) g.at(h, p[0], -INFINITY, 0);
    const int ns = stationary_points(landa, h, roots);
    for (std::size_t k = 1; k < last; ++k) {
        const double lo = p[k], hi = p[k + 1], lh = b.log_height[k];
        if (!(hi - lo > 0)) {
            g.at(h, lo, -INFINITY, 0);
            continue;
        }
        g.at(h, lo, lh, log_weight(h, b.X_max, landa, lo));
        g.at(h, hi, lh, log_weight(h, b.X_max, landa, hi));
        for (int i = 0; i < ns; ++i)
            if (roots[i] > lo && roots[i] < hi) g.at(h, roots[i], lh, log_weight(h, b.X_max, landa, roots[i]));
    }
    const double pL = p[0], pR = p[last];
    g.at(h, pL, b.C1L * pL + b.C2L, log_weight(h, b.X_max, landa, pL));
    g.at(h, pR, b.C1R * pR + b.C2R, log_weight(h, b.X_max, landa, pR));
    const int nl = stationary_points(landa, h - b.C1L, roots);
    for (int i = 0; i < nl; ++i)
        if (roots[i] < pL) g.at(h, roots[i], b.C1L * roots[i] + b.C2L, log_weight(h, b.X_max, landa, roots[i]));
    const int nr = stationary_points(landa, h - b.C1R, roots);
    for (int i = 0; i < nr; ++i)
        if (roots[i] > pR) g.at(h, roots[i], b.C1R * roots[i] + b.C2R, log_weight(h, b.X_max, landa, roots[i]));
}

}  // namespace o1phi4
