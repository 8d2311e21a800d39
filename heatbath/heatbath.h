// Monte Carlo simulation of the one-component phi-four model on a periodic
// lattice of L^d sites (d = 2 or 3) with the action
//     S = sum_x [ -beta sum_mu phi_x phi_{x+mu} + phi_x^2 + landa (phi_x^2 - 1)^2 ]
// (mu over the d positive directions).  Given its 2d neighbours, phi_x has the
// weight exp(h x - x^2 - landa (x^2 - 1)^2) with h = beta * (sum of the
// neighbours), which the heat-bath update draws from the tables.
//
// Four updates: the heat bath (the sampler of the tables), a Metropolis
// update with several hits per site that uses no table, and two cluster
// updates of the signs (the embedded Ising variables) that can be mixed into
// either: Swendsen-Wang, which labels every cluster of the lattice at once,
// and the single-cluster update.  One sweep is one local update of every
// site, then the requested Swendsen-Wang updates, then the single-cluster
// updates; after each measured sweep the simulation records one Sample.  The
// analysis of the series is apart (analysis.h).
//
// The local sweep goes in checkerboard order: all even sites
// (x_0 + x_1 + ... even), then all odd ones.  Sites of one colour depend only
// on sites of the other, so each half is split over the threads.  Every
// random number comes from the counter-based streams of random.h, keyed by
// the sweep, the kind of update and the site, so the chain is the same for
// any number of threads; the measurements are sums that do not depend on the
// order of their terms.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "heatbath/draw.h"
#include "heatbath/random.h"

