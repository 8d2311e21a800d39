// The processes of a run split over several with MPI: the Cartesian grid of
// blocks, the halo exchanges and the reductions the engine asks of its Team,
// and what the program needs besides (agreeing on failures and stops,
// gathering the field, ending every process).  Built only where MPI is found.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "heatbath/heatbath.h"

namespace o1hb {

// Whether an MPI launcher started the program (only then does it start MPI:
// a run by hand stays one plain process).
bool launched_by_mpirun();

// What the exchanges of a process cost: calls, messages sent, bytes sent and
// seconds spent (packing, waiting, unpacking) per kind.
struct TeamCost {
    std::uint64_t calls = 0, messages = 0, bytes = 0;
    double seconds = 0;
};

// The grid of processes of MPI_COMM_WORLD for a lattice of d dimensions:
// grid[0] = 1 (the rows stay whole); grid[1 .. d-1] as given (the product
// must be the number of processes) or, where given all 0, as MPI_Dims_create
// splits the processes.  Throws std::invalid_argument naming the sizes.
void process_grid(int d, int processes, const int given[MAX_DIM], int grid[MAX_DIM]);

class MpiTeam : public Team {
public:
    // The team of the periodic Cartesian communicator cart (d dimensions,
    // ranks in cart order) for the block lat, which must outlive it.
    MpiTeam(MPI_Comm cart, const Lattice &lat);
    int rank() const override { return rank_; }
    int size() const override { return size_; }
    void exchange(void *data, std::size_t size, int colour) override;
    void sum(__int128 *v, std::size_t n) override;
    void sum(std::uint64_t *v, std::size_t n) override;
    void max(double *v, std::size_t n) override;
    bool any(bool b) override;

    // Costs: exchanges of field values, of the Swendsen-Wang labels and
    // frozen links (with their agreements), and the reductions.
    TeamCost field, labels, reductions;

private:
    MPI_Comm comm_;
    const Lattice &lat_;
    int rank_ = 0, size_ = 1;
    int down_[MAX_DIM] = {}, up_[MAX_DIM] = {};
    std::vector<unsigned char> out_[MAX_DIM][2], in_[MAX_DIM][2];
    std::vector<MPI_Request> requests_;
};

// The block coordinates of rank in the Cartesian communicator cart.
void block_coordinates(MPI_Comm cart, int rank, int d, int coords[MAX_DIM]);

}  // namespace o1hb
