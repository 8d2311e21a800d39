// Table generation: the envelope evaluator (tails, index frames), the
// equal-area bin search, the last-bin corrections and the generation driver
// that writes the table file and the diagnostic file.
#pragma once

#include <cstdio>
#include <string>

#include "numeric/numeric.h"
#include "plan/plan.h"

// Size of the arrays of the histogram being built (entries 0..Nd_poi).
constexpr int TABLE_SIZE = 30001;
// Scan step and bracket width of the bin-edge search.
constexpr double ACC_INTERVAL = 0.1;
// Accuracy of the bin-edge root and size of the final nudge.
constexpr double ACC_RIDDERS = 1e-8;
// Tolerance of the area search on the distance of the last edge to Xlimit.
constexpr double ACC_A = 1e-7;
// The area search also stops once the last edge lies within
// 1/(AREA_TOL_BINS n) of Xlimit, n the number of step bins.
constexpr double AREA_TOL_BINS = 50.0;
// Factor by which the area search brackets the common area.
constexpr double AREA_BRACKET_FACTOR = 1.2;
// Bracketing steps of the area search before it gives up.
constexpr int AREA_BRACKET_MAX = 200;
// Bisection steps of the area search (the count test is "> 200").
constexpr int AREA_BISECTION_MAX = 200;
// Passes of the right-tail iteration (the count test is "> 1000").
constexpr int TAIL_PASSES_MAX = 1000;
// Relative change at which the right-tail iteration stops.
constexpr double TAIL_REL_CHANGE = 0.02;
// The step region ends this much (divided by the number of step bins) right
// of the tangent point of the right tail while the edges are searched.
constexpr double XLIMIT_MARGIN = 0.01;
// Field value whose histogram prints the debug lines.
constexpr double DEBUG_H = 1.6;
// Most threads O1_PHI4_THREADS may ask for: far more than any machine this
// runs on has cores, low enough that a typing slip cannot exhaust the system.
constexpr int THREADS_MAX = 1024;
// Histograms a thread may finish ahead of the one being written, per thread:
// enough to keep every core busy past a slow histogram, and a bound on the
// memory held by blocks waiting for their turn.
constexpr int AHEAD_PER_THREAD = 8;

// Accuracies of the bin search, set once before the histograms are built.
extern double Acc_interval, Acc_ridders, Acc_a;
// Number of pieces of every histogram of the run.
extern int Nd_poi;
// Field values of the histograms.
extern double Hlist[GRID_SIZE];

// The state of the histogram being built: each thread that builds
// histograms has its own.
// Start of the right tail and right end of the step region.
extern thread_local double X0, Xlimit;
// Tail table: slope, intercept and anchor of the tail at entry j, and its
// flag (1 left tail, 2 right tail, 0 step bin).
extern thread_local double C1[TABLE_SIZE], C2[TABLE_SIZE], C3[TABLE_SIZE];
extern thread_local int X_point[TABLE_SIZE];
// Edges and heights of the current histogram.
extern thread_local double x1[TABLE_SIZE], f1[TABLE_SIZE];
// When true, the right-tail iteration stops on its 2 % test only once the
// tangent point is not left of the candidate (the tangent then holds no more
// than the area right of it); used to rebuild a histogram whose right tail
// came out below the weight.
extern thread_local bool Strict_right_tail;
// Field values the index table sends to each histogram (through the C lines
// of the snippet file, read_served_ranges): [Served_lo[j], Served_hi[j]], both
// NaN when no entry names histogram j (it is never drawn from).
extern double Served_lo[GRID_SIZE], Served_hi[GRID_SIZE];

