// The load-time check of a table for one Landa: what every draw relies on
// and only the file can give.  A table edited so that it stays a majorant
// but breaks the bookkeeping (an area, a tail, X_max) would be drawn from
// with wrong numbers and no error, so the check refuses it before any draw.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "sampler/table_check.h"

namespace o1phi4 {

namespace {

// Tails holding an area that differs from the common area a by more than
// this relative amount fail: the rounding of their exponent C1*p + C2 is
// orders of magnitude smaller in every table the generator writes.
constexpr double AREA_TOL = 1e-9;
// Largest slope of the exponent at a block's X_max, relative to max(1, |H|),
// for X_max to count as the mode at H: the generator stops its mode search
// at a slope of 1e-8, while a Landa off by 0.1 % gives slopes of some 1e-4.
constexpr double MODE_SLOPE_TOL = 1e-6;
// A majorant below the weight by more than this relative amount fails; the
// rounding of the exponents is many orders smaller.
constexpr double MAJORANT_TOL = 1e-10;
// Bisection steps: enough to reach adjacent doubles on any bracket.
constexpr int BISECTION_STEPS = 2100;

// The zero of detail::slope(landa, c, .) in [lo, hi], where it changes sign.
double bisect(double landa, double c, double lo, double hi)
{
    const bool falling = detail::slope(landa, c, lo) >= 0;
    for (int i = 0; i < BISECTION_STEPS; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        if ((detail::slope(landa, c, mid) >= 0) == falling) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

namespace detail {

int stationary_points(double landa, double c, double roots[3])
{
    if (landa == 0) {
        roots[0] = c / 2;
        return 1;
    }
    // All zeros lie within the Cauchy bound of the monic cubic
    // x^3 + (1 - 2 landa)/(2 landa) x - c/(4 landa).
    const double R = 1 + std::fmax(std::fabs((1 - 2 * landa) / (2 * landa)), std::fabs(c / (4 * landa)));
    if (!(landa > 0.5)) {
        // The slope's derivative -2 (1 - 2 landa) - 12 landa x^2 <= 0: one zero.
        roots[0] = bisect(landa, c, -R, R);
        return 1;
    }
    // The slope falls, rises on (-xs, xs), falls: a zero in each part where
    // it changes sign.
    const double xs = std::sqrt((2 * landa - 1) / (6 * landa));
    const double bounds[4] = {-R, -xs, xs, R};
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        const double sa = slope(landa, c, bounds[i]), sb = slope(landa, c, bounds[i + 1]);
        if ((sa >= 0 && sb <= 0) || (sa <= 0 && sb >= 0)) roots[n++] = bisect(landa, c, bounds[i], bounds[i + 1]);
    }
    return n;
}

std::string shape_problem(const Block &b, long &line)
{
    const std::string m = "histogram " + std::to_string(b.j) + ": ";
    line = b.first_line;
    if (!(b.a > 0) || !(b.C1L > 0) || !(b.C1R < 0) || !std::isfinite(1 / b.C1L) || !std::isfinite(1 / b.C1R))
        return m + "cannot be a majorant: it needs a > 0, a left tail slope > 0 and a right tail slope < 0";
    line = b.first_line + 3;
    if (b.p[0] > b.p[1]) return m + "the left tail's anchor lies right of the first step";
    // The draw proposes nothing between them.
    if (b.p[0] < b.p[1]) return m + "a gap between the left tail's anchor and the first step (line 1 of the positions must repeat line 0)";
    for (std::size_t k = 1; k + 1 < b.p.size(); ++k) {
        line = b.first_line + 3 + static_cast<long>(k);
        const double w = b.p[k + 1] - b.p[k];
        if (!(b.p[k] < b.p[k + 1]) || !std::isfinite(w) || !(b.a / w > 0) || !std::isfinite(b.a / w))
            return m + "positions must increase";
    }
    line = 0;
    return std::string();
}

void Gap::at(double h_at, double x_at, double log_major, double log_w)
{
    const double g = log_major - log_w;
    if (!(g >= gap)) {
        gap = g;
        h = h_at;
        x = x_at;
    }
}

void majorant_at(const Block &b, const std::vector<double> &log_height, double landa, double h, Gap &g)
{
    // The weight's largest value over a step lies at an edge or at a
    // stationary point inside; a tail C1*x + C2 comes closest to the log
    // weight at its anchor or where their slopes agree, a zero of the slope
    // shifted by -C1.
    const std::size_t nd = b.p.size();
    double roots[3];
    const int ns = stationary_points(landa, h, roots);
    for (std::size_t k = 1; k + 1 < nd; ++k) {
        const double lo = b.p[k], hi = b.p[k + 1], lh = log_height[k];
        g.at(h, lo, lh, log_weight(h, b.X_max, landa, lo));
        g.at(h, hi, lh, log_weight(h, b.X_max, landa, hi));
        for (int i = 0; i < ns; ++i)
            if (roots[i] > lo && roots[i] < hi) g.at(h, roots[i], lh, log_weight(h, b.X_max, landa, roots[i]));
    }
    const double pL = b.p[0], pR = b.p[nd - 1];
    g.at(h, pL, b.C1L * pL + b.C2L, log_weight(h, b.X_max, landa, pL));
    g.at(h, pR, b.C1R * pR + b.C2R, log_weight(h, b.X_max, landa, pR));
    const int nl = stationary_points(landa, h - b.C1L, roots);
    for (int i = 0; i < nl; ++i)
        if (roots[i] < pL) g.at(h, roots[i], b.C1L * roots[i] + b.C2L, log_weight(h, b.X_max, landa, roots[i]));
    const int nr = stationary_points(landa, h - b.C1R, roots);
    for (int i = 0; i < nr; ++i)
        if (roots[i] > pR) g.at(h, roots[i], b.C1R * roots[i] + b.C2R, log_weight(h, b.X_max, landa, roots[i]));
}

}  // namespace detail

TableCheck check_table(const Table &t, double landa)
{
    TableCheck r;
    char buf[400];
    const auto fail = [&r](int m, long line, const std::string &what) {
        r.ok = false;
        r.m = m;
        r.line = line;
        r.problem = what;
        return r;
    };
    // Every block, used or not (a caller's own lookup may draw from any):
    // its shape, and tails that hold the common area a, exp(C1L*p0 + C2L)/C1L
    // and -exp(C1R*X0 + C2R)/C1R.
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const Block &b = t.blocks[m];
        long line;
        const std::string shape = detail::shape_problem(b, line);
        if (!shape.empty()) return fail(static_cast<int>(m), line, shape);
        const double held[2] = {std::exp(b.C1L * b.p.front() + b.C2L) / b.C1L, -std::exp(b.C1R * b.p.back() + b.C2R) / b.C1R};
        for (int side = 0; side < 2; ++side) {
            const double e = std::fabs(held[side] / b.a - 1);
            if (e <= AREA_TOL) continue;
            std::snprintf(buf, sizeof buf, "histogram %zu: the %s tail holds %.10g, not the common area a = %.10g (relative difference %.2g)",
                          m, side == 0 ? "left" : "right", held[side], b.a, e);
            return fail(static_cast<int>(m), b.first_line + 1, buf);
        }
    }
    // The majorant over the field values each histogram the index table uses
    // serves: at a fixed x the log weight is linear in h, so both ends of
    // that range hold its largest values.
    std::vector<double> log_height;
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        if (!t.used(static_cast<int>(m))) continue;
        const Block &b = t.blocks[m];
        ++r.histograms;
        log_height.assign(b.p.size(), 0);
        for (std::size_t k = 1; k + 1 < b.p.size(); ++k) log_height[k] = std::log(b.a / (b.p[k + 1] - b.p[k]));
        detail::Gap g;
        detail::majorant_at(b, log_height, landa, t.served_lo[m], g);
        detail::majorant_at(b, log_height, landa, t.served_hi[m], g);
        const double ratio = std::exp(g.gap);
        if (!(ratio >= r.ratio)) {
            r.m = static_cast<int>(m);
            r.h = g.h;
            r.x = g.x;
            r.ratio = ratio;
        }
        if (!(g.gap >= std::log1p(-MAJORANT_TOL))) {
            std::snprintf(buf, sizeof buf,
                          "histogram %zu is no majorant of the weight for landa = %.17g: at field value %.17g, x = %.17g, "
                          "majorant/weight = %.6g (was the table made for another Landa?)",
                          m, landa, g.h, g.x, ratio);
            return fail(static_cast<int>(m), b.first_line, buf);
        }
    }
    // X_max, the shift of the weight, the mode at H for this Landa: the one
    // number of the file that depends on Landa alone.
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const Block &b = t.blocks[m];
        const double s = detail::slope(landa, b.H, b.X_max);
        if (std::fabs(s) <= MODE_SLOPE_TOL * std::fmax(1.0, std::fabs(b.H))) continue;
        std::snprintf(buf, sizeof buf,
                      "histogram %zu: X_max = %.17g is not the mode of the weight at H = %.17g for landa = %.17g (slope %.3g): "
                      "was the table made for another Landa?",
                      m, b.X_max, b.H, landa, s);
        return fail(static_cast<int>(m), b.first_line, buf);
    }
    return r;
}

}  // namespace o1phi4
