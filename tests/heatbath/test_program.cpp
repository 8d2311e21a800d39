// The program o1_phi4_heatbath as a user runs it: bad input stops it with a
// message and status 2 before any sweep; a run writes its series, and the
// analysis of that file gives the summary the run printed.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>

#include "heatbath_test_support.h"
#include "test_support.h"

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

// Runs the program with args in dir (60 s at most).
Outcome run(const std::string &dir, const std::string &args)
{
    const std::string cmd = "cd '" + dir + "' && timeout 60 '" O1_HEATBATH_EXE "' " + args + " > out.txt 2> err.txt";
    const int raw = std::system(cmd.c_str());
    return Outcome{raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir + "/out.txt"), read_file(dir + "/err.txt")};
}

void write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(HeatBathProgram, RefusesBadInputBeforeAnySweep)
{
    const std::string dir = make_scratch_dir("heatbath_bad");
    write(dir + "/garbage.res", "not a table\n");
    write(dir + "/damaged.res", damaged_table_text(table_text(), 2));
    const std::string table = " --table '" O1_HEATBATH_TABLE "'";
    struct Case {
        std::string args, message;
    };
    for (const Case &c : {
             Case{"--landa 1.1 --table missing.res", "missing.res: cannot open"},
             Case{"--landa 1.1 --table garbage.res", "garbage.res:1: expected"},
             Case{"--landa 1.0" + table, "is no majorant of the weight for landa = 1"},
             Case{"--landa 1.1 --table damaged.res", "is no majorant"},
             Case{"--landa 1.1 --size 1" + table, "--size"},
             Case{"--landa 1.1 --beta -0.1" + table, "--beta must be >= 0"},
             Case{"--landa 1.1 --dim 4" + table, "--dim"},
             Case{"--landa 1.1 --sweeps 1e3" + table, "--sweeps"},
             Case{"--beta 0.3" + table, "--landa is required"},
             Case{"--landa 1.1 --colour red" + table, "unknown option --colour"},
         }) {
        const Outcome r = run(dir, c.args + " --series series.dat");
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_FALSE(std::ifstream(dir + "/series.dat").good()) << c.args << ": a sweep ran";
    }
}

TEST(HeatBathProgram, AnalysisOfTheSeriesFileRepeatsTheRunsSummary)
{
    const std::string dir = make_scratch_dir("heatbath_run");
    const Outcome r = run(dir, "--landa 1.1 --table '" O1_HEATBATH_TABLE "' --dim 2 --size 4 --therm 100 --sweeps 2000 --clusters 1");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> series = split_lines(read_file(dir + "/o1_phi4_heatbath.dat"));
    ASSERT_EQ(series.size(), 3u + 2000u);  // three comment lines
    EXPECT_EQ(series.back().substr(0, 5), "2000 ");

    const Outcome a = run(dir, "--analyse o1_phi4_heatbath.dat");
    ASSERT_EQ(a.status, 0) << a.err;
    // The table of estimates: from the "observable" header to the "samples" line.
    auto table = [](const std::string &out) {
        const std::size_t from = out.find("observable"), to = out.find("\n", out.find("samples "));
        return from == std::string::npos || to == std::string::npos ? std::string() : out.substr(from, to - from);
    };
    EXPECT_NE(table(r.out), "");
    EXPECT_EQ(table(a.out), table(r.out));
}
