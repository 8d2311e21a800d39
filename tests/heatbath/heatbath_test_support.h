// Helpers of the simulation tests: the table the fixture made, damaged on
// demand so that it is no majorant where a simulation's field values lie.
#pragma once

#include <sys/types.h>

#include <string>

// The damage: in every histogram that serves field values below the limit,
// the inner step edges within DAMAGE_HALF_WIDTH of X_max ...
constexpr double DAMAGE_HALF_WIDTH = 0.6;
// ... move towards it by this factor.  The steps inside grow taller (still
// above the weight); the two that take up the room become wider and lower
// and fall below the weight on both flanks of the mode.
constexpr double DAMAGE_SHRINK = 0.8;

// Text of the fixture's table (Landa 1.1, H0 0, H_max 6).
std::string table_text();
// Text of its table with H_max 1: field values beyond it need the fallback.
std::string narrow_table_text();

// text with the damage above in the histograms serving field values below
// h_limit.  The positions stay increasing, so the text still loads.
std::string damaged_table_text(const std::string &text, double h_limit);

// Starts command (words split at blanks, the first the program, found on
// the PATH) in dir, its output in out.txt and err.txt; returns its process id.
pid_t start_program(const std::string &dir, const std::string &command);
// The exit status of pid (128 + n when a signal n ended it), killing it
// after 60 s (-1).
int finish(pid_t pid);
