// How the heat bath makes its sampler for a simulation and draws one site's
// value from it.  (The Metropolis kernel takes the log weight from the same
// library, sampler/weight.h.)
#pragma once

#include <cstdint>
#include <utility>

#include "sampler/sampler.h"

namespace o1hb {

using HeatBathSampler = o1phi4::Sampler;

// Proposals made and draws that needed the table-free fallback.
using DrawStats = o1phi4::DrawStats;

// The sampler of table for the coupling landa, set up for a heat bath: field
// values of both signs, and the exact table-free fallback for those the
// table does not serve (|h| >= H_max), so that one rare field value never
// stops a run.  Throws o1phi4::TableError when the table cannot serve as a
// majorant at all.
inline HeatBathSampler make_heat_bath_sampler(o1phi4::Table table, double landa)
{
    o1phi4::SamplerOptions o;
    o.fallback = true;
    return HeatBathSampler(std::move(table), landa, o);
}

// One value from exp(h x - x^2 - landa (x^2 - 1)^2) for a finite field value
// of either sign, counted in stats, with the numbers of the generator g (a
// site's stream in a sweep).  Throws what Sampler::draw throws (no
// acceptance within the trial limit).
template <class URBG>
inline double heat_bath_draw(const HeatBathSampler &s, double h, URBG &g, DrawStats &stats)
{
    return s.draw(h, g, stats);
}

}  // namespace o1hb
