// Numerical toolkit: the floating-point set-up hook, the fatal-error exit and the console output it shares
// with the table generation, Romberg quadrature with its trapezoid stages and
// Neville extrapolation, 1-based work vectors, and Ridders' root finder.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// Relative tolerance of the extrapolated Romberg integral.
constexpr double QROMB_EPS = 1.0e-6;
// Nominal stage limit of the Romberg tableau (size of its tables).
constexpr int QROMB_JMAX = 100;
// Stages actually attempted: stage n costs 2^(n-2) evaluations, so stage 30
// already needs 2^28 of them and anything beyond cannot finish in practice.
constexpr int QROMB_STAGES_ATTEMPTED = 30;
// Number of trapezoid estimates used by each extrapolation.
constexpr int QROMB_K = 5;
// Iteration limit of Ridders' method.
constexpr int ZRIDDR_MAXIT = 600;
// Marker for "no estimate yet" in Ridders' method.
constexpr double ZRIDDR_UNUSED = -1.11e30;

// Empty hook for the floating-point set-up, called first by main and by
// main_2.
void precision();

// Writes error_text and a newline to standard error, then
// "...now exiting to system...", and ends the program with status 1 (through
// console_error and stop_program, so a capturing thread records it instead).
[[noreturn]] void nrerror(const char *error_text);

// The console text of one histogram built by a thread that does not write
// the output: what it would have printed, and how it would have ended.
struct ConsoleCapture {
    std::string out;       // text for standard output
    std::string err;       // text for standard error (only before a stop)
    bool stopped = false;  // the histogram ended the program
    int status = 0;        // with this exit status
};
// Thrown by stop_program in a capturing thread; the thread's own code
// catches it where the histogram started.
struct StopRequested {};
// Where the calling thread's console text goes: nullptr (the default) writes
// it to the streams at once.
extern thread_local ConsoleCapture *Console_capture;

// Formatted output for standard output, or appended to the capture.
[[gnu::format(printf, 1, 2)]] void console_printf(const char *format, ...);
// Formatted output for standard error, or appended to the capture; written
// directly, standard output is flushed first so that a log of both streams
// keeps its order.
[[gnu::format(printf, 1, 2)]] void console_error(const char *format, ...);
// Ends the program with status, or, in a capturing thread, records the
// status in the capture and throws StopRequested.
[[noreturn]] void stop_program(int status);
// Writes a capture to the streams as the thread would have written it
// directly (standard output, then standard error after a flush); the stop,
// if any, is left to the caller.
void replay_console(const ConsoleCapture &capture);
// Appends the formatted text to a string.
[[gnu::format(printf, 2, 3)]] void append_format(std::string &to, const char *format, ...);
[[gnu::format(printf, 2, 0)]] void append_vformat(std::string &to, const char *format, va_list args);

// Stops through nrerror with "!!! <what> the file <file>".
[[noreturn]] void file_error(const char *what, const char *file);
// Opens file for reading (mode "r") or creates it anew for writing (any
// other mode).  Reading never waits on the open (a FIFO does not block it)
// and takes only a regular file; writing removes a regular file of that
// name first and never follows a link or opens anything else in its place.
// Stops through nrerror ("cannot open" for reading, "cannot create"
// otherwise) when the file cannot be opened.
FILE *open_file(const char *file, const char *mode);
// fclose of a file written with formatted output; stops through nrerror
// ("cannot write") when any write or the close failed.
void close_file(FILE *f, const char *file);
// Opens "<file>.part" for writing in place of file, which stays untouched
// until commit_outputs().  Any end of the program before that (nrerror, an
// exit, SIGINT, SIGTERM, SIGHUP) removes the temporary files.  Something
// other than a regular file in the way of file stops through nrerror.
FILE *open_output(const char *file);
// Renames every file opened by open_output over its final name, the first
// one opened last; SIGINT, SIGTERM and SIGHUP wait until it is done.  When a
// rename fails, the files already replaced get their previous content back
// and it stops through nrerror ("cannot replace"): either every output is
// new or every one is as it was.
void commit_outputs();
// The rename commit_outputs uses (std::rename; tests put in one that fails).
extern int (*Rename_file)(const char *from, const char *to);

// Integral of func over [a, b] by Romberg's method: trapezoid stages 1, 2, ...
// extrapolated to zero spacing through the latest five stages, until the
// error estimate is below 1e-6 of the value.  Stops through nrerror when the
// test is not met within QROMB_STAGES_ATTEMPTED stages, and when every sample
// of the integrand is exactly zero (an underflowed weight has no meaningful
// integral; reporting it beats returning a zero that a caller divides by).
double qromb(double (*func)(double), double a, double b);

// Stage n (n >= 1) of the refined trapezoid rule on [a, b]; stage n adds the
// 2^(n-2) midpoints of stage n-1.  Keeps its running sum in one static value,
// so stages must be called in order 1, 2, 3, ... for one integrand.
double trapzd(double (*func)(double), double a, double b, int n);

// Neville's scheme: the polynomial through (xa[i], ya[i]), i = 1..n (1-based
// arrays), evaluated at x.  The value goes to *y, the last correction added
// (the error estimate) to *dy.  Equal abscissae stop through nrerror.
void polint(const double xa[], const double ya[], int n, double x, double *y, double *dy);

// Storage for the indices nl..nh of a 1-based double vector.  A failed
// allocation stops through nrerror.
double *vector(long nl, long nh);
// Releases what vector(nl, nh) returned.
void free_vector(double *v, long nl, long nh);

// Root in x of func(A, x, B) inside the bracket [x1, x2] (either order), to
// the absolute accuracy xacc, by Ridders' method.  An end value of exactly 0
// returns that end.  Stops through nrerror when the ends do not bracket a
// root or when 600 iterations do not meet the accuracy.
double zriddr(double (*func)(double, double, double), double A, double x1, double x2,
              double xacc, double B);
