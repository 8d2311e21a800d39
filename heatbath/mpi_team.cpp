// Halo exchanges and reductions over MPI.
#include "heatbath/mpi_team.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace o1hb {

bool launched_by_mpirun()
{
    // Open MPI, then the PMI of other launchers.
    for (const char *name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"})
        if (std::getenv(name)) return true;
    return false;
}

void process_grid(int d, int processes, const int given[MAX_DIM], int grid[MAX_DIM])
{
    grid[0] = 1;
    bool named = false;
    for (int mu = 0; mu < d; ++mu) named |= given[mu] != 0;
    if (!named) {
        // Direction 0 kept whole: the others split as evenly as MPI sees fit.
        int dims[MAX_DIM] = {};
        MPI_Dims_create(processes, d - 1, dims);
        for (int mu = 1; mu < d; ++mu) grid[mu] = dims[d - 1 - mu];
        return;
    }
    long product = 1;
    for (int mu = 0; mu < d; ++mu) {
        grid[mu] = given[mu];
        product *= given[mu];
    }
    std::string shape = std::to_string(grid[0]);
    for (int mu = 1; mu < d; ++mu) shape += "x" + std::to_string(grid[mu]);
    if (product != processes)
        throw std::invalid_argument("--grid " + shape + " has " + std::to_string(product) + " blocks for " +
                                    std::to_string(processes) + " processes");
}

void block_coordinates(MPI_Comm cart, int rank, int d, int coords[MAX_DIM])
{
    MPI_Cart_coords(cart, rank, d, coords);
}

MpiTeam::MpiTeam(MPI_Comm cart, const Lattice &lat) : comm_(cart), lat_(lat)
{
    MPI_Comm_rank(comm_, &rank_);
    MPI_Comm_size(comm_, &size_);
    for (int mu = 1; mu < lat.d; ++mu) MPI_Cart_shift(comm_, mu, 1, &down_[mu], &up_[mu]);
}

namespace {

inline double now() { return MPI_Wtime(); }

// The tag of a face's message: its direction and side.
inline int tag(int mu, int side) { return 2 * mu + side; }

void add_int128(void *in, void *inout, int *len, MPI_Datatype *)
{
    const unsigned char *a = static_cast<const unsigned char *>(in);
    unsigned char *b = static_cast<unsigned char *>(inout);
    for (int i = 0; i < *len; ++i, a += 16, b += 16) {
        __int128 x, y;
        std::memcpy(&x, a, 16);
        std::memcpy(&y, b, 16);
        y += x;
        std::memcpy(b, &y, 16);
    }
}

}  // namespace

void MpiTeam::exchange(void *data, std::size_t size, int colour)
{
    TeamCost &cost = size == sizeof(double) ? field : labels;
    const double t0 = now();
    unsigned char *base = static_cast<unsigned char *>(data);
    const int c0 = colour < 0 ? 0 : colour, c1 = colour < 0 ? 1 : colour;
    requests_.clear();
    // Receive first: the halo below from the process below (its top face),
    // the halo above from the one above (its bottom face).
    for (int mu = 1; mu < lat_.d; ++mu) {
        if (!lat_.halo[mu]) continue;
        for (int side = 0; side < 2; ++side) {
            std::size_t n = 0;
            for (int c = c0; c <= c1; ++c) n += lat_.halo_sites[mu][side][c].size();
            in_[mu][side].resize(n * size);
            requests_.emplace_back();
            MPI_Irecv(in_[mu][side].data(), static_cast<int>(n * size), MPI_BYTE, side ? up_[mu] : down_[mu], tag(mu, 1 - side),
                      comm_, &requests_.back());
        }
    }
    for (int mu = 1; mu < lat_.d; ++mu) {
        if (!lat_.halo[mu]) continue;
        for (int side = 0; side < 2; ++side) {
            std::vector<unsigned char> &out = out_[mu][side];
            out.clear();
            for (int c = c0; c <= c1; ++c)
                for (const std::int32_t x : lat_.face[mu][side][c])
                    out.insert(out.end(), base + static_cast<std::size_t>(x) * size, base + static_cast<std::size_t>(x + 1) * size);
            requests_.emplace_back();
            MPI_Isend(out.data(), static_cast<int>(out.size()), MPI_BYTE, side ? up_[mu] : down_[mu], tag(mu, side), comm_,
                      &requests_.back());
            ++cost.messages;
            cost.bytes += out.size();
        }
    }
    MPI_Waitall(static_cast<int>(requests_.size()), requests_.data(), MPI_STATUSES_IGNORE);
    for (int mu = 1; mu < lat_.d; ++mu) {
        if (!lat_.halo[mu]) continue;
        for (int side = 0; side < 2; ++side) {
            const unsigned char *in = in_[mu][side].data();
            for (int c = c0; c <= c1; ++c)
                for (const std::int32_t x : lat_.halo_sites[mu][side][c]) {
                    std::memcpy(base + static_cast<std::size_t>(x) * size, in, size);
                    in += size;
                }
        }
    }
    ++cost.calls;
    cost.seconds += now() - t0;
}

void MpiTeam::sum(__int128 *v, std::size_t n)
{
    const double t0 = now();
    static MPI_Datatype type = MPI_DATATYPE_NULL;
    static MPI_Op op = MPI_OP_NULL;
    if (type == MPI_DATATYPE_NULL) {
        MPI_Type_contiguous(16, MPI_BYTE, &type);
        MPI_Type_commit(&type);
        MPI_Op_create(add_int128, 1, &op);
    }
    MPI_Allreduce(MPI_IN_PLACE, v, static_cast<int>(n), type, op, comm_);
    ++reductions.calls;
    reductions.seconds += now() - t0;
}

void MpiTeam::sum(std::uint64_t *v, std::size_t n)
{
    const double t0 = now();
    MPI_Allreduce(MPI_IN_PLACE, v, static_cast<int>(n), MPI_UINT64_T, MPI_SUM, comm_);
    ++reductions.calls;
    reductions.seconds += now() - t0;
}

void MpiTeam::max(double *v, std::size_t n)
{
    const double t0 = now();
    MPI_Allreduce(MPI_IN_PLACE, v, static_cast<int>(n), MPI_DOUBLE, MPI_MAX, comm_);
    ++reductions.calls;
    reductions.seconds += now() - t0;
}

bool MpiTeam::any(bool b)
{
    // Only the labelling asks: its cost goes with the labels'.
    const double t0 = now();
    int v = b ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_INT, MPI_MAX, comm_);
    ++labels.calls;
    labels.seconds += now() - t0;
    return v != 0;
}

}  // namespace o1hb
