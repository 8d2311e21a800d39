// Constants of the table file O1_Phi4.res that its writer (the generator) and
// its readers (the sampler's loader, the validator) share.  Standard C++ only;
// installed beside sampler.h.
#pragma once

#include <cmath>

namespace o1_table_format {

// The last histogram is built for the field values from its own H up to at
// least H + LAST_HISTOGRAM_REACH (and up to H_max, which the index table
// sends it).
constexpr double LAST_HISTOGRAM_REACH = 0.4;
// Fewest pieces of a histogram: two tails and two step bins.
constexpr int ND_POI_MIN = 4;
// Largest magnitude of a field index: the C lines compute it in an int.
constexpr double INDEX_LIMIT = 2147483647.0;

// The cell of a field index: the field values in [from, to) that the C line
// "if(h<upper ) j=offset+(int)(h/step);" sends to the index offset + q, that
// is those with trunc(h/step) = q: [q, q+1) steps for q > 0, (q-1, q] steps
// for q < 0, (-1, 1) steps for q = 0.  Writes the cell to [lo, hi) and
// returns whether it holds a field value.
inline bool index_cell(double q, double step, double from, double to, double &lo, double &hi)
{
    lo = std::fmax((q > 0 ? q : q - 1) * step, from);
    hi = std::fmin((q < 0 ? q : q + 1) * step, to);
    return lo < hi;
}

}  // namespace o1_table_format
