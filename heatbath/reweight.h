// Single-histogram reweighting of a series measured at beta_0 to neighbouring
// beta: <O>_beta = sum_i w_i O_i / sum_i w_i with w_i = exp((beta - beta_0) V E_i),
// E the energy column, computed in logarithms so that no exponent overflows.
// Errors by the jackknife over blocks, the reweighting redone in every
// jackknife sample.
#pragma once

#include <vector>

#include "heatbath/analysis.h"

namespace o1hb {

// Blocks of the jackknife span at least this many tau_int of the slowest row
// of the analysis (blocks of 10 tau_int give errors 5 % too small for an
// exponential autocorrelation, blocks of 50 tau_int 1 %), and there are at
// least MIN_BLOCKS of them (a shorter run gets shorter blocks and is flagged).
constexpr double BLOCK_TAUS = 50;
// At most this many steps of beta in one reweighting.
constexpr long MAX_REWEIGHT_STEPS = 1000;
// A point whose effective number of samples (sum w)^2 / sum w^2 falls below
// this fraction of the run is flagged: the range is too wide to trust there.
constexpr double MIN_EFFECTIVE_FRACTION = 0.1;

// N + 1 values of beta from lo to hi (both included).
struct ReweightRange {
    double lo = 0, hi = 0;
    long n = 0;
};

// The jackknife's blocks: count blocks of length samples, the last
// count * length samples of the series (the first ones are left out as
// further thermalisation).
struct Blocks {
    long length = 0, count = 0;
    bool short_run = false;  // fewer than BLOCK_TAUS * MIN_BLOCKS tau_max samples: blocks shorter than BLOCK_TAUS tau_max
};

// Blocks of at least BLOCK_TAUS tau_max samples, at least MIN_BLOCKS of them
// (shorter ones, flagged, for a short run).  Needs n >= MIN_BLOCKS.
Blocks jackknife_blocks(long n, double tau_max);

// A value with its jackknife error (NaN where the quantity does not exist).
struct Jackknifed {
    double value = 0, error = 0;
};

struct ReweightPoint {
    double beta = 0;
    Jackknifed U4, m2, chi, xi;  // xi: xi/L, only for a series with the Fourier column
    double n_eff = 0;            // (sum w)^2 / sum w^2
    bool too_wide = false;       // n_eff < MIN_EFFECTIVE_FRACTION * N
};

struct Reweighting {
    double beta0 = 0;
    long n = 0;
    Blocks blocks;
    bool has_xi = false;
    std::vector<ReweightPoint> points;
    // At beta_0, from the connected correlators d<O>/dbeta = V (<O E> - <O><E>).
    Jackknifed dU4, dxi;
};

// The series reweighted to beta with the jackknife over b.  The values use
// every sample; at beta = beta_0 they equal the plain means of analyse()
// exactly.  Needs the lattice from the series' header.
ReweightPoint reweight_at(const Series &s, double beta, const Blocks &b);

// The series reweighted to the N + 1 values of beta of range, and the
// derivatives dU4/dbeta and d(xi/L)/dbeta at beta_0; tau_max (the analysis')
// sets the blocks.  Throws std::invalid_argument when the series' header
// gives no lattice and beta, or for fewer than MIN_BLOCKS samples.
Reweighting reweight(const Series &s, double tau_max, const ReweightRange &range);

}  // namespace o1hb
