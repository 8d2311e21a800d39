// The table file a benchmark reads: named, or made in a scratch folder.
#include "bench_table.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

std::string g_scratch;  // the folder of a table made here

}  // namespace

std::string bench_table(int &argc, char **argv, const std::string &answers)
{
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], "--table=", 8) == 0) {
            const std::string table = argv[i] + 8;
            for (int j = i; j < argc - 1; j++) argv[j] = argv[j + 1];
            argc--;
            return table;
        }
    }
    char templ[] = "/tmp/o1_phi4_bench_XXXXXX";
    char *dir = mkdtemp(templ);
    if (!dir) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    g_scratch = dir;
    std::string printable;  // the answers as printf's format: newlines as \n
    for (char c : answers) printable += c == '\n' ? std::string("\\n") : std::string(1, c);
    const std::string cmd = "cd '" + g_scratch + "' && printf '" + printable + "' | '" + O1_PHI4_EXE + "' > run.log 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "the program failed to make the table in %s\n", dir);
        std::exit(1);
    }
    return g_scratch + "/O1_Phi4.res";
}

void forget_bench_table()
{
    if (g_scratch.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
    g_scratch.clear();
}
