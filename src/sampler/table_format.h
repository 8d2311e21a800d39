// What the table file O1_Phi4.res means that its writer (the generator) and
// its readers (the sampler's loader, the validator) share: its constants, its
// C field-index lines and the field values those lines send to each
// histogram.  Standard C++ only; installed beside sampler.h.
#pragma once

#include <cmath>
#include <cstddef>

namespace o1_table_format {

// The last histogram is built for the field values from its own H up to at
// least H + LAST_HISTOGRAM_REACH (and up to H_max, which the index table
// sends it).
constexpr double LAST_HISTOGRAM_REACH = 0.4;
// Fewest pieces of a histogram: two tails and two step bins.
constexpr int ND_POI_MIN = 4;
// Largest magnitude of a field index: the C lines compute it in an int.
constexpr double INDEX_LIMIT = 2147483647.0;

// One C line of the field-index map, "if(h<upper ) j=offset+(int)(h/step);":
// the field values below upper that no line before it takes get the field
// index offset + (int)(h/step).
struct FieldInterval {
    double upper;
    long offset;
    double step;
};

// The smallest h >= 0 whose quotient h/step, rounded as the compiled line
// rounds it, truncates to q or more (q >= 0, step > 0).  q*step lies within
// a rounding or two of it and the quotient rises with h, so stepping to
// neighbouring doubles finds it.
inline double first_with_quotient(double q, double step)
{
    if (!(q > 0)) return 0.0;
    double h = q * step;
    while (h > 0 && std::trunc(std::nextafter(h, 0.0) / step) >= q) h = std::nextafter(h, 0.0);
    while (std::isfinite(h) && std::trunc(h / step) < q) h = std::nextafter(h, INFINITY);
    return h;
}

// The cell of the field index offset + q under a line of the given step: the
// field values in [from, to) whose quotient h/step, rounded as the line
// rounds it, truncates to q.  With f = first_with_quotient: [f(q), f(q+1))
// for q > 0, (-f(1), f(1)) for q = 0 and, the rounding of the quotient being
// symmetric, (-f(1-q), -f(-q)] for q < 0.  Writes it as the doubles in
// [lo, hi) and returns whether it holds one.
inline bool index_cell(double q, double step, double from, double to, double &lo, double &hi)
{
    if (q > 0) {
        lo = first_with_quotient(q, step);
        hi = first_with_quotient(q + 1, step);
    } else {
        lo = std::nextafter(-first_with_quotient(1 - q, step), INFINITY);
        hi = q < 0 ? std::nextafter(-first_with_quotient(-q, step), INFINITY) : first_with_quotient(1, step);
    }
    lo = std::fmax(lo, from);
    hi = std::fmin(hi, to);
    return lo < hi;
}

// The field values in [h0, h_max) that the C lines lines[0..n-1] send to the
// histograms of an index table, as the compiled lines compute h/step: for
// each entry (index_j[e], index_m[e]), e < entries, the cells of the field
// index index_j[e] under every line (each line takes the field values from
// the bound of the line before it, or h0, up to its own bound), gathered into
// the hull [lo[m], hi[m]) of histogram m = index_m[e].  lo and hi hold
// `histograms` values, NaN for a histogram that no entry names; every
// index_m[e] must be below `histograms`.
inline void served_ranges(const FieldInterval *lines, std::size_t n, const long *index_j, const int *index_m,
                          std::size_t entries, double h0, double h_max, double *lo, double *hi, std::size_t histograms)
{
    for (std::size_t m = 0; m < histograms; ++m) lo[m] = hi[m] = NAN;
    double lower = h0;
    for (std::size_t i = 0; i < n; ++i) {
        const FieldInterval &f = lines[i];
        const double from = std::fmax(lower, h0), to = std::fmin(f.upper, h_max);
        lower = f.upper;
        if (!(from < to)) continue;
        // The quotient rises with h: only the indices from that of `from` to
        // that of `to` can have a cell in the line's range.
        const double q_first = std::trunc(from / f.step), q_last = std::trunc(to / f.step);
        for (std::size_t e = 0; e < entries; ++e) {
            const double q = static_cast<double>(index_j[e] - f.offset);
            double l, h;
            if (q < q_first || q > q_last || !index_cell(q, f.step, from, to, l, h)) continue;
            const std::size_t m = static_cast<std::size_t>(index_m[e]);
            lo[m] = std::isnan(lo[m]) ? l : std::fmin(lo[m], l);
            hi[m] = std::isnan(hi[m]) ? h : std::fmax(hi[m], h);
        }
    }
}

}  // namespace o1_table_format
