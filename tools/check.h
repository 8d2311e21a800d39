// Checks of a table file against the weight it is meant to bound, for the
// validator o1_phi4_check and its tests: the bookkeeping of every block, the
// majorant against the weight over each histogram's field range, the
// field-index map, and samples drawn with the reference sampler against the
// exact distribution (GSL quadrature).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "sampler/sampler.h"

namespace o1check {

// Relative tolerance of the tail areas against the common area a.
constexpr double AREA_TOL = 1e-9;
// A majorant/weight ratio below 1 - RATIO_TOL is a failure (rounding of the
// exponent is far below it).
constexpr double RATIO_TOL = 1e-12;

// ---------------------------------------------------------------- bookkeeping

struct Bookkeeping {
    long blocks = 0;
    std::vector<std::string> problems;  // each a failure, with its file line
    std::vector<std::string> notes;     // remarkable but not wrong
    double worst_area_error = 0;        // largest |tail area/a - 1|
    int worst_area_block = -1;
};
// Flags 1, 0..., 2, line 1 repeating line 0, increasing positions, a > 0,
// tail slopes of the right sign, tail areas equal to a, and the header
// counts and both snippets agreeing with each other.
Bookkeeping check_bookkeeping(const o1phi4::Table &t);

// ---------------------------------------------------------------- majorant

struct MajorantOptions {
    int points_per_step = 32;   // x points per step, both ends included
    int tail_points = 200;      // x points per tail
    int interior_h = 5;         // evenly spaced field values inside each range
    int random_h = 3;           // random field values inside each range
    std::uint64_t seed = 1;
    std::size_t max_listed = 10;  // violations kept for the report
};
struct Violation {
    int m;          // histogram
    double h, x;    // field value and abscissa
    int piece;      // 0 left tail, 1..Nd_poi-2 step, Nd_poi-1 right tail
    double ratio;   // majorant/weight there
};
struct MajorantReport {
    long histograms = 0, field_values = 0, points = 0;
    long failed_points = 0;
    long failed_histograms = 0;
    Violation worst{-1, 0, 0, -1, 0};     // smallest ratio over everything
    std::vector<Violation> violations;    // the worst point of each failing histogram (up to max_listed)
    std::vector<int> reversed;            // histograms with H_upper(m) < H_m
};
// For every histogram m and field values over [H_m, H_upper(m)], the ratio
// majorant/weight on a dense set of x over the steps and far into both tails,
// plus the points where the ratio can have a local minimum (the stationary
// points of the weight on the steps, of log majorant - log weight on the
// tails).
// A histogram whose next field value lies below its own (the grid is not
// monotone after quantisation) serves the empty range [H_m, H_upper(m)]; it is
// checked at H_m alone and listed in reversed.
MajorantReport check_majorant(const o1phi4::Table &t, double landa, const MajorantOptions &o);
// The smallest ratio majorant/weight of histogram m at field value h, with
// where it occurs (w.m = m, w.h = h).
Violation smallest_ratio(const o1phi4::Table &t, int m, double landa, double h, const MajorantOptions &o);

// ---------------------------------------------------------------- field map

struct MapProblem {
    double h;
    long index;    // field index by the C snippet
    int m;         // histogram, -1 when the index is missing
    double H_lo, H_hi;
};
// Distance outside [H_m, H_upper(m)], relative to max(1, |h|), that counts
// as rounding of h/step at a cell boundary rather than a fault of the map.
constexpr double MAP_ROUNDING = 1e-12;

struct MapReport {
    long points = 0;
    long missing = 0;   // field values whose index is not in the table
    long outside = 0;   // field values outside [H_m, H_upper(m)] of their histogram, beyond rounding
    long rounding = 0;  // outside by no more than MAP_ROUNDING
    double worst_excess = 0;  // largest distance outside
    // Smallest majorant/weight ratio of the serving histogram at the field
    // values outside its range (whether the map fault breaks the sampler).
    Violation outside_worst{-1, 0, 0, -1, INFINITY};
    long c_fortran_differ = 0;  // intervals where the two snippets disagree
    std::vector<MapProblem> examples;  // first missing indices and worst outside cases
    std::vector<long> missing_indices; // distinct missing field indices
};
// Field values densely over [H0, H_max): a uniform grid of grid_points, both
// sides of every field-index cell boundary and random ones.
MapReport check_field_map(const o1phi4::Table &t, double landa, long grid_points, std::uint64_t seed);

// ---------------------------------------------------------------- exact law

// The distribution exp(h*(x - X_max) - x*x - landa*(x*x - 1)^2) normalised by
// GSL adaptive quadrature, independently of the table.  Throws
// std::runtime_error naming h, X_max and Landa when the weight has no finite
// positive integral (non-finite arguments, a shift h*X_max so large that the
// weight underflows everywhere).
class ExactLaw {
public:
    ExactLaw(double h, double X_max, double landa);
    // log of the integral of the (unnormalised) weight over the real line.
    double log_integral() const { return log_z_; }
    // P(X <= x) and its inverse.
    double cdf(double x) const;
    double quantile(double p) const;
    double density(double x) const;  // normalised

private:
    double scaled(double x) const;   // weight without its shift, divided by its top
    double integral(double a, double b) const;  // of scaled over [a, b]
    double h_, landa_;
    double e_top_;                   // largest exponent without the shift
    double lo_, hi_;                 // range beyond which the weight is nil
    std::vector<double> node_, cum_; // grid over [lo_, hi_] and scaled integrals up to each node
    double log_scale_;               // log of the integral of scaled
    double log_z_;
};
// The same log of the integral without the cumulative grid (a few
// quadratures); throws as ExactLaw does.
double log_weight_integral(double h, double X_max, double landa);

// ---------------------------------------------------------------- sampling

struct SampleReport {
    double h = 0;
    int m = -1;
    std::string error;            // non-empty when no sample could be drawn
    long n = 0;
    int bins = 0;
    double chi2 = 0, p_value = 0;
    double acc_measured = 0, acc_predicted = 0, acc_z = 0;
    bool chi2_ok = false, acc_ok = false;
};
// n draws at field value h with the reference sampler; chi-square on `bins`
// equiprobable bins of the exact law and the measured acceptance rate against
// integral of the weight / (Nd_poi*a).  alpha is the level of both tests.
SampleReport check_samples(const o1phi4::Sampler &s, double h, long n, int bins, double alpha, std::uint64_t seed);

// Real roots of the cubic c - 2*x*(1 - 2*landa) - 4*landa*x^3 (the slope of
// the exponent, shifted by c), in increasing order.
std::vector<double> slope_roots(double landa, double c);

}  // namespace o1check