namespace o1hb {

// ---------------------------------------------------------------- lattice

// Largest lattice: site numbers fill one word of the random-number counter,
// and a checkpoint holds the whole field (1 GiB at this size, L = 512 in
// three dimensions).
constexpr long MAX_SITES = 1L << 27;
static_assert(MAX_SITES <= (1L << 32), "site numbers fill one word of the random-number counter");
// Largest block one process holds (its field, its neighbour table or its
// union-find forest with 32-bit indices, within a few GiB): the whole lattice
// of a run on one process, one block of a lattice split over several.
constexpr long MAX_BLOCK_SITES = 1L << 24;
// Largest dimension.
constexpr int MAX_DIM = 3;
// Thinnest block of a split lattice along a split direction (a block of
// one layer would be nothing but faces, its two halos the whole of its
// neighbourhood: more messages than sites).
constexpr long MIN_BLOCK_WIDTH = 2;

class Team;

// Periodic hypercubic lattice.  Site x = x_0 + L x_1 + L^2 x_2 + ...; the L
// sites of one row (x_1, x_2, ... fixed) follow each other in memory.
//
// A lattice split over processes (make_block) holds one block of it: the
// rows whole along direction 0, the block n[mu] sites wide from origin[mu]
// along mu >= 1, stored with one halo layer on both faces along the
// directions that are split (halo[mu]), where the neighbouring processes'
// values are copied.  The stored rows keep the order of the lattice's, so
// stored indices grow with the site numbers of the sites they hold.
struct Lattice {
    int d = 0;                       // dimension
    int L = 0;                       // linear size
    long V = 0;                      // number of sites of the whole lattice, L^d
    long rows = 0;                   // rows of the block (V / L for the whole lattice)
    std::vector<std::int32_t> nb;    // whole lattice only: nb[2d x + 2 mu] = x + mu, nb[2d x + 2 mu + 1] = x - mu
    std::vector<double> cos_k, sin_k;  // cos and sin of 2 pi c / L, c = 0 .. L-1
    long n[MAX_DIM] = {};            // block width along mu (L for the whole lattice)
    long origin[MAX_DIM] = {};       // first coordinate of the block along mu
    bool halo[MAX_DIM] = {};         // halo layers along mu (split directions, mu >= 1)
    long stored = 0;                 // stored sites: the block and its halos (V for the whole lattice)
    // Split lattice: the stored indices of the block's faces and halos along
    // each split direction mu, per side (0 below, 1 above) and colour, in
    // the same order on every process, so that face[mu][1][c] of one
    // process lands in halo_sites[mu][0][c] of the process above it.
    std::vector<std::int32_t> face[MAX_DIM][2][2], halo_sites[MAX_DIM][2][2];
    Team *team = nullptr;            // the processes of a split lattice (null: one process)
    bool split() const { return halo[1] || (d > 2 && halo[2]); }
};

// The other processes of a split lattice, as the engine sees them: halo
// exchanges and reductions.  The message passing itself lies behind it.
class Team {
public:
    virtual ~Team() = default;
    virtual int rank() const = 0;
    virtual int size() const = 0;
    // Copies the values of the stored array data (elements of size bytes)
    // at the faces of colour colour (0, 1, or -1 for both) to the halos of
    // the neighbouring processes, and theirs to this one's halos.
    virtual void exchange(void *data, std::size_t size, int colour) = 0;
    // Sums of n integers over the processes, exact.
    virtual void sum(__int128 *v, std::size_t n) = 0;
    virtual void sum(std::uint64_t *v, std::size_t n) = 0;
    // The largest of n doubles over the processes.
    virtual void max(double *v, std::size_t n) = 0;
    // Whether b holds on some process.
    virtual bool any(bool b) = 0;
};

// The rows next to a row along the directions 1 .. d-1, by their first
// stored sites, and the row's own place.
struct RowNeighbours {
    long up[MAX_DIM - 1];    // the row at x_mu + 1, mu = 1 .. d-1
    long down[MAX_DIM - 1];  // the row at x_mu - 1
    int parity;              // (x_1 + ... + x_{d-1}) mod 2, of the lattice's coordinates
    long offset;             // the row's first stored site
    std::uint32_t site;      // the site number of the row's first site
    unsigned up_halo;        // bit mu - 1: the row at x_mu + 1 is a halo row (another process's)
};

// L^d.  Throws std::invalid_argument for d < 1 or d > MAX_DIM, L < 2 or more
// than MAX_SITES sites.
long lattice_sites(int d, int L);
// The lattice of L^d sites, held by one process.  Throws as lattice_sites
// does, and for more than MAX_BLOCK_SITES sites.
Lattice make_lattice(int d, int L);
// Block coords of the lattice L^d split over a grid of processes (grid[mu]
// blocks along mu, grid[0] = 1).  No neighbour table.  Throws
// std::invalid_argument naming the sizes when the grid does not divide L
// along some direction, leaves a block thinner than MIN_BLOCK_WIDTH or splits
// direction 0, and as make_lattice does for the block.
Lattice make_block(int d, int L, const int grid[MAX_DIM], const int coords[MAX_DIM]);
// The neighbours of row r of the block (0 <= r < lat.rows).
RowNeighbours row_neighbours(const Lattice &lat, long r);
// The block's rows of its stored array, one after the other (rows L values).
std::vector<double> block_rows(const Lattice &lat, const std::vector<double> &stored);
// The stored array (halos 0) of the block's rows as block_rows gives them.
std::vector<double> block_from_rows(const Lattice &lat, const double *rows);
// Puts the block's rows in their places in the field phi of the whole
// lattice (site order), and takes them from there.
void place_rows(const Lattice &lat, const double *rows, std::vector<double> &phi);
void take_rows(const Lattice &lat, const std::vector<double> &phi, double *rows);
// The sum of the 2d neighbours of site x0 of a row of the field phi (the
// row's first value at row, its neighbour rows n) in a fixed order: along
// the row (with wrap-around), then the rows on both sides.
template <int D>
inline double neighbour_sum(const double *phi, const double *row, const RowNeighbours &n, long L, long x0)
{
    double sum = (x0 > 0 ? row[x0 - 1] : row[L - 1]) + (x0 + 1 < L ? row[x0 + 1] : row[0]);
    for (int mu = 0; mu < D - 1; ++mu) sum += phi[n.up[mu] + x0] + phi[n.down[mu] + x0];
    return sum;
}

// ---------------------------------------------------------------- threads

// Threads the machine offers (1 when built without OpenMP).
int available_threads();
// Below this many sites per thread, starting and joining the threads of a
// sweep's phases costs more than the threads save.
constexpr long MIN_SITES_PER_THREAD = 4096;
// The threads for a lattice of V sites when the user names none: every one
// the machine offers, but at most one per MIN_SITES_PER_THREAD sites.
int default_threads(long V);
// Whether the program was built with OpenMP (else every run has one thread).
bool have_threads();
// Runs body(block, first_row, end_row) for at most threads blocks 0, 1, ...
// of consecutive rows together covering [0, rows), each block on a thread of
// its own (on the calling thread alone when threads is 1 or OpenMP is
// missing).  When bodies throw, rethrows what the body of the lowest block
// threw, after every thread has ended.
void for_row_blocks(long rows, int threads, const std::function<void(int, long, long)> &body);
// The first row of block b of n over rows rows: rows b / n, rounded down.
inline long block_start(long rows, int b, int n) { return rows * b / n; }

// ---------------------------------------------------------------- updates

// The order of a local sweep.  Checkerboard needs an even L; lexicographic
// (site 0, 1, 2, ... each drawn with its neighbours as they are at that
// moment) runs on one thread.
enum class Order { Checkerboard, Lexicographic };

// Where the random numbers of one sweep come from.
struct SweepKey {
    Philox::key_type key;  // stream_key(seed)
    std::uint64_t sweep;   // the sweep number, 1 .. MAX_SWEEP (0: the start)
};

// Counters of the heat-bath update.
struct HeatBathStats {
    DrawStats draw;            // proposals and fallback draws of the sampler
    std::uint64_t draws = 0;   // site updates
    double max_abs_h = 0;      // largest |h| met
};

// Proposals every site of a checkerboard sweep may make in rounds together
// with the other sites of its batch; a site that none of them accepted (a
// few in ten thousand) is drawn again, whole, by the sampler's draw.
constexpr std::uint64_t HEAT_BATH_ROUNDS = 4;

// One heat-bath sweep: every site gets a fresh value drawn from its
// conditional weight (by the table, or by the sampler's fallback where the
// table serves no histogram) with its stream (HeatBath, sweep, 0, site).
// Checkerboard order on threads threads, or lexicographic order on one.
// Throws what the sampler's draw throws (no acceptance within its trial
// limit: a table that does not fit the weight); for the lowest site that
// failed, the sweep left partly done.
void heat_bath_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                     const SweepKey &k, Order order, int threads, HeatBathStats &st);

