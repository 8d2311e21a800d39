// The analysis of a measured series, apart from the simulation: means with
// jackknife errors over blocks, and integrated autocorrelation times with the
// automatic window of Madras and Sokal.
#pragma once

#include <string>
#include <vector>

#include "heatbath/heatbath.h"

namespace o1hb {

// The window W is the smallest with W >= WINDOW_FACTOR * tau_int(W): long
// enough to hold the tail of the autocorrelation, short enough to keep its
// noise down.
constexpr double WINDOW_FACTOR = 6;
// Blocks of the jackknife span at least this many tau_int (the slowest
// observable's), so that block means are nearly independent ...
constexpr double BLOCK_TAUS = 10;
// ... and there are at least this many of them (a shorter run gets shorter
// blocks and is flagged).
constexpr long MIN_BLOCKS = 20;

// Integrated autocorrelation time tau_int = 1/2 + sum_{t=1}^{W} rho(t).
struct Autocorrelation {
    double tau = 0.5;
    double tau_error = 0;     // tau sqrt(2 (2W + 1) / N)
    long window = 0;          // W
    bool window_found = true; // false: no W below N/2 met the criterion, tau is at W = N/2 and too small
};

// tau_int of the series a (N >= 2).  A constant series has tau = 1/2.
Autocorrelation autocorrelation(const std::vector<double> &a);

// One line of the summary.
struct Estimate {
    std::string name;
    double mean = 0, error = 0;  // error: jackknife over the blocks
    Autocorrelation ac;
};

struct Analysis {
    long n = 0;             // samples analysed
    long used = 0;          // samples in the blocks (the first n - used are left out)
    long block = 0;         // block length
    long blocks = 0;        // number of blocks
    double tau_max = 0;     // largest tau_int of the rows
    bool short_run = false; // fewer than BLOCK_TAUS * MIN_BLOCKS tau_max samples: errors less sure
    std::vector<Estimate> rows;  // phi2, energy, potential, |m|, m^2, U4
};

// Analyses the series (at least MIN_BLOCKS samples): the rows phi^2, energy,
// potential, |m|, m^2 and the Binder ratio U4 = <m^4>/<m^2>^2.  The tau_int
// of U4 is that of its linearised fluctuation m^4/<m^2>^2 - 2 <m^4> m^2/<m^2>^3.
// Throws std::invalid_argument for a shorter series.
Analysis analyse(const std::vector<Sample> &series);

}  // namespace o1hb
