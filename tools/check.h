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

// The validator's own copies of the log weight
// h*(x - X_max) - x*x - landa*(x*x - 1)^2 and of the slope of its exponent,
// shifted by c: c - 2*x*(1 - 2*landa) - 4*landa*x^3 (c = h for the weight).
// They are written out here rather than taken from the sampler library
// (o1phi4::log_weight) on purpose: checks that used the sampler's formula
// could not catch a fault in it.
inline double log_weight(double h, double X_max, double landa, double x)
{
    return h * (x - X_max) - x * x - landa * (x * x - 1) * (x * x - 1);
}
inline double slope(double landa, double c, double x) { return c - 2 * x * (1 - 2 * landa) - 4 * landa * x * x * x; }

// Relative tolerance of the tail areas against the common area a.
constexpr double AREA_TOL = 1e-9;
// A majorant/weight ratio below 1 - RATIO_TOL is a failure (rounding of the
// exponent is far below it).
constexpr double RATIO_TOL = 1e-12;

// "file:line: text", the form of every problem listed.
std::string at_line(const o1phi4::Table &t, long line, const std::string &text);

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

// Largest slope of the exponent at a block's X_max, relative to max(1, |H|),
// for X_max to count as a mode of the weight at H: the generator stops its
// mode search at a slope of 1e-8.  A wrong Landa moves the modes by far more.
constexpr double X_MAX_SLOPE_TOL = 1e-6;

struct ModeReport {
    long blocks = 0;
    double worst_slope = 0;             // largest |slope|/max(1, |H|)
    int worst_block = -1;
    std::vector<std::string> problems;  // each with its file line
};
// X_max of every block must be a stationary point of the exponent at its H
// for this Landa (the generator writes the right mode there): a table made
// with another Landa fails here, whatever its majorants.
ModeReport check_modes(const o1phi4::Table &t, double landa);

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
    std::vector<int> unused;              // histograms that no index-table entry names
};
// For every histogram m that serves field values, at field values over the
// range it serves ([served_lo, served_hi]: both ends, evenly spaced and random
// ones between), the ratio majorant/weight on a dense set of x over the steps
// and far into both tails, plus the points where the ratio can have a local
// minimum (the stationary points of the weight on the steps, of log majorant
// - log weight on the tails).  The log weight is linear in h at fixed x, so
// the ends of the range decide; the values between guard the scan itself.
// A histogram no field value reaches (quantisation put its grid value on or
// below its predecessor's) is listed in unused and not judged.
MajorantReport check_majorant(const o1phi4::Table &t, double landa, const MajorantOptions &o);
// The smallest ratio majorant/weight of histogram m at field value h, with
// where it occurs (w.m = m, w.h = h).
Violation smallest_ratio(const o1phi4::Table &t, int m, double landa, double h, const MajorantOptions &o);

// ---------------------------------------------------------------- acceptance

// The predicted acceptance integral of the weight / (Nd_poi*a) of a sound
// table is at least this share of 1/(1 + loss/100), the acceptance the
// header's loss in per cent claims: an order of magnitude below the claim
// is a broken table (the lowest share of the generator's tables at Landa 1,
// H up to 200: 0.41 at 16 % loss, 0.16 at 40 %, 0.06 at 50 %, 2e-5 at 100 %),
constexpr double ACCEPTANCE_SHARE = 0.1;
// and never below this floor, under which sampling takes over 100 trials a
// draw and is not attempted.
constexpr double ACCEPTANCE_MIN = 0.01;
// A predicted acceptance above 1 + this means a majorant of less area than
// the weight (the quadrature is good to 1e-12).
constexpr double ACCEPTANCE_EXCESS_TOL = 1e-9;

// The lowest acceptance a sound table t may have at a field value it serves.
double acceptance_floor(const o1phi4::Table &t);

struct AcceptanceReport {
    long histograms = 0, field_values = 0;
    double floor = 0;
    Violation lowest{-1, 0, 0, -1, INFINITY};   // smallest predicted acceptance (in ratio)
    Violation highest{-1, 0, 0, -1, -INFINITY}; // largest
    long failed = 0;
    std::vector<std::string> problems;          // each with the block's file line
};
// The predicted acceptance of every histogram that serves field values, at
// both ends and the middle of the range it serves: it must lie between
// acceptance_floor(t) and 1.  Cheap (a few quadratures per histogram), so
// that a table sampling would take hours on fails at once.
AcceptanceReport check_acceptance(const o1phi4::Table &t, double landa);

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

// Real zeros of slope(landa, c, .), the cubic c - 2*x*(1 - 2*landa) -
// 4*landa*x^3, in increasing order: the stationary points of the weight at
// field value c.
std::vector<double> stationary_points(double landa, double c);

}  // namespace o1check