// Counters of the Metropolis update.
struct MetropolisStats {
    std::uint64_t proposed = 0, accepted = 0;
};

// One Metropolis sweep: at every site, hits proposals x' = x + step*(2u - 1),
// each accepted with probability min(1, exp(-(change of S))), with the
// site's stream (Metropolis, sweep, 0, site).  Needs hits >= 1 and step > 0.
void metropolis_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                      const SweepKey &k, Order order, int threads, MetropolisStats &st);

// One single-cluster update of the signs, the number-th of the sweep: a
// cluster grows from a random site over the links between sites of the
// seed's sign, each link taken with probability 1 - exp(-2 beta |phi_x phi_y|),
// and all its field values change sign.  stack is scratch space (resized as
// needed).  Returns the cluster size.  On one thread.
long cluster_update(const Lattice &lat, double beta, std::vector<double> &phi, const SweepKey &k, std::uint32_t number,
                    std::vector<std::int32_t> &stack);

// Scratch space of the Swendsen-Wang update, kept from one update to the next.
struct SwWorkspace {
    long V = 0;                                        // sites it is made for
    std::unique_ptr<std::atomic<std::int32_t>[]> parent;  // the union-find forest: parent[x] <= x
    std::vector<unsigned char> bonds;                  // bit mu of bonds[x]: the link x -> x + mu is frozen
    std::vector<unsigned char> flip;                   // at each cluster's smallest site: whether it flips
    std::vector<std::vector<std::int32_t>> across;     // per block: frozen links (x, y) to another block
    // A split lattice: per block, frozen links (x, y) to a halo site; all
    // links across the faces; the clusters' labels at the roots; the labels
    // of the face sites sent and of the halo sites received.
    std::vector<std::vector<std::int32_t>> remote;
    std::vector<std::int32_t> links;
    std::vector<std::uint32_t> label, sent;
};

