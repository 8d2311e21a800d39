// The majorant against the weight, in logarithms: for each histogram and
// field values over the range it serves, log majorant - log weight over the steps and
// far into both tails must not fall below zero.
#include <algorithm>
#include <cmath>

#include "check.h"

namespace o1check {

namespace {

// How far the tails are followed: at least this far, and at least this many
// decay lengths 1/|slope| of the tail.
constexpr double TAIL_SPAN_MIN = 8.0;
constexpr double TAIL_DECAY_LENGTHS = 60.0;

struct Scan {
    double landa, h, X_max;
    double min_gap = INFINITY;  // smallest log ratio
    double at_x = 0;
    int at_piece = -1;
    long points = 0;
    long failed = 0;

    void point(double log_major, double x, int piece)
    {
        const double gap = log_major - log_weight(h, X_max, landa, x);
        ++points;
        if (gap < std::log1p(-RATIO_TOL) || std::isnan(gap)) ++failed;
        if (!(gap >= min_gap)) {
            min_gap = gap;
            at_x = x;
            at_piece = piece;
        }
    }
};

void scan_histogram(const o1phi4::Block &b, Scan &s, const MajorantOptions &o)
{
    const int nd = static_cast<int>(b.p.size());
    const double p0 = b.p[0], X0 = b.p[static_cast<std::size_t>(nd - 1)];
    const std::vector<double> stationary = stationary_points(s.landa, s.h);

    // Left tail on (-inf, p0]: points crowded near the anchor, and the
    // stationary points of C1L*x + C2L - exponent.
    const double spanL = std::max(TAIL_SPAN_MIN, TAIL_DECAY_LENGTHS / std::fabs(b.C1L));
    for (int i = 0; i < o.tail_points; ++i) {
        const double f = static_cast<double>(i) / (o.tail_points - 1);
        const double x = p0 - spanL * f * f;
        s.point(b.C1L * x + b.C2L, x, 0);
    }
    for (double x : stationary_points(s.landa, s.h - b.C1L))
        if (x < p0) s.point(b.C1L * x + b.C2L, x, 0);

    // Steps: both ends, evenly spaced points, and the weight's stationary
    // points inside (its maximum over a step is at an end or at a mode).
    for (int k = 1; k + 1 < nd; ++k) {
        const double x0 = b.p[static_cast<std::size_t>(k)], x1 = b.p[static_cast<std::size_t>(k) + 1];
        const double lf = std::log(b.a / (x1 - x0));
        for (int i = 0; i < o.points_per_step; ++i) {
            const double x = i + 1 == o.points_per_step ? x1 : x0 + (x1 - x0) * i / (o.points_per_step - 1);
            s.point(lf, x, k);
        }
        for (double x : stationary)
            if (x > x0 && x < x1) s.point(lf, x, k);
    }

    // Right tail on [X0, inf).
    const double spanR = std::max(TAIL_SPAN_MIN, TAIL_DECAY_LENGTHS / std::fabs(b.C1R));
    for (int i = 0; i < o.tail_points; ++i) {
        const double f = static_cast<double>(i) / (o.tail_points - 1);
        const double x = X0 + spanR * f * f;
        s.point(b.C1R * x + b.C2R, x, nd - 1);
    }
    for (double x : stationary_points(s.landa, s.h - b.C1R))
        if (x > X0) s.point(b.C1R * x + b.C2R, x, nd - 1);
}

}  // namespace

Violation smallest_ratio(const o1phi4::Table &t, int m, double landa, double h, const MajorantOptions &o)
{
    const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
    Scan s{landa, h, b.X_max};
    scan_histogram(b, s, o);
    return Violation{m, h, s.at_x, s.at_piece, std::exp(s.min_gap)};
}

MajorantReport check_majorant(const o1phi4::Table &t, double landa, const MajorantOptions &o)
{
    MajorantReport r;
    o1phi4::Xoshiro256ss g(o.seed);
    std::vector<double> hs;
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        const o1phi4::Block &b = t.blocks[m];
        if (!t.used(static_cast<int>(m))) {
            r.unused.push_back(static_cast<int>(m));
            continue;
        }
        const double lo = t.served_lo[m], hi = t.served_hi[m];
        hs.assign({lo, hi});
        for (int i = 1; i <= o.interior_h; ++i) hs.push_back(lo + (hi - lo) * i / (o.interior_h + 1));
        for (int i = 0; i < o.random_h; ++i) hs.push_back(lo + (hi - lo) * o1phi4::detail::unit(g()));

        ++r.histograms;
        Violation worst{static_cast<int>(m), 0, 0, -1, INFINITY};
        long failed = 0;
        for (double h : hs) {
            Scan s{landa, h, b.X_max};
            scan_histogram(b, s, o);
            ++r.field_values;
            r.points += s.points;
            failed += s.failed;
            const double ratio = std::exp(s.min_gap);
            if (!(ratio >= worst.ratio)) worst = Violation{static_cast<int>(m), h, s.at_x, s.at_piece, ratio};
        }
        r.failed_points += failed;
        if (r.worst.m < 0 || !(worst.ratio >= r.worst.ratio)) r.worst = worst;
        if (failed > 0) {
            ++r.failed_histograms;
            if (r.violations.size() < o.max_listed) r.violations.push_back(worst);
        }
    }
    return r;
}

}  // namespace o1check
