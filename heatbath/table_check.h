// The check a simulation's table gets when it is loaded: the sampler
// library's own (o1phi4::check_table), which every Sampler, and so
// make_heat_bath_sampler, makes before it draws.  It refuses a table that is
// no majorant of the weight for the run's landa over the field values it
// serves (one made for another Landa, a damaged file), and one whose
// bookkeeping the draw relies on is broken (tail areas, X_max), which would
// otherwise bias the heat bath silently.
#pragma once

#include "sampler/sampler.h"

namespace o1hb {

using TableCheck = o1phi4::TableCheck;

// The library's check of t for the coupling landa.
TableCheck check_table(const o1phi4::Table &t, double landa);

}  // namespace o1hb