// Counters of the Swendsen-Wang update.
struct SwStats {
    std::uint64_t updates = 0;   // updates made
    std::uint64_t clusters = 0;  // clusters they found, summed
    std::uint64_t rounds = 0;    // split lattice: rounds of label exchanges (of this process's updates)
};

// The sites whose flips one block of random numbers decides: one bit each.
constexpr std::uint32_t FLIP_SITES = 128;

// One Swendsen-Wang update of the signs, the number-th of the sweep: every
// link between two sites of the same sign is frozen with probability
// 1 - exp(-2 beta |phi_x phi_y|) (number mu of the stream
// (SwBond, sweep, number, x) for the link x -> x + mu); the clusters of
// frozen links are labelled by their smallest site r, and each flips its
// signs when bit r mod FLIP_SITES of the block (SwFlip, sweep, number,
// r / FLIP_SITES) is 1 (probability 1/2, independently for every cluster).
// On threads threads, with the same result for any number of them.
void swendsen_wang_update(const Lattice &lat, double beta, std::vector<double> &phi, const SweepKey &k,
                          std::uint32_t number, int threads, SwWorkspace &w, SwStats &st);
// The labelling alone, for checks: given the frozen links (bit mu of bonds[x]
// for the link x -> x + mu), the smallest site of each site's cluster, found
// on threads threads.
std::vector<std::int32_t> label_clusters(const Lattice &lat, const std::vector<unsigned char> &bonds, int threads);

// ---------------------------------------------------------------- measurement

// The measurements of one configuration, all per site.
struct Sample {
    double m;          // magnetisation sum_x phi_x / V
    double phi2;       // sum_x phi_x^2 / V
    double energy;     // sum_x sum_mu phi_x phi_{x+mu} / V (the coefficient of -beta in S/V)
    double potential;  // sum_x (phi_x^2 - 1)^2 / V
    double F;          // Fourier mode at the smallest momentum: (1/(d V)) sum_mu |sum_x phi_x e^{2 pi i x_mu / L}|^2
};

// Measures the configuration phi on threads threads.  Every sum is exact in
// fixed point (see measure.cpp), so the sample is the same doubles for any
// number of threads and any order of the terms.  Throws std::runtime_error
// when a field value is not finite (a diverging run).
Sample measure(const Lattice &lat, const std::vector<double> &phi, int threads = 1);

// ---------------------------------------------------------------- simulation

enum class Update { HeatBath, Metropolis };

// Metropolis step size when the caller gives none and the thermalisation
// cannot tune it (no thermalisation sweeps).
constexpr double DEFAULT_METROPOLIS_STEP = 1.0;

struct RunParameters {
    int d = 3, L = 8;
    double beta = 0, landa = 0;
    long therm = 1000;          // thermalisation sweeps
    long sweeps = 10000;        // measured sweeps
    std::uint64_t seed = 1;
    Update update = Update::HeatBath;
    Order order = Order::Checkerboard;
    int sw = 0;                 // Swendsen-Wang updates per sweep
    int clusters = 0;           // single-cluster updates per sweep
    int hits = 4;               // Metropolis hits per site
    double step = 0;            // Metropolis step; 0: tuned during the thermalisation
    int threads = 1;            // threads of the sweeps and measurements (the chain does not depend on it)
};

