// The table file a benchmark reads.
#pragma once

#include <string>

// The table named by --table=PATH on the command line (the argument is taken
// out of argv), or one made by the built program (O1_PHI4_EXE) in a scratch
// folder from the dialogue answers (e.g. "1\n0\n200\n10\n1\n"), removed again
// by forget_bench_table.  Exits with a message when the program fails.
std::string bench_table(int &argc, char **argv, const std::string &answers);
// Removes the scratch folder of a table bench_table made (nothing for a
// table named on the command line).
void forget_bench_table();
