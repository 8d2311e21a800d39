// The field-index map as the user's code runs it: h -> field index by the C
// snippet -> histogram by the index table; the histogram must serve h, that
// is H_m <= h <= H_upper(m).
#include <algorithm>
#include <cmath>
#include <set>

#include "check.h"

namespace o1check {

namespace {

// Field values drawn at random besides the grid and the cell boundaries.
constexpr long RANDOM_POINTS = 10000;
// Cells of the map whose boundaries are visited, over all intervals; an
// interval that would pass this total gets only the grid.
constexpr double CELL_LIMIT = 1e7;
// Problems kept for the report.
constexpr std::size_t EXAMPLES = 12;

// Outside cases whose majorant is checked at their field value.
constexpr std::size_t RATIO_CHECKS = 2000;

double excess(const MapProblem &p) { return p.h < p.H_lo ? p.H_lo - p.h : p.h - p.H_hi; }

struct Mapper {
    const o1phi4::Table &t;
    MapReport &r;
    std::set<long> missing;
    std::vector<MapProblem> outside;

    void visit(double h)
    {
        if (!(h >= t.H0 && h < t.H_max)) return;
        ++r.points;
        long j;
        if (!o1phi4::field_index(t, h, j)) {
            ++r.missing;
            if (r.examples.size() < EXAMPLES) r.examples.push_back({h, 0, -1, 0, 0});
            return;
        }
        auto it = std::lower_bound(t.index_j.begin(), t.index_j.end(), j);
        if (it == t.index_j.end() || *it != j) {
            ++r.missing;
            if (missing.insert(j).second && r.examples.size() < EXAMPLES) r.examples.push_back({h, j, -1, 0, 0});
            return;
        }
        const int m = t.index_m[static_cast<std::size_t>(it - t.index_j.begin())];
        const double lo = t.blocks[static_cast<std::size_t>(m)].H, hi = t.H_upper(m);
        if (!(lo <= h && h <= hi)) {
            const MapProblem p{h, j, m, lo, hi};
            const double e = excess(p);
            r.worst_excess = std::max(r.worst_excess, e);
            if (e <= MAP_ROUNDING * std::max(1.0, std::fabs(h))) {
                ++r.rounding;
                return;
            }
            ++r.outside;
            outside.push_back(p);
        }
    }
};

}  // namespace

MapReport check_field_map(const o1phi4::Table &t, double landa, long grid_points, std::uint64_t seed)
{
    MapReport r;
    for (std::size_t i = 0; i < t.c_map.size() && i < t.fortran_map.size(); ++i) {
        const o1phi4::FieldInterval &c = t.c_map[i], &f = t.fortran_map[i];
        if (c.upper != f.upper || c.offset != f.offset || c.step != f.step) ++r.c_fortran_differ;
    }
    if (t.c_map.size() != t.fortran_map.size()) ++r.c_fortran_differ;

    Mapper mp{t, r, {}, {}};
    const double H0 = t.H0, H1 = t.H_max;
    for (long i = 0; i < grid_points; ++i) mp.visit(H0 + (H1 - H0) * static_cast<double>(i) / static_cast<double>(grid_points));
    // Both sides of every cell boundary k*step of every interval, and of the
    // interval bounds themselves.
    double lower = H0, cells = 0;
    for (const o1phi4::FieldInterval &f : t.c_map) {
        const double a = std::max(lower, H0), b = std::min(f.upper, H1);
        if (a < b && cells + (b - a) / f.step < CELL_LIMIT) {
            cells += (b - a) / f.step;
            for (double k = std::ceil(a / f.step); k * f.step <= b; k += 1) {
                const double h = k * f.step;
                mp.visit(h);
                mp.visit(std::nextafter(h, -INFINITY));
                mp.visit(std::nextafter(h, INFINITY));
            }
        }
        mp.visit(a);
        mp.visit(std::nextafter(f.upper, -INFINITY));
        lower = f.upper;
    }
    o1phi4::Xoshiro256ss g(seed);
    for (long i = 0; i < RANDOM_POINTS; ++i) mp.visit(H0 + (H1 - H0) * o1phi4::detail::unit(g()));

    r.missing_indices.assign(mp.missing.begin(), mp.missing.end());
    // The outside cases that miss by most.
    std::sort(mp.outside.begin(), mp.outside.end(), [](const MapProblem &a, const MapProblem &b) { return excess(a) > excess(b); });
    for (std::size_t i = 0; i < mp.outside.size() && r.examples.size() < 2 * EXAMPLES; ++i) r.examples.push_back(mp.outside[i]);
    MajorantOptions o;
    for (std::size_t i = 0; i < mp.outside.size() && i < RATIO_CHECKS; ++i) {
        const Violation v = smallest_ratio(t, mp.outside[i].m, landa, mp.outside[i].h, o);
        if (!(v.ratio >= r.outside_worst.ratio)) r.outside_worst = v;
    }
    return r;
}

}  // namespace o1check