// Everything the chain needs to go on after a sweep: with the parameters,
// the seed and the sampler it determines every later sweep.  Nothing in it
// depends on the number of threads (the counters are sums over the sites),
// so a state saved by one run goes on in another with any number of them.
struct ChainState {
    std::uint64_t sweep = 0;        // sweeps done: thermalisation 1 .. therm, then the measured ones
    std::vector<double> phi;        // the configuration, in site order
    double step = 0;                // Metropolis step in use (tuned during the thermalisation)
    MetropolisStats tune;           // Metropolis counts since the step was last tuned
    HeatBathStats heat_bath;        // over all sweeps
    MetropolisStats metropolis;     // measured sweeps only
    std::uint64_t clusters = 0;     // single-cluster updates in the measured sweeps
    std::uint64_t cluster_sites = 0;  // and the sites they flipped
    SwStats sw;                     // Swendsen-Wang updates of the measured sweeps
};

// The configuration a run starts from (sweep 0).
enum class Start {
    Hot,   // field values uniform in [-1, 1], from the streams (Start, 0, 0, site)
    Cold,  // every field value 1
};

// The state before the first sweep of a run of p from a hot or cold start.
// Throws as check_parameters does.
ChainState start_state(const RunParameters &p, Start start);

struct RunResult : ChainState {
    int threads = 1;                // threads the run used
    long therm_done = 0;            // thermalisation sweeps made by this call
    long measured_done = 0;         // measured sweeps made by this call
    bool stopped = false;           // the hook asked to stop before the last sweep
    // CPU seconds (of all threads) and wall-clock seconds of the
    // thermalisation sweeps (updates alone: the cost of an update) and of the
    // measured sweeps (with measuring and on_sweep).  Timed as wholes: a
    // clock read per sweep would cost as much as a sweep of a small lattice.
    double cpu_therm = 0;
    double cpu_measured = 0;
    double wall_therm = 0;
    double wall_measured = 0;
};

// Called after every sweep with the state after it and, for a measured sweep
// (number state.sweep - therm of the series), its sample; for a thermalisation
// sweep sample is null.  Returns false to stop the run after that sweep.
using SweepHook = std::function<bool(const ChainState &state, const Sample *sample)>;

// Throws std::invalid_argument naming the first parameter out of range: d
// other than 2 or 3, L < 2 or too large, an odd L in checkerboard order,
// beta or landa negative or not finite, no measured sweep, more sweeps in all
// than MAX_SWEEP, negative counts or more than MAX_SUB + 1 cluster updates of
// a kind per sweep, threads < 1, hits < 1 or a negative step for a
// Metropolis run.
void check_parameters(const RunParameters &p);

// Runs the simulation from state (the start of the run, or a state saved
// after some sweep of it) to sweep therm + sweeps, numbering the
// thermalisation sweeps 1 .. therm and the measured ones therm + 1 ..
// therm + sweeps; sweep t draws from the streams of sweep t alone, so a run
// resumed from the state after sweep t makes the same sweeps t + 1, ... as
// the run that went on.  The Metropolis step is tuned (p.step = 0) after
// every tenth thermalisation sweep.  sampler may be null for a Metropolis
// run.  Throws std::invalid_argument, before any sweep, for what
// check_parameters refuses, for a heat-bath run without a sampler or with one
// for another landa, and for a state of another lattice or past the run's
// end; and what the updates throw.
RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, ChainState state, const SweepHook &on_sweep);
// The same on the lattice lat: the whole lattice or, split over processes,
// this process's block (state.phi its stored array, as start_state(p, start,
// lat) makes it).  Every process of a split lattice makes the same calls,
// and every process's hook sees the state with the counters of the whole
// lattice.  Throws, before any sweep, what check_split refuses as well.
RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, ChainState state, const SweepHook &on_sweep,
                   const Lattice &lat);
// The start of a run on the block lat of a split lattice: its stored array,
// the same values at the same sites as start_state(p, start).
ChainState start_state(const RunParameters &p, Start start, const Lattice &lat);
// Throws std::invalid_argument for what a split lattice cannot run: the
// lexicographic order, single-cluster updates.
void check_split(const RunParameters &p, const Lattice &lat);
// The run from a hot start.
RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, const SweepHook &on_sweep = {});

}  // namespace o1hb
