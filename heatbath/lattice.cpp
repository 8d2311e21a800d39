// The periodic lattice, its blocks and its neighbour table.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "heatbath/heatbath.h"

namespace o1hb {

long lattice_sites(int d, int L)
{
    if (d < 1 || d > MAX_DIM)
        throw std::invalid_argument("the dimension must be from 1 to " + std::to_string(MAX_DIM) + ", not " + std::to_string(d));
    if (L < 2) throw std::invalid_argument("the lattice size L must be at least 2, not " + std::to_string(L));
    long V = 1;
    for (int mu = 0; mu < d; ++mu) {
        if (V > MAX_SITES / L)
            throw std::invalid_argument("a lattice of " + std::to_string(L) + "^" + std::to_string(d) +
                                        " sites is larger than the limit of " + std::to_string(MAX_SITES));
        V *= L;
    }
    return V;
}

namespace {

// What every lattice has, whole or a block: sizes and the phases of the
// smallest momentum along one direction.
Lattice common(int d, int L)
{
    Lattice lat;
    lat.d = d;
    lat.L = L;
    lat.V = lattice_sites(d, L);
    constexpr double two_pi = 6.283185307179586476925286766559;
    lat.cos_k.resize(static_cast<std::size_t>(L));
    lat.sin_k.resize(static_cast<std::size_t>(L));
    for (int c = 0; c < L; ++c) {
        lat.cos_k[static_cast<std::size_t>(c)] = std::cos(two_pi * c / L);
        lat.sin_k[static_cast<std::size_t>(c)] = std::sin(two_pi * c / L);
    }
    return lat;
}

// Stored extent along mu: the width and the halos.
inline long extent(const Lattice &lat, int mu) { return lat.n[mu] + (lat.halo[mu] ? 2 : 0); }

// The stored row of block coordinates c[1 .. d-1] (halo layers at -1 and n).
long stored_row(const Lattice &lat, const long c[MAX_DIM])
{
    long row = 0, stride = 1;
    for (int mu = 1; mu < lat.d; ++mu) {
        row += (c[mu] + (lat.halo[mu] ? 1 : 0)) * stride;
        stride *= extent(lat, mu);
    }
    return row;
}

// The block coordinates c[1 .. d-1] of row r of the block.
void row_coordinates(const Lattice &lat, long r, long c[MAX_DIM])
{
    for (int mu = 1; mu < lat.d; ++mu) {
        c[mu] = r % lat.n[mu];
        r /= lat.n[mu];
    }
}

void check_block_size(long sites)
{
    if (sites > MAX_BLOCK_SITES)
        throw std::invalid_argument("a block of " + std::to_string(sites) + " sites is larger than the limit of " +
                                    std::to_string(MAX_BLOCK_SITES) + " for one process: split the lattice over more");
}

}  // namespace

Lattice make_lattice(int d, int L)
{
    Lattice lat = common(d, L);
    const long V = lat.V;
    check_block_size(V);
    lat.rows = V / L;
    lat.stored = V;
    for (int mu = 0; mu < d; ++mu) lat.n[mu] = L;
    lat.nb.resize(static_cast<std::size_t>(V) * 2 * static_cast<std::size_t>(d));
    for (long x = 0; x < V; ++x) {
        long stride = 1;
        for (int mu = 0; mu < d; ++mu) {
            // Coordinate c of x along mu; its neighbours differ by +-stride with wrap-around.
            const long c = (x / stride) % L;
            const long up = c + 1 < L ? x + stride : x - (L - 1) * stride;
            const long down = c > 0 ? x - stride : x + (L - 1) * stride;
            const std::size_t i = static_cast<std::size_t>(x) * 2 * static_cast<std::size_t>(d) + 2 * static_cast<std::size_t>(mu);
            lat.nb[i] = static_cast<std::int32_t>(up);
            lat.nb[i + 1] = static_cast<std::int32_t>(down);
            stride *= L;
        }
    }
    return lat;
}

Lattice make_block(int d, int L, const int grid[MAX_DIM], const int coords[MAX_DIM])
{
    Lattice lat = common(d, L);
    if (grid[0] != 1)
        throw std::invalid_argument("the process grid must not split direction 0 (the rows): its first size must be 1, not " +
                                    std::to_string(grid[0]));
    lat.n[0] = L;
    lat.rows = 1;
    lat.stored = L;
    for (int mu = 1; mu < d; ++mu) {
        if (grid[mu] < 1 || L % grid[mu] != 0 || L / grid[mu] < MIN_BLOCK_WIDTH)
            throw std::invalid_argument("a process grid of " + std::to_string(grid[mu]) + " along direction " +
                                        std::to_string(mu) + " does not split L = " + std::to_string(L) +
                                        " into equal blocks at least " + std::to_string(MIN_BLOCK_WIDTH) + " wide");
        lat.n[mu] = L / grid[mu];
        lat.origin[mu] = lat.n[mu] * coords[mu];
        lat.halo[mu] = grid[mu] > 1;
        lat.rows *= lat.n[mu];
        lat.stored *= extent(lat, mu);
    }
    check_block_size(lat.rows * L);
    // The faces and halos along each split direction: the layers at block
    // coordinate 0 and n - 1, and -1 and n; the other coordinates over the
    // block, in row order, each row's sites of one colour.
    for (int mu = 1; mu < d; ++mu) {
        if (!lat.halo[mu]) continue;
        const int other = mu == 1 ? 2 : 1;
        const long across = other < d ? lat.n[other] : 1;
        for (int side = 0; side < 2; ++side) {
            const long layer[2] = {side ? lat.n[mu] - 1 : 0, side ? lat.n[mu] : -1};  // face, halo
            for (int colour = 0; colour < 2; ++colour) {
                for (int k = 0; k < 2; ++k) {
                    std::vector<std::int32_t> &out = k ? lat.halo_sites[mu][side][colour] : lat.face[mu][side][colour];
                    for (long j = 0; j < across; ++j) {
                        long c[MAX_DIM] = {};
                        c[mu] = layer[k];
                        if (other < d) c[other] = j;
                        // The colour of the row's first site, from its coordinates
                        // in the lattice (a halo layer lies in the neighbour's
                        // block, and L is even).
                        long parity = lat.origin[mu] + layer[k] + L;
                        if (other < d) parity += lat.origin[other] + j;
                        const long first = stored_row(lat, c) * L;
                        for (long x0 = (colour + parity) & 1; x0 < L; x0 += 2) out.push_back(static_cast<std::int32_t>(first + x0));
                    }
                }
            }
        }
    }
    return lat;
}

RowNeighbours row_neighbours(const Lattice &lat, long r)
{
    RowNeighbours n{};
    const long L = lat.L;
    long c[MAX_DIM] = {}, at[MAX_DIM] = {}, stride[MAX_DIM] = {};
    row_coordinates(lat, r, c);
    long row = 0, s = 1;  // the stored row, and the stride along mu in stored rows
    long site_row = 0, site_stride = 1;
    int parity = 0;
    for (int mu = 1; mu < lat.d; ++mu) {
        at[mu] = c[mu] + (lat.halo[mu] ? 1 : 0);
        stride[mu] = s;
        row += at[mu] * s;
        s *= extent(lat, mu);
        const long g = lat.origin[mu] + c[mu];
        parity += static_cast<int>(g & 1);
        site_row += g * site_stride;
        site_stride *= L;
    }
    for (int mu = 1; mu < lat.d; ++mu) {
        long up = at[mu] + 1, down = at[mu] - 1;
        if (!lat.halo[mu]) {
            // The whole width: around the lattice.
            if (up == lat.n[mu]) up = 0;
            if (down < 0) down = lat.n[mu] - 1;
        } else if (c[mu] + 1 == lat.n[mu]) {
            n.up_halo |= 1u << (mu - 1);
        }
        n.up[mu - 1] = (row + (up - at[mu]) * stride[mu]) * L;
        n.down[mu - 1] = (row + (down - at[mu]) * stride[mu]) * L;
    }
    n.parity = parity & 1;
    n.offset = row * L;
    n.site = static_cast<std::uint32_t>(site_row * L);
    return n;
}

std::vector<double> block_from_rows(const Lattice &lat, const double *rows)
{
    std::vector<double> out(static_cast<std::size_t>(lat.stored), 0.0);
    for (long r = 0; r < lat.rows; ++r) {
        const long at = row_neighbours(lat, r).offset;
        std::copy(rows + r * lat.L, rows + (r + 1) * lat.L, out.begin() + at);
    }
    return out;
}

std::vector<double> block_rows(const Lattice &lat, const std::vector<double> &stored)
{
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(lat.rows * lat.L));
    for (long r = 0; r < lat.rows; ++r) {
        const long at = row_neighbours(lat, r).offset;
        out.insert(out.end(), stored.begin() + at, stored.begin() + at + lat.L);
    }
    return out;
}

void place_rows(const Lattice &lat, const double *rows, std::vector<double> &phi)
{
    for (long r = 0; r < lat.rows; ++r) {
        const std::uint32_t site = row_neighbours(lat, r).site;
        std::copy(rows + r * lat.L, rows + (r + 1) * lat.L, phi.begin() + site);
    }
}

void take_rows(const Lattice &lat, const std::vector<double> &phi, double *rows)
{
    for (long r = 0; r < lat.rows; ++r) {
        const std::uint32_t site = row_neighbours(lat, r).site;
        std::copy(phi.begin() + site, phi.begin() + site + lat.L, rows + r * lat.L);
    }
}

}  // namespace o1hb
