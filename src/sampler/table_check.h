// What the sampler's set-up and its load-time check (check_table in
// sampler.h) share: the shape every block needs before a draw can use it at
// all, and the comparison of one block with the weight.  Not installed.
#pragma once

#include <string>
#include <vector>

#include "sampler/table.h"
#include "sampler/weight.h"

namespace o1phi4 {
namespace detail {

// Why block b cannot serve as a majorant a draw can use at all, naming its
// histogram, with the file line concerned in line; empty when it can: it
// needs a > 0, a left tail rising and a right tail falling (with finite
// reciprocals of their slopes), the left tail's anchor on the first step's
// left edge (no gap, no overlap) and steps of positive finite width and
// height.
std::string shape_problem(const Block &b, long &line);

// Block b against the weight at field value h for landa, taken into g by
// smallest_log_gap (weight.h).  log_height[k] is the logarithm of the
// height of step k (1..Nd_poi-2).
using Gap = LogGap;
void majorant_at(const Block &b, const std::vector<double> &log_height, double landa, double h, Gap &g);
// The tests of the heat bath's check reach the solver under this name.
using o1phi4::stationary_points;

}  // namespace detail
}  // namespace o1phi4
