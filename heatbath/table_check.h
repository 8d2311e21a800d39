// The check a simulation makes when it loads a table: is every histogram a
// majorant of the weight for the coupling landa over the field values it
// serves?  A table made for another (larger) landa is not, and would bias
// the heat bath silently.
#pragma once

#include <cmath>

#include "sampler/sampler.h"

namespace o1hb {

// A majorant below the weight by more than this relative amount is a
// failure; rounding of the exponents is many orders smaller.
constexpr double MAJORANT_TOL = 1e-10;

struct TableCheck {
    bool ok = true;
    int histograms = 0;   // histograms checked (those the index table uses)
    // The worst point found: histogram, field value, abscissa and the ratio
    // majorant/weight there (infinite when nothing was checked).
    int m = -1;
    double h = 0, x = 0, ratio = INFINITY;
};

// Checks every histogram the index table uses at both ends of the field
// values it serves (at fixed x the log weight is linear in h, so the ends
// hold the largest weight), at every step edge, at the stationary points of
// the weight inside a step and at the points where the tails come closest to
// the weight.  Exact up to rounding: a majorant that is anywhere below the
// weight by more than MAJORANT_TOL fails.  A few milliseconds per hundred histograms.
TableCheck check_table(const o1phi4::Table &t, double landa);

// The real roots of 4 landa x^3 + 2 (1 - 2 landa) x = c (landa >= 0): where
// h x - x^2 - landa (x^2 - 1)^2 has zero slope for h = c.  One to three roots,
// in increasing order, written to roots; returns how many.
int stationary_points(double landa, double c, double roots[3]);

}  // namespace o1hb
