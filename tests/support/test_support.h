// Helpers shared by the tests: running the built program in a scratch
// folder with piped input, writing and reading files, looking into texts.
#pragma once

#include <string>
#include <vector>

// Result of one run of the built program.
struct RunResult {
    int status;          // exit status (0..255), or -1 if it did not exit normally
    bool timed_out;      // killed by the timeout
    std::string out;     // standard output
    std::string err;     // standard error
    std::string dir;     // the folder it ran in (its files stay there)
};

// A new empty folder under the system's temporary folder, removed when the
// test process has run all its tests (kept when O1_PHI4_KEEP_SCRATCH is set).
std::string make_scratch_dir(const std::string &tag);

// Runs the built program (O1_PHI4_EXE) in dir (a new scratch folder when
// empty) with the given standard input, killing it after timeout_s seconds.
RunResult run_program(const std::string &input, int timeout_s = 120, const std::string &dir = "");

// Writes text to the file name in a scratch folder of this test process
// (made on the first call, removed as make_scratch_dir's are) and returns
// its path.
std::string write_scratch(const std::string &name, const std::string &text);
// Whole content of a file ("" if it cannot be read).
std::string read_file(const std::string &path);
// The lines of a text, without their newlines, and back (each line ending
// in a newline).
std::vector<std::string> split_lines(const std::string &text);
std::string join_lines(const std::vector<std::string> &lines);
// Whether text contains part.
bool has(const std::string &text, const std::string &part);
// Shows a double exactly (%a) for failure messages.
std::string hex(double v);
