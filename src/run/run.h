// Run control and field grid: the dialogue, the run loop, the search for the
// field grid, its quantisation onto the field-index map and the writing of
// the planning files.
#pragma once

#include <cfloat>

#include "plan/plan.h"

// Weight at the right mode below which a field value is refused: phase 2's
// root finder multiplies two values of the bin equation (of the order of a
// bin's area), and that product must stay a normal double, with margin for
// the last grid value (above H_max) and the last histogram (0.4 beyond it).
constexpr double WEIGHT_FLOOR = 1e-140;
// Largest loss percentage: from 80 % on, phase 2 cannot build a majorant
// for some Landa already at H = 0 (the right tail stays below the weight).
constexpr double LOSS_MAX = 75.0;
// Largest loss percentage when H_max lies beyond the first mapping interval:
// its coarse steps (0.5 p and more) make histograms serve so wide a field
// range that, above 20 %, some accept ten times fewer proposals than the
// loss promises (one in 60 at 30 %, one in 2000 at 40 %, for Landa 100).
constexpr double LOSS_MAX_COARSE = 20.0;
// The mapping intervals for a loss of p %: [H0, FIRST_BOUNDARY) with the
// step FIRST_STEP_PER_LOSS p, then [FIRST_BOUNDARY, SECOND_BOUNDARY) with the
// step COARSE_STEP_PER_LOSS p, each further interval ten times longer with a
// ten times longer step.
constexpr double FIRST_BOUNDARY = 100.0;
constexpr double FIRST_STEP_PER_LOSS = 0.004;
constexpr double SECOND_BOUNDARY = 1000.0;
constexpr double COARSE_STEP_PER_LOSS = 0.5;
// Narrowest admitted field range: the six decimals of the table file tell
// its ends apart, and the walk over the field axis makes an entry.
constexpr double RANGE_MIN = 1e-6;
// Relative rounding of H_max - H0 for two values typed as decimals (a
// range typed as H0 + 0.000001 may come out a few ulps narrower).
constexpr double RANGE_ROUNDING = 4 * DBL_EPSILON;
// Relative difference between the field step and its six-decimal form
// below which the two index the same cells (at most 30000 of them).
constexpr double STEP_PRINT_TOL = 1e-12;
// Smallest admitted Landa: below it the weight has no modes to search.
constexpr double LANDA_MIN = 0.5;
// Largest admitted Landa: beyond it the weight is so narrow that the
// integrals of the field grid search find nothing left of the mode.
constexpr double LANDA_MAX = 10000.0;

extern double H0, H_max, factor;
extern int N_DH;
extern double Hn[N_DH_MAX], D_Hn[N_DH_MAX];
// Grid field values H_result[0..count].
extern int count;
extern double H_result[GRID_SIZE];

// Parameter dialogue: reads Landa, H0, H_max and the loss percentage p (asked
// again while out of range), builds Hn, D_Hn, N_DH, leaves factor = p/100 and
// prints the mapping and the limits.  Input that is not a number, or the end
// of input, stops through nrerror.
void in_out();

// Field grid: H_result[0..count] from H0 upwards until a value is not below
// H_max, each placed where the mass left of the mode has lost factor - 1.
// Stops through nrerror before the grid would pass GRID_SIZE values.
void find_H_all();
// Integral of g1 from -3 to X_max in six pieces closing in on X_max.
double left_integral();
// 1 + (u - S)/u with S = left_integral() at the current H.
double loss_ratio(double u);

// Quantises the grid, writes "temp2.tmp" and "temp1.tmp" (snippets and the
// field-index table).  A file that cannot be written stops through nrerror.
void write_planning_files();
// v as the C and FORTRAN lines print it ("%f"), read back as a compiler
// reads the printed constant.
double printed_value(double v);

// Largest H_max for the current Landa at which the weight at its right mode
// stays at or above WEIGHT_FLOOR.
double largest_sound_H_max();
// Whether the weight at the right mode of field value h is at least WEIGHT_FLOOR.
bool weight_sound_at(double h);
