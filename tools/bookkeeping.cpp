// Bookkeeping of the table file: header counts, the two snippets, and per
// block the flags, the order of the positions, the areas of the tails and
// X_max as the mode of the weight.
#include <cmath>
#include <cstdio>

#include "check.h"

namespace o1check {

std::string at_line(const o1phi4::Table &t, long line, const std::string &text)
{
    return o1phi4::printable(t.file) + ":" + std::to_string(line) + ": " + text;
}

Bookkeeping check_bookkeeping(const o1phi4::Table &t)
{
    Bookkeeping r;
    char buf[256];
    const int nd = t.nd_poi;
    if (t.H_max_header != t.H_max) {
        std::snprintf(buf, sizeof buf, "H_max of the first line (%.6f) differs from the snippet's (%.6f)", t.H_max_header, t.H_max);
        r.problems.push_back(buf);
    }
    if (t.fortran_H_max != t.H_max) {
        std::snprintf(buf, sizeof buf, "H_max of the FORTRAN snippet (%.6f) differs from the C snippet's (%.6f)", t.fortran_H_max, t.H_max);
        r.problems.push_back(buf);
    }
    if (!t.c_map.empty() && t.c_map.back().upper != t.H_max) {
        std::snprintf(buf, sizeof buf, "the last interval ends at %.6f, the closing line says H_max = %.6f", t.c_map.back().upper, t.H_max);
        r.notes.push_back(buf);
    }
    for (std::size_t i = 0; i < t.c_map.size() && i < t.fortran_map.size(); ++i) {
        const o1phi4::FieldInterval &c = t.c_map[i], &f = t.fortran_map[i];
        if (c.upper != f.upper || c.offset != f.offset || c.step != f.step) {
            std::snprintf(buf, sizeof buf, "interval %zu: C (%.6f, %ld, %.6f) and FORTRAN (%.6f, %ld, %.6f) differ", i + 1, c.upper,
                          c.offset, c.step, f.upper, f.offset, f.step);
            r.problems.push_back(buf);
        }
    }
    if (t.c_map.size() != t.fortran_map.size()) {
        std::snprintf(buf, sizeof buf, "the C snippet has %zu intervals, the FORTRAN snippet %zu", t.c_map.size(), t.fortran_map.size());
        r.problems.push_back(buf);
    }

    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const o1phi4::Block &b = t.blocks[m];
        const long l0 = b.first_line;
        ++r.blocks;
        if (m > 0 && b.H < t.blocks[m - 1].H) {
            std::snprintf(buf, sizeof buf, "histogram %zu has H = %.6f below that of histogram %zu (%.6f)", m, b.H, m - 1, t.blocks[m - 1].H);
            r.notes.push_back(at_line(t, l0, buf));
        }
        if (!(b.a > 0)) r.problems.push_back(at_line(t, l0, "the area a is not positive"));
        if (!(b.C1L > 0)) r.problems.push_back(at_line(t, l0 + 1, "the left tail's slope C1L is not positive"));
        if (!(b.C1R < 0)) r.problems.push_back(at_line(t, l0 + 1, "the right tail's slope C1R is not negative"));
        for (int k = 0; k < nd; ++k) {
            const int want = k == 0 ? 1 : (k == nd - 1 ? 2 : 0);
            if (b.flag[static_cast<std::size_t>(k)] != want) {
                std::snprintf(buf, sizeof buf, "flag %d where %d is due", b.flag[static_cast<std::size_t>(k)], want);
                r.problems.push_back(at_line(t, l0 + 2 + k, buf));
            }
        }
        if (b.p[0] != b.p[1]) r.problems.push_back(at_line(t, l0 + 3, "line 1 of the positions does not repeat line 0"));
        for (int k = 1; k + 1 < nd; ++k)
            if (!(b.p[static_cast<std::size_t>(k)] < b.p[static_cast<std::size_t>(k) + 1])) {
                std::snprintf(buf, sizeof buf, "position %.17g does not lie right of the one before (%.17g)",
                              b.p[static_cast<std::size_t>(k) + 1], b.p[static_cast<std::size_t>(k)]);
                r.problems.push_back(at_line(t, l0 + 3 + k, buf));
            }
        // Every step holds a by construction (height = a/width); the tails
        // hold exp(C1L*p0 + C2L)/C1L and -exp(C1R*X0 + C2R)/C1R.
        if (b.a > 0 && b.C1L > 0 && b.C1R < 0) {
            const double left = std::exp(b.C1L * b.p[0] + b.C2L) / b.C1L;
            const double right = -std::exp(b.C1R * b.p[static_cast<std::size_t>(nd - 1)] + b.C2R) / b.C1R;
            const double el = std::fabs(left / b.a - 1), er = std::fabs(right / b.a - 1);
            for (int side = 0; side < 2; ++side) {
                const double e = side == 0 ? el : er;
                if (!(e <= r.worst_area_error)) {
                    r.worst_area_error = e;
                    r.worst_area_block = static_cast<int>(m);
                }
                if (!(e <= AREA_TOL)) {
                    std::snprintf(buf, sizeof buf, "the %s tail holds %.10g, not the area a = %.10g (relative %.2e)",
                                  side == 0 ? "left" : "right", side == 0 ? left : right, b.a, e);
                    r.problems.push_back(at_line(t, l0 + 1, buf));
                }
            }
        }
    }
    return r;
}

ModeReport check_modes(const o1phi4::Table &t, double landa)
{
    ModeReport r;
    char buf[256];
    for (const o1phi4::Block &b : t.blocks) {
        ++r.blocks;
        // Slope of the exponent H*x - x*x - Landa*(x*x - 1)^2 at X_max.
        const double x = b.X_max;
        const double s = std::fabs(slope(landa, b.H, x)) / std::fmax(1.0, std::fabs(b.H));
        if (!(s <= r.worst_slope)) {
            r.worst_slope = s;
            r.worst_block = b.j;
        }
        if (!(s <= X_MAX_SLOPE_TOL)) {
            std::snprintf(buf, sizeof buf,
                          "X_max = %.10g is not a mode of the weight at H = %.6f for Landa = %.10g (slope %.3g)",
                          x, b.H, landa, s * std::fmax(1.0, std::fabs(b.H)));
            r.problems.push_back(at_line(t, b.first_line, buf));
        }
    }
    return r;
}

}  // namespace o1check