// The envelope evaluator's modes.  The edge array x1 is in one of two frames:
// full (count Nd_poi: x1[1] the end of the left tail, x1[2..Nd_poi-1] the
// step edges, tails at entries 0 and Nd_poi - 1) or inner (count Nd_poi - 2:
// the step region alone, one slot down, x1[0] its left end).
constexpr int XO_EVALUATE = 1;                // majorant at abscissa a in bin *bin (full frame)
constexpr int XO_BUILD_TAILS = 2;             // both tails for the trial area a (inner frame)
constexpr int XO_REINSERT_AFTER_SEARCH = 3;   // inner -> full: values one slot up, save[0] into values[0]
constexpr int XO_REMOVE_FIRST = 4;            // full -> inner: save[0] <- values[0], values one slot down
constexpr int XO_REINSERT_AFTER_HEIGHTS = 5;  // the same as XO_REINSERT_AFTER_SEARCH
constexpr int XO_FINISH_TAILS = 6;            // heights into the full frame, tails rescaled to the area a
constexpr int XO_DROP_TWO = 21;               // full -> inner for the count alone
// Per histogram the modes run in this order, each caller leaving x1 in the
// frame named:
//   find_a       XO_DROP_TWO                      count inner, x1 untouched
//   find_x_all   XO_BUILD_TAILS, per trial area   inner: x1[0] the left tail's end,
//                                                 x1[1..n] the step edges found
//   find_a       XO_REINSERT_AFTER_SEARCH         full (x1[0] = 0 from a fresh save slot)
//   corrections  XO_REMOVE_FIRST                  inner, for the heights and checks
//   corrections  XO_REINSERT_AFTER_HEIGHTS        full
//   corrections  XO_FINISH_TAILS                  full, f1 in the full frame, tails final
//   write_curve  XO_EVALUATE, per curve point     full (last histogram only)
// In detail:
//  1 evaluate the majorant at abscissa a in bin *bin (tails at 0 and *n - 1,
//    else values[*bin]);
//  2 build both tails for the trial area a (inner frame, *n = Nd_poi - 2):
//    values[0] <- end of the left tail, right tail at *n + 1, X0, Xlimit;
//  3, 5 move values[0..*n] one slot up, put save[0] in values[0], *n += 2;
//  4 save[0] <- values[0], *n -= 2, move values[1..*n+1] one slot down;
//  6 shift the heights (values = f1) into the full frame and rescale both
//    tails to the area a (save = x1, read for the debug lines only);
//  21 *n -= 2.
// Other modes do nothing.  Returns the majorant in mode 1, else 0.
double xo_xnd_change(int mode, double a, int *bin, double values[], double save[], int *n);

// Next bin edge right of x_prev for the area a, or Xlimit + 1 when there is
// none up to Xlimit.
double find_x(double x_prev, double a);
// Tails and all n step-bin edges edges[0..n] for the trial area a.
void find_x_all(double a, double edges[], int n);
// Common area of a histogram of nd pieces, searched from a0 by brackets of
// 1.2 and bisection until the last edge meets Xlimit; leaves the edges in
// edges (full frame).  Stops through nrerror if the bracketing does not close.
double find_a(double a0, double edges[], int nd);
// For a histogram of nd pieces with the edges of find_a: pins the last edge
// to the start of the right tail, raises *a by the correction ratio
// (returned, at least 1.001), computes the heights, checks every step against
// the weight (fatal if one is below) and finishes the tails.
double corrections(double edges[], double heights[], double *a, int nd);

// Proves the finished histogram j (area a) a majorant of the weight, as its
// block writes it, at h_lo, h_hi and field values between: both tails over
// their whole half-lines and every step over its whole width.  Where log
// majorant - log weight falls below -1e-9 it stops through nrerror naming
// the histogram, the field value and x.
void prove_majorant(int j, double a, double h_lo, double h_hi);

// What one histogram gives the output.
struct HistogramOutput {
    ConsoleCapture console;  // its console text, when captured
    std::string block;       // its block of the table file
    std::string curve;       // the diagnostic file (last histogram only)
};

// Builds histogram j of 0..N in the calling thread's state (h_max: the last
// field value of the plan), proves it a majorant, prints its console lines
// through console_printf and formats its block into out.block, and for
// j == N the diagnostic file into out.curve.  The previous histogram's last
// step height must be in f1[Nd_poi - 2] (0 before histogram 0): the debug
// lines of H = 1.6 show it.  A fault stops through nrerror (or the interval
// maximum's own stop).
void make_histogram(int j, int N, double h_max, HistogramOutput &out);

// Threads that build the histograms: O1_PHI4_THREADS when set and not
// empty, else the cores available (at least 1).  A value that is not a
// whole number from 1 to THREADS_MAX stops through nrerror.
int histogram_threads();

// Builds histograms 0..N on the given number of threads (2 or more) and
// writes them in order, as one thread would: the console text of each
// histogram to the streams and its block to out.  When histogram j stops the
// program, everything of the histograms before it is written first, then
// its console text and its stop, with the same status.  Returns the
// diagnostic file's text.
std::string make_histograms_in_threads(int N, double h_max, int threads, FILE *out);

// Phase 2: reads the plan, builds every histogram (on histogram_threads()
// threads), writes "O1_Phi4.res" and "O1_g1_f1_Phi4.res", prints the closing
// text; returns 0.
int main_2();
