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
constexpr double X_MAX_SLOPE_TOL = 1e-6;
// A majorant below the weight by more than this relative amount fails; the
// rounding of the exponents is many orders smaller.
constexpr double MAJORANT_TOL = 1e-10;

}  // namespace

namespace detail {

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

void majorant_at(const Block &b, const std::vector<double> &log_height, double landa, double h, Gap &g)
{
    smallest_log_gap(LogHistogram{b.p.data(), log_height.data(), b.p.size(), b.X_max, b.C1L, b.C2L, b.C1R, b.C2R}, landa, h, g);
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
        const double s = slope(landa, b.H, b.X_max);
        if (std::fabs(s) <= X_MAX_SLOPE_TOL * std::fmax(1.0, std::fabs(b.H))) continue;
        std::snprintf(buf, sizeof buf,
                      "histogram %zu: X_max = %.17g is not the mode of the weight at H = %.17g for landa = %.17g (slope %.3g): "
                      "was the table made for another Landa?",
                      m, b.X_max, b.H, landa, s);
        return fail(static_cast<int>(m), b.first_line, buf);
    }
    return r;
}

}  // namespace o1phi4
