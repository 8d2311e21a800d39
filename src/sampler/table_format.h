// Constants of the table file O1_Phi4.res that its writer (the generator) and
// its readers (the sampler's loader, the validator) share.  Standard C++ only;
// installed beside sampler.h.
#pragma once

namespace o1_table_format {

// The last histogram is built for the field values from its own H up to at
// least H + LAST_HISTOGRAM_REACH (and up to H_max, which the index table
// sends it).
constexpr double LAST_HISTOGRAM_REACH = 0.4;
// Fewest pieces of a histogram: two tails and two step bins.
constexpr int ND_POI_MIN = 4;
// Largest magnitude of a field index: the C lines compute it in an int.
constexpr double INDEX_LIMIT = 2147483647.0;

}  // namespace o1_table_format
