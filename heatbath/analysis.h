// The analysis of a measured series, apart from the simulation: means and the
// quantities derived from them, with errors from the integrated
// autocorrelation time (automatic window of Madras and Sokal) of each one's
// fluctuation.  The formulas are in docs/analysis.md.
#pragma once

#include <string>
#include <vector>

#include "heatbath/heatbath.h"

namespace o1hb {

// The window W is the smallest with W >= WINDOW_FACTOR * tau_int(W): long
// enough to hold the tail of the autocorrelation, short enough to keep its
// noise down.
constexpr double WINDOW_FACTOR = 6;
// A series whose standard deviation is at most this many units of rounding
// (DBL_EPSILON times its largest magnitude) is constant: what is left of its
// variance is the rounding of its mean.
constexpr double CONSTANT_ULPS = 16;
// A run shorter than this many tau_int (the largest of its rows) gets a
// warning: the window and the errors are themselves uncertain.
constexpr double MIN_RUN_TAUS = 100;
// The fewest samples the analysis takes, and the fewest blocks of a jackknife.
constexpr long MIN_BLOCKS = 20;

// A measured series as the reader gives it: the lattice and beta of the run
// from the file's header (d = L = 0 when it has none), and one Sample per
// measured sweep.
struct Series {
    int d = 0, L = 0;
    double beta = 0;
    bool has_F = false;  // the file has the Fourier-mode column
    std::vector<Sample> samples;
};

// The number of sites L^d of the series' lattice, 0 when the header gave none.
double volume(const Series &s);

// What the window of an autocorrelation time came to.
enum class Window {
    Found,      // W >= WINDOW_FACTOR tau_int(W) for some W < N/2
    NotFound,   // no W below N/2 met it: tau is at W = N/2 and too small (the run is too short)
    Clamped,    // tau_int(W) came out below 1/2 (noise of a short series): set to 1/2
    Constant,   // the variance is zero to rounding: tau = 1/2, error 0
};

// Integrated autocorrelation time tau_int = 1/2 + sum_{t=1}^{W} rho(t).
struct Autocorrelation {
    double tau = 0.5;
    double tau_error = 0;    // tau sqrt(2 (2W + 1) / N)
    long window = 0;         // W
    double variance = 0;     // Gamma(0)
    Window status = Window::Constant;
};

// tau_int of the series a (N >= 2; a is used as scratch space).
// Throws std::invalid_argument for a shorter series.
Autocorrelation autocorrelation(std::vector<double> a);

// One row of the summary.
struct Estimate {
    std::string name;
    double mean = 0;
    double error = 0;        // sqrt(Gamma(0) 2 tau_int / N) of the fluctuation
    Autocorrelation ac;      // of the fluctuation
    std::string undefined;   // non-empty: the value does not exist, and why
};

// The mean of a and its error sqrt(Gamma(0) 2 tau_int / N), a as scratch space.
Estimate mean_estimate(const std::string &name, std::vector<double> a);

// The columns of the analysis, each a function of one sample.
enum Column { PHI2, ENERGY, POTENTIAL, ABS_M, M2, M4, FOURIER, COLUMNS };
double column(const Sample &s, int c);

// The derived quantities as functions of the column means (indexed by
// Column), V the number of sites and L the size:
//   U4 = <m^4>/<m^2>^2,  chi = V <m^2>,  chi' = V (<m^2> - <|m|>^2),
//   xi/L = sqrt(chi/<F> - 1) / (2 L sin(pi/L)).
// A quantity that does not exist for these means comes out NaN.
double binder(const double *mean);
double susceptibility(const double *mean, double V);
double connected_susceptibility(const double *mean, double V);
double xi_over_L(const double *mean, double V, int L);

struct Analysis {
    long n = 0;              // samples analysed
    double tau_max = 0;      // largest tau_int of the rows
    bool has_lattice = false;  // the series' header gave the lattice: chi, chi' rows
    std::vector<Estimate> rows;  // phi^2, energy, potential, |m|, m^2, U4, then chi, chi', xi/L when known
};

// Analyses the series (at least MIN_BLOCKS samples): the rows phi^2, energy,
// potential, |m|, m^2 and U4; with the lattice known chi and chi'; with the
// Fourier column xi/L.  A derived quantity's tau_int and error are those of
// its linearised fluctuation sum_alpha (df/d<a_alpha>) a_alpha.  Throws
// std::invalid_argument for a shorter series.
Analysis analyse(const Series &series);

// The row of the analysis with this name, or null.
const Estimate *find_row(const Analysis &an, const std::string &name);

}  // namespace o1hb
