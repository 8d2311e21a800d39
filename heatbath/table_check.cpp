// The load-time check: a call into the sampler library, so that the heat
// bath refuses exactly what every other user of a table is refused.
#include "heatbath/table_check.h"

namespace o1hb {

TableCheck check_table(const o1phi4::Table &t, double landa) { return o1phi4::check_table(t, landa); }

}  // namespace o1hb
