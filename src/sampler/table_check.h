// What the sampler's set-up and its load-time check (check_table in
// sampler.h) share: the slope of the exponent, its stationary points, the
// shape every block needs before a draw can use it at all, and the
// comparison of one block with the weight.  Not installed.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "sampler/sampler.h"

namespace o1phi4 {
namespace detail {

// Slope of the exponent h*x - x*x - landa*(x*x - 1)^2, shifted by c - h:
// c - 2*x*(1 - 2*landa) - 4*landa*x^3 (c = h for the weight, c = h - C1 for
// the gap between the weight's logarithm and a tail of slope C1).
inline double slope(double landa, double c, double x) { return c - 2 * x * (1 - 2 * landa) - 4 * landa * x * x * x; }

// The real zeros of slope(landa, c, x) for landa >= 0: one to three, in
// increasing order, written to roots; returns how many.
int stationary_points(double landa, double c, double roots[3]);

// Why block b cannot serve as a majorant a draw can use at all, naming its
// histogram, with the file line concerned in line; empty when it can: it
// needs a > 0, a left tail rising and a right tail falling (with finite
// reciprocals of their slopes), the left tail's anchor on the first step's
// left edge (no gap, no overlap) and steps of positive finite width and
// height.
std::string shape_problem(const Block &b, long &line);

// The smallest log majorant - log weight found, and where.
struct Gap {
    double gap = INFINITY, h = 0, x = 0;
    // Takes the point (h_at, x_at) where they are log_major and log_w.
    void at(double h_at, double x_at, double log_major, double log_w);
};
// Block b against the weight at field value h for landa, into g: at the
// step edges, at the weight's stationary points inside a step and along
// both tails, where log tail - log weight is smallest (at the anchor or at
// a stationary point beyond it).  log_height[k] is the logarithm of the
// height of step k (1..Nd_poi-2).
void majorant_at(const Block &b, const std::vector<double> &log_height, double landa, double h, Gap &g);

}  // namespace detail
}  // namespace o1phi4
