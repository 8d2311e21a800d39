// The table file O1_Phi4.res as the sampler library holds it: the errors of
// reading it, the table model (header constants, field-index map, index
// table, one block per histogram), loading it and checking it for a Landa.
//
// A histogram of Nd_poi pieces of one common area a: piece 0 is the left tail
// exp(C1L*x + C2L) for x < p[0], pieces k = 1..Nd_poi-2 are the steps
// [p[k], p[k+1]] of height a/(p[k+1] - p[k]), piece Nd_poi-1 is the right
// tail exp(C1R*x + C2R) for x > p[Nd_poi-1] (= X0).
//
// Needs only the standard library (and POSIX to open a file).  Installed
// beside sampler.h, which includes it.
#pragma once

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "table_format.h"

namespace o1phi4 {

// A table file that cannot be read or does not have the expected layout.
// line() is the 1-based line of the file (0 when no line applies).
class TableError : public std::runtime_error {
public:
    TableError(const std::string &file, long line, const std::string &message);
    long line() const { return line_; }

private:
    long line_;
};

// s with every byte outside printable ASCII written as \xNN, for messages
// that quote a file's text or name (TableError applies it to both).
std::string printable(const std::string &s);

// One interval of the field-index map, as a line of the C snippet says:
// "if(h<upper ) j=offset+(int)(h/step);" (members upper, offset, step).
using FieldInterval = o1_table_format::FieldInterval;

// One histogram block, numbers as written in the file.
struct Block {
    int j;                    // histogram number
    double H;                 // its field value
    int nd_poi;               // number of pieces
    double loss;              // loss in per cent, as printed
    double X_max;             // right mode at H: the shift of the weight
    double a;                 // common area of the pieces
    double C1L, C2L;          // left tail exp(C1L*x + C2L)
    double C1R, C2R;          // right tail exp(C1R*x + C2R)
    std::vector<double> p;    // Nd_poi positions: p[0] left anchor, p[Nd_poi-1] = X0
    std::vector<int> flag;    // their flags (1, 0, ..., 0, 2 in a sound table)
    long first_line;          // file line of the block's first line
};

// The whole table file.
struct Table {
    std::string file;         // path (or name) it was read from, for messages
    double H0 = 0, H_max_header = 0, loss_header = 0;  // first line
    int nd_poi = 0;           // #define Nd_poi
    int n_histogram = 0;      // #define N_histogram: index of the last histogram
    int n_h_max = 0;          // #define N_H_max: index-table length + 5
    int param_nd_poi = 0, param_n_hist = 0, param_n_o_m = 0;  // FORTRAN PARAMETER line
    std::vector<FieldInterval> c_map;        // C snippet, in order
    double H_max = 0;                        // bound of the closing C line
    std::vector<FieldInterval> fortran_map;  // FORTRAN snippet, in order
    double fortran_H_max = 0;
    std::vector<long> index_j;  // index table: field indices (strictly increasing)
    std::vector<int> index_m;   // and the histogram serving each
    int n_after_table = 0;      // the line with N after the index table
    std::vector<Block> blocks;  // N + 1 blocks, block m has j = m
    // Field values the index table sends to histogram m through the C lines,
    // as compiled lines compute h/step (o1_table_format::served_ranges): the
    // hull [served_lo[m], served_hi[m]) of the cells of the entries that name
    // m, within [H0, H_max).  Both NaN for a histogram that no entry names
    // (never used).
    std::vector<double> served_lo, served_hi;

    // Upper field value histogram m was built for: H of block m + 1; for the
    // last, the larger of H + o1_table_format::LAST_HISTOGRAM_REACH and H_max.
    double H_upper(int m) const;
    // Whether some index-table entry names histogram m.
    bool used(int m) const { return !std::isnan(served_lo[static_cast<std::size_t>(m)]); }
};

// Reads and checks the layout of a table file.  Throws TableError naming the
// file line and what was expected there.  Checks everything the sampler
// relies on for memory safety (counts, histogram numbers in range, strictly
// increasing field indices, positive finite steps); what a draw relies on
// for its numbers is check_table's business.  Reads only a regular file,
// refusing anything else (a FIFO, a device, a folder) without waiting on it;
// its memory follows the table it returns, not the length of the file.
Table load_table(const std::string &path);
// The same from text already in memory (name is used in messages).
Table parse_table(const std::string &text, const std::string &name);

// What check_table found: ok, or the first problem.
struct TableCheck {
    bool ok = true;
    std::string problem;  // what is wrong, naming the histogram (empty when ok)
    long line = 0;        // file line of the problem's block or line
    int histograms = 0;   // histograms whose majorant was checked (those the index table uses)
    // The histogram of the problem; when there is none, the one with the
    // smallest ratio majorant/weight found (-1 when none was checked) ...
    int m = -1;
    // ... and that smallest ratio (infinite when none was checked), at field
    // value h and abscissa x.
    double h = 0, x = 0, ratio = INFINITY;
};

// Checks what a draw from t for the coupling landa relies on and only the
// file can give, in this order, and stops at the first problem: every block
// can be a majorant at all (a > 0, a rising left tail and a falling right
// one, no gap between the left tail and the first step, increasing
// positions) and its tails hold the common area a within rounding; every
// histogram the index table uses is a majorant of the weight over the field
// values it serves (to a relative 1e-10: at the step edges, at the weight's
// modes inside a step, along both tails); every block's X_max is the mode of
// the weight at its H for landa (a table made for another Landa fails here
// if not before).  Takes some 6 ms per thousand histograms of a hundred
// points.  Every Sampler makes this check when it is built.
TableCheck check_table(const Table &t, double landa);

// Field index of h as the C snippet computes it (no lower-bound test there).
// Returns false when h is NaN or not below the last bound.
bool field_index(const Table &t, double h, long &index);

// Majorant of block b at x (tails outside [p[0], p[Nd_poi-1]], otherwise the
// height of the step holding x; at an inner edge the step to its right).
double majorant(const Block &b, double x);

}  // namespace o1phi4
