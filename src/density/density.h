// Target density: the weight exp(h x - x^2 - Landa (x^2 - 1)^2) at the field
// value of the histogram being built and at the next one, the slope of its
// exponent, its two modes, its maximum over an interval and the bin equation.
#pragma once

// Quartic coupling of the weight (from the dialogue; read only while the
// histograms are built).
extern double Landa;
// The field values and modes below belong to the histogram being built, so
// each thread that builds histograms has its own.
// Field value whose weight g1 evaluates.
extern thread_local double H;
// Field value of the next histogram, whose weight g2 evaluates.
extern thread_local double Hsup;
// Right mode at H (the shift of both weights), left mode at H (or
// NO_LEFT_MODE), right mode at Hsup.
extern thread_local double X_max, X_min, X_max_sup;

// Returned by the left-mode search when the weight has no left mode; far left
// of every tabulated position.
constexpr double NO_LEFT_MODE = -10000.0;
// Scan step of both mode searches.
constexpr double MODE_SCAN_STEP = 0.01;
// Slope tolerance of both mode searches.
constexpr double MODE_SLOPE_TOL = 1e-8;
// Bisection steps of a mode search: the scan leaves a bracket of width 0.01,
// which 200 halvings shrink far below the spacing of doubles, so the bound
// only matters where the slope tolerance is finer than that spacing (huge
// field values); the midpoint then is the mode to machine precision.
constexpr int MODE_BISECTION_MAX = 200;
// Scan steps of a mode search before it gives up (field values far beyond
// anything the dialogue admits).
constexpr long MODE_SCAN_MAX = 100000000L;
// Safety factor on the interval maximum where it is taken at an inner mode.
constexpr double MODE_SAFETY = 1.001;

// The weight at H, shifted by X_max: exp(H (x - X_max) - x^2 - Landa (x^2 - 1)^2).
double g1(double x);
// The same at Hsup, with the same shift X_max.
double g2(double x);
// Slope of the exponent: h - 2 x (1 - 2 Landa) - 4 Landa x^3.
double g1p(double h, double x);
// Scan and bisection steps of the last mode search in this thread (its cost,
// for checks; nothing reads it to compute).
extern thread_local long Mode_search_steps;
// Right mode of the weight at field value h (needs Landa >= 0.5 and h >= 0).
// Stops through nrerror if the scan finds no sign change of the slope.  The
// first point whose slope is below MODE_SLOPE_TOL, not the exact zero that
// o1phi4::stationary_points gives: the table prints this X_max and shifts
// the weight by it.
double g1_Deltax_xmaximum_3(double h);
// Left mode of the weight at field value h, or NO_LEFT_MODE when the slope
// is positive on the whole half-line left of -x_s.
double g1_Deltax_xmaximum_4(double h);

// Upper value of the larger of g1 and g2 on [x1, x2] (x1 < x2), by cases
// against X_min, X_max and X_max_sup.  An interval touching X_max_sup exactly
// prints "problem in g1_Deltax_max => exit" and ends the program with -1.
double g1_Deltax_max(double x1, double x2);
// Bin equation: g1_Deltax_max(x1, x2) (x2 - x1) - a.
double g1_Deltax(double x1, double x2, double a);
// First scan point x1 + k step (k >= 1) where fn(x1, x, a) > 0 (returned),
// or is exactly 0 (1.01 x returned); xlimit + 1 once the scan passes xlimit
// (the right end of the step region).
double root1(double (*fn)(double, double, double), double x1, double step, double a, double xlimit);
