// How the heat bath makes its sampler for a simulation and draws one site's
// value from it.  (The Metropolis kernel takes the log weight from the same
// library, sampler/weight.h.)
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sampler/sampler.h"

namespace o1hb {

// Proposals made and draws that needed the table-free fallback.
using DrawStats = o1phi4::DrawStats;

// The map of field values near 0 to their look-ups: cells of width
// 1/MAP_CELLS_PER_UNIT (a power of two, so that |h| times it is exact) up
// to |h| = MAP_REACH (or H_max, if below).  A heat bath's field values stay
// within a few units of 0.
constexpr double MAP_CELLS_PER_UNIT = 256;
constexpr double MAP_REACH = 8;

// The sampler of a heat bath: the library's, with a map of the look-ups of
// the field values near 0, so that a site's proposal finds its histogram
// and bounds with one multiplication and two loads.  The map points into
// the sampler: it can be moved, not copied.
class HeatBathSampler : public o1phi4::Sampler {
public:
    // As Sampler(table, landa, options), then the map.
    HeatBathSampler(o1phi4::Table table, double landa, o1phi4::SamplerOptions options = {});
    HeatBathSampler(HeatBathSampler &&) = default;
    HeatBathSampler(const HeatBathSampler &) = delete;
    HeatBathSampler &operator=(const HeatBathSampler &) = delete;
    HeatBathSampler &operator=(HeatBathSampler &&) = delete;

    // Sampler::propose(h, r0, r1, x), with the look-up from the map where
    // it has one for h.
    o1phi4::Proposal propose(double h, std::uint64_t r0, std::uint64_t r1, double &x) const
    {
        const LookUp *l = mapped(h);
        return l ? Sampler::propose(*l, h, r0, r1, x) : propose_unmapped(h, r0, r1, x);
    }
    // Sampler::propose_by_bounds for the field value h: Accepted, Rejected
    // or Undecided, or for the rare field values the map does not serve,
    // what propose says.
    o1phi4::Proposal propose_by_bounds(double h, std::uint64_t r0, std::uint64_t r1, double &x) const
    {
        const LookUp *l = mapped(h);
        return l ? Sampler::propose_by_bounds(*l, r0, r1, x) : propose_unmapped(h, r0, r1, x);
    }

    // Cells of the map (two per width: h >= 0 and h < 0) and those whose
    // field values need the look-up of the sampler (for checks).
    std::size_t map_cells() const { return cells_.size(); }
    std::size_t mixed_cells() const;

private:
    // A cell of |h| in [a0, a1): look_ups_[below] for |h| < split,
    // look_ups_[above] from split on; MIXED where the map has none.
    static constexpr std::uint32_t MIXED = ~std::uint32_t(0);
    struct Cell {
        double split;
        std::uint32_t below, above;
    };
    void build_map();
    // The look-up of h from the map, null where the map has none.
    const LookUp *mapped(double h) const
    {
        const double a = std::fabs(h);
        if (!(a < reach_)) return nullptr;
        // Through long: the conversion to an unsigned type tests the sign.
        const Cell &c = cells_[static_cast<std::size_t>(2 * static_cast<long>(a * MAP_CELLS_PER_UNIT) + (h < 0))];
        const std::uint32_t id = a < c.split ? c.below : c.above;
        return id != MIXED ? &look_ups_[id] : nullptr;
    }
    // Sampler::propose, out of line: the rare field values the map does not
    // serve would crowd the registers of the common ones' loop.
    o1phi4::Proposal propose_unmapped(double h, std::uint64_t r0, std::uint64_t r1, double &x) const;

    double reach_ = 0;
    std::vector<Cell> cells_;
    std::vector<LookUp> look_ups_;
};

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
