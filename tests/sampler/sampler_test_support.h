// Helpers of the sampler tests: the tables the fixture made, text edits of a
// table by line, and running the validator.
#pragma once

#include <string>
#include <vector>

// Path of the table file the fixture made for name (h5, h200, small).
std::string table_path(const std::string &name);
// Whole file; an empty string when it cannot be read.
std::string slurp(const std::string &path);
// Lines without their newlines, and back.
std::vector<std::string> lines_of(const std::string &text);
std::string join_lines(const std::vector<std::string> &lines);
// Writes text to a new file in a scratch folder and returns its path.
std::string write_scratch(const std::string &name, const std::string &text);
// Seconds the validator may run in a test: every run of the tests ends in a
// few seconds, also under the sanitizers; a hang shows as status 124.
constexpr int CHECK_TIMEOUT_S = 120;
// Runs the validator with arguments; returns its exit status, output in out.
int run_check(const std::string &args, std::string &out);
