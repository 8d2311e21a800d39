// The heat bath's one contact with the sampler library: how the sampler is
// made for a simulation and how one site's value is drawn.
#pragma once

#include <cstdint>
#include <utility>

#include "sampler/sampler.h"

namespace o1hb {

// The generator of every update.
using Rng = o1phi4::Xoshiro256ss;

// Uniform double in [0, 1) from the top 53 bits of one output.
inline double uniform(Rng &g) { return static_cast<double>(g() >> 11) * 0x1.0p-53; }

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
// of either sign, counted in stats.  Throws what Sampler::draw throws (no
// acceptance within the trial limit).
inline double heat_bath_draw(const HeatBathSampler &s, double h, Rng &g, DrawStats &stats) { return s.draw(h, g, stats); }

}  // namespace o1hb
