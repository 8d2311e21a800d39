// The plan of a run, between phase 1, which writes it, and phase 2, which
// reads it back: the names and sizes of the planning and snippet files, the
// range of the weight's integrals, the point-count rule, and reading the
// plan and the field values its index table sends to each histogram.
#pragma once

// The planning file (parameters and grid) and the snippet file (C and
// FORTRAN lines and the index table), written by phase 1, read by phase 2.
constexpr char PLAN_FILE[] = "temp2.tmp";
constexpr char SNIPPET_FILE[] = "temp1.tmp";
// Room of the mapping arrays (at most 99 intervals).
constexpr int N_DH_MAX = 100;
// Largest index of the last grid value, and so of the last histogram.
constexpr int N_HISTOGRAM_MAX = 30000;
// Size of a list of grid field values (indices 0 to N_HISTOGRAM_MAX).
constexpr int GRID_SIZE = N_HISTOGRAM_MAX + 1;
// Most entries of the field-index table.
constexpr int INDEX_TABLE_MAX = 30000;
// Most points of one histogram.
constexpr int ND_MAX = 600;
// The field grid spends this share of the accepted loss on the mass left of
// each mode: phase 1 turns the loss p/100 into factor = p/100 * this + 1 ...
constexpr double GRID_LOSS_SHARE = 0.5;
// ... and phase 2 prints the plan's loss in per cent as (factor - 1) * this.
constexpr double LOSS_PERCENT_PER_FACTOR = 100 / GRID_LOSS_SHARE;
// Ends of the range of the integral of the weight and of the diagnostic
// curve.
constexpr double X_LEFT = -3.0;
constexpr double X_RIGHT = 6.0;

// Points per histogram for the loss factor f, 1 to ND_MAX.  When capped is not
// null it receives whether the rule had to be capped at ND_MAX.
int points_per_histogram(double f, bool *capped);

// The plan as phase 2 reads it back.
struct Plan {
    double h0, h_max, factor;  // first and last field value, loss factor
    int N;                     // index of the last histogram
    int M;                     // number of entries of the field-index table
};
// Reads the planning file: its parameters into the result and the grid field
// values into field_values[0..N].  A plan with N above N_HISTOGRAM_MAX
// prints "N_histogram=... >= N_histogram_MAX=..." and stops through nrerror;
// a file that cannot be read, or holds impossible values, stops through
// nrerror naming it.
Plan read_plan(double field_values[]);
// Reads the C lines and the index table of the snippet file and gives each
// histogram m = 0..N the hull [lo[m], hi[m]) of the field values in
// [h0, h_max) that the lines, compiled as written, send to it (both NaN when
// no entry names it).  A file that does not have them stops through nrerror.
void read_served_ranges(int N, double h0, double h_max, double lo[], double hi[]);
