// The command line, the series file and the summary of o1_phi4_heatbath.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "heatbath/analysis.h"
#include "heatbath/heatbath.h"
#include "heatbath/reweight.h"

namespace o1hb {

// Beta when none is given: close to the critical coupling at landa = 1.1 in
// three dimensions, the point of docs/heatbath.md.
constexpr double DEFAULT_BETA = 0.3750966;
// Most threads --threads takes.
constexpr int MAX_THREADS = 1024;

// The series file: text (one line per sweep) or binary (little-endian doubles
// after a short header; see series.cpp).
enum class SeriesFormat { Text, Binary };
// The reader keeps no line longer than this (bytes) ...
constexpr std::size_t MAX_SERIES_LINE = 1 << 16;
// ... and at most this many samples (40 bytes each, and a column of 8 bytes
// a sample while the analysis runs): a longer run is refused before its
// first sweep.
constexpr long MAX_SERIES_SAMPLES = 1L << 24;

// Without --checkpoint-every the checkpoint is written after the first sweep
// that ends this many seconds after the last one.
constexpr double CHECKPOINT_SECONDS = 600;

struct Options {
    std::string table = "O1_Phi4.res";
    RunParameters run;
    bool landa_given = false;
    std::string series = "o1_phi4_heatbath.dat";
    std::string save_config;  // non-empty: write the final configuration there
    SeriesFormat series_format = SeriesFormat::Text;
    bool replace = false;     // an existing series or checkpoint file may be replaced
    std::string checkpoint;   // non-empty: write checkpoints there
    long checkpoint_every = 0;  // every this many sweeps; 0: every CHECKPOINT_SECONDS
    std::string resume;       // non-empty: go on from this checkpoint
    Start start = Start::Hot;
    std::string start_file;   // non-empty: start from this checkpoint's configuration
    bool progress = false;    // progress lines on stderr even when it is not a terminal
    int grid[MAX_DIM] = {};   // --grid: processes along each direction (all 0: not given)
    bool threads_given = false;  // --threads given (else as many as the cores allow)
    std::string analyse;   // non-empty: analyse this series file instead of running
    bool reweight_given = false;  // --reweight: reweight the analysed series
    ReweightRange reweight;
    bool help = false;
};

// The options of argv (--name value or --name=value).  Throws
// std::invalid_argument naming the option for an unknown option, a missing or
// malformed value (numbers must be whole tokens, finite), --reweight without
// --analyse, --checkpoint-every without --checkpoint or --resume, --start
// with --resume and, unless --help or --analyse is given, a missing --landa
// or parameters check_parameters refuses.
Options parse_options(int argc, char **argv);

// The --help text.
void print_help(std::FILE *out);

// The header of the series file in o.series_format: the parameters as
// comments, then the names of the columns (sweep m phi2 energy potential F).
std::string series_header(const Options &o);
void write_series_header(std::FILE *out, const Options &o);
// One sweep of the series file, in the format of its header.  Returns the
// bytes written, negative on an error.
long write_series_line(std::FILE *out, SeriesFormat format, long sweep, const Sample &s);
// The series file at path, text or binary by its first bytes, with the
// lattice and beta of its header (lines starting with # are comments).
// Refuses without blocking what is not a regular file.  Throws
// std::runtime_error naming the file and line (or record) when it cannot be
// read, a line does not hold five or six finite numbers (all lines the same
// count), a line is longer than MAX_SERIES_LINE, or it holds more than
// max_samples samples.
Series read_series(const std::string &path, long max_samples = MAX_SERIES_SAMPLES);

// Checks that the series file open as fd (a regular file) is the one of the
// resumed run of o whose checkpoint was written after measured sweep
// samples, when the file was bytes long: the header's first line is this
// run's, the file holds at least bytes bytes, and the sweep before them is
// the number samples, whole (a text line ends there).  Throws
// std::invalid_argument saying what does not fit.
void check_resumed_series(int fd, const Options &o, std::uint64_t bytes, std::uint64_t samples);

// ---------------------------------------------------------------- files of a run

// Whether path is a regular file (following links).
bool is_regular_file(const std::string &path);
// Whether the paths a and b name the same file: the same inode when both
// exist (through links too), else the same name in the same folder.
bool same_file(const std::string &a, const std::string &b);
// Refuses, with std::invalid_argument, what would overwrite a file the run
// needs or keeps: the series, the checkpoint or the saved configuration
// being the table, a file to start from or one another; and an existing
// series or checkpoint file that is not empty, unless o.replace is given
// (or it is the one the run resumes).
void check_run_files(const Options &o);
// The series file of the run opened for writing at its end: a new one with
// its header written (refused without blocking when it is a FIFO with no
// reader), or for a resumed run (resumed: the checkpoint's series_bytes and
// its measured sweeps) the old one checked by check_resumed_series and cut
// back to the length it had at the checkpoint.  Throws
// std::invalid_argument when it cannot be opened or does not fit.
std::FILE *open_series(const Options &o, bool resumed, std::uint64_t series_bytes, std::uint64_t samples);

// Writes a file by write(out) under a fresh temporary name beside path, then
// renames it to path: a reader finds the old file or the whole new one, never
// a part.  Throws std::runtime_error naming the file when it cannot be
// written (the temporary file removed, path untouched).
void write_file_atomically(const std::string &path, const std::function<void(std::FILE *)> &write);
// The configuration file: one text line "o1_phi4_heatbath configuration
// d=D L=L sweep=T", then the L^d field values as little-endian doubles in
// site order.  Written as write_file_atomically does; throws as it does.
void save_configuration(const std::string &path, int d, int L, std::uint64_t sweep, const std::vector<double> &phi);

// The table of estimates with errors and tau_int, and the run length in units of tau_int.
void print_analysis(std::FILE *out, const Analysis &an);
// The reweighted values with their errors, and the derivatives at beta_0.
void print_reweighting(std::FILE *out, const Reweighting &r);
// The counters and timings of a run (acceptance, fallback draws, largest |h|,
// CPU time per site update, effective independent samples per CPU second;
// an is null when the series could not be analysed).
void print_run(std::FILE *out, const Options &o, const RunResult &r, const Analysis *an);

}  // namespace o1hb
