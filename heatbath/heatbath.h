// Monte Carlo simulation of the one-component phi-four model on a periodic
// lattice of L^d sites (d = 2 or 3) with the action
//     S = sum_x [ -beta sum_mu phi_x phi_{x+mu} + phi_x^2 + landa (phi_x^2 - 1)^2 ]
// (mu over the d positive directions).  Given its 2d neighbours, phi_x has the
// weight exp(h x - x^2 - landa (x^2 - 1)^2) with h = beta * (sum of the
// neighbours), which the heat-bath update draws from the tables.
//
// Three updates: the heat bath (the sampler of the tables), a Metropolis
// update with several hits per site that uses no table, and a single-cluster
// update of the signs (the embedded Ising variables) that can be mixed into
// either.  One sweep is one local update of every site in lexicographic order,
// then the requested number of cluster updates; after each sweep the
// simulation records one Sample.  The analysis of the series is apart
// (analysis.h).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "heatbath/draw.h"

namespace o1hb {

// ---------------------------------------------------------------- lattice

// Largest lattice: the neighbour table holds 32-bit site numbers, and this
// keeps a run within a few GiB of memory.
constexpr long MAX_SITES = 1L << 24;

// Periodic hypercubic lattice.  Site x = x_0 + L x_1 + L^2 x_2 + ...
struct Lattice {
    int d = 0;                       // dimension
    int L = 0;                       // linear size
    long V = 0;                      // number of sites, L^d
    std::vector<std::int32_t> nb;    // nb[2d x + 2 mu] = x + mu, nb[2d x + 2 mu + 1] = x - mu
};

// L^d.  Throws std::invalid_argument for d < 1, L < 2 or more than MAX_SITES sites.
long lattice_sites(int d, int L);
// The lattice of L^d sites.  Throws as lattice_sites does.
Lattice make_lattice(int d, int L);

// ---------------------------------------------------------------- updates

// Counters of the heat-bath update.
struct HeatBathStats {
    DrawStats draw;            // proposals and fallback draws of the sampler
    std::uint64_t draws = 0;   // site updates
    double max_abs_h = 0;      // largest |h| met
};

// One heat-bath sweep: every site in turn gets a fresh value drawn from its
// conditional weight (by the table, or by the sampler's fallback where the
// table serves no histogram).  Throws what the sampler's draw throws (no
// acceptance within its trial limit: a table that does not fit the weight).
void heat_bath_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                     Rng &g, HeatBathStats &st);

// Counters of the Metropolis update.
struct MetropolisStats {
    std::uint64_t proposed = 0, accepted = 0;
};

// One Metropolis sweep: at every site in turn, hits proposals x' = x + step*(2u - 1),
// each accepted with probability min(1, exp(-(change of S))).  Needs
// hits >= 1 and step > 0.
void metropolis_sweep(const Lattice &lat, double beta, double landa, int hits, double step, std::vector<double> &phi,
                      Rng &g, MetropolisStats &st);

// One single-cluster update of the signs: a cluster grows from a random site
// over the links between sites of the seed's sign, each link taken with
// probability 1 - exp(-2 beta |phi_x phi_y|), and all its field values change
// sign.  stack is scratch space (resized as needed).  Returns the cluster size.
long cluster_update(const Lattice &lat, double beta, std::vector<double> &phi, Rng &g,
                    std::vector<std::int32_t> &stack);

// ---------------------------------------------------------------- measurement

// The measurements of one configuration, all per site.
struct Sample {
    double m;          // magnetisation sum_x phi_x / V
    double phi2;       // sum_x phi_x^2 / V
    double energy;     // sum_x sum_mu phi_x phi_{x+mu} / V (the coefficient of -beta in S/V)
    double potential;  // sum_x (phi_x^2 - 1)^2 / V
    double F;          // Fourier mode at the smallest momentum: (1/(d V)) sum_mu |sum_x phi_x e^{2 pi i x_mu / L}|^2
};

// Measures the configuration phi.
Sample measure(const Lattice &lat, const std::vector<double> &phi);

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
    int clusters = 0;           // single-cluster updates per sweep
    int hits = 4;               // Metropolis hits per site
    double step = 0;            // Metropolis step; 0: tuned during the thermalisation
};

struct RunResult {
    std::vector<Sample> series;     // one per measured sweep
    HeatBathStats heat_bath;        // over the whole run
    MetropolisStats metropolis;     // measured sweeps only
    double step = 0;                // Metropolis step used in the measured sweeps
    std::uint64_t clusters = 0;     // cluster updates in the measured sweeps
    std::uint64_t cluster_sites = 0;  // and the sites they flipped
    // CPU seconds of the thermalisation sweeps (updates alone: the cost of
    // an update) and of the measured sweeps (with measuring and on_sweep).
    // Timed as wholes: a clock read per sweep would cost as much as a sweep
    // of a small lattice.
    double cpu_therm = 0;
    double cpu_measured = 0;
    std::vector<double> phi;        // the final configuration
};

// Called after every measured sweep with its number (1-based) and sample,
// and with 0 and an unused sample after every thermalisation sweep.
using SweepHook = std::function<void(long sweep, const Sample &)>;

// Throws std::invalid_argument naming the first parameter out of range: d
// other than 2 or 3, L < 2 or too large, beta or landa negative or not
// finite, no measured sweep, negative counts, hits < 1 or a negative step
// for a Metropolis run.
void check_parameters(const RunParameters &p);

// Runs the simulation from a random start (field values uniform in [-1, 1]).
// sampler may be null for a Metropolis run.  Throws std::invalid_argument,
// before any sweep, for what check_parameters refuses and for a heat-bath run
// without a sampler or with one for another landa; and what the updates throw.
RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, const SweepHook &on_sweep = {});

}  // namespace o1hb
