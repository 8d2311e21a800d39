// The heat bath's map of field values to look-ups.
#include "heatbath/draw.h"

#include <cstring>
#include <limits>

namespace o1hb {

namespace {

// Doubles >= 0 in order are their bit patterns in order.
std::uint64_t bits(double a)
{
    std::uint64_t b;
    std::memcpy(&b, &a, sizeof b);
    return b;
}
double from_bits(std::uint64_t b)
{
    double a;
    std::memcpy(&a, &b, sizeof a);
    return a;
}

}  // namespace

HeatBathSampler::HeatBathSampler(o1phi4::Table table, double landa, o1phi4::SamplerOptions options)
    : Sampler(std::move(table), landa, options)
{
    build_map();
}

void HeatBathSampler::build_map()
{
    const double reach = std::fmin(MAP_REACH, std::fmax(std::fabs(H0()), std::fabs(H_max())));
    const std::size_t n = static_cast<std::size_t>(std::ceil(reach * MAP_CELLS_PER_UNIT));
    reach_ = static_cast<double>(n) / MAP_CELLS_PER_UNIT;
    cells_.assign(2 * n, Cell{0, MIXED, MIXED});
    // The look-up at |h| = a on the side of the cell.
    auto at = [this](double a, bool negative) { return look_up(negative ? -a : a); };
    // The index of look-up l, added unless it is one of the cell before's.
    auto id = [this](const LookUp &l, const Cell &before) {
        if (!l.served()) return MIXED;
        for (std::uint32_t i : {before.below, before.above})
            if (i != MIXED && look_ups_[i] == l) return i;
        look_ups_.push_back(l);
        return static_cast<std::uint32_t>(look_ups_.size() - 1);
    };
    for (int side = 0; side < 2; ++side) {
        Cell before{0, MIXED, MIXED};
        for (std::size_t q = 0; q < n; ++q) {
            // The field values of the cell: |h| from a0 to a1, its first and
            // last doubles (h = -0 counts as h >= 0).
            double a0 = static_cast<double>(q) / MAP_CELLS_PER_UNIT;
            if (side == 1 && q == 0) a0 = std::numeric_limits<double>::denorm_min();
            const double a1 = std::nextafter(static_cast<double>(q + 1) / MAP_CELLS_PER_UNIT, 0.0);
            const LookUp l0 = at(a0, side), l1 = at(a1, side);
            Cell c{INFINITY, MIXED, MIXED};
            if (l0 == l1) {
                c.below = c.above = id(l0, before);
            } else {
                // The first |h| whose look-up is not l0's: between a0 and a1,
                // by halving on the doubles.  The cell has one look-up on
                // either side of it when the look-ups at its ends agree.
                std::uint64_t lo = bits(a0), hi = bits(a1);
                while (hi - lo > 1) {
                    const std::uint64_t mid = lo + (hi - lo) / 2;
                    (at(from_bits(mid), side) == l0 ? lo : hi) = mid;
                }
                if (at(from_bits(hi), side) == l1) {
                    c.split = from_bits(hi);
                    c.below = id(l0, before);
                    c.above = id(l1, before);
                }
            }
            cells_[2 * q + static_cast<std::size_t>(side)] = c;
            before = c;
        }
    }
}

o1phi4::Proposal HeatBathSampler::propose_unmapped(double h, std::uint64_t r0, std::uint64_t r1, double &x) const
{
    return Sampler::propose(h, r0, r1, x);
}

std::size_t HeatBathSampler::mixed_cells() const
{
    std::size_t n = 0;
    for (const Cell &c : cells_) n += c.below == MIXED || c.above == MIXED;
    return n;
}

}  // namespace o1hb
