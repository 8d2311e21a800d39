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
             Case{"--landa 1.1 --size 7" + table, "the checkerboard order needs an even lattice size L, not 7"},
             Case{"--landa 1.1 --threads 0" + table, "--threads"},
             Case{"--landa 1.1 --order spiral" + table, "--order"},
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

TEST(HeatBathProgram, SameChainForAnyNumberOfThreads)
{
    // The series and the final configuration, byte for byte, for 1, 2 and 3
    // threads (3 splits the rows into blocks of unequal sizes).  The
    // Metropolis runs tune their step during the thermalisation.
    const std::string dir = make_scratch_dir("heatbath_threads");
    const std::string common = " --landa 1.1 --table '" O1_HEATBATH_TABLE "' --therm 20 --sweeps 40 --seed 5";
    for (const char *update : {"--update heatbath", "--update metropolis --hits 2"})
        for (const char *sw : {"", " --sw 1 --clusters 1"})
            for (const char *lattice : {" --dim 2 --size 12", " --dim 3 --size 6"}) {
                const std::string args = std::string(update) + sw + lattice + common;
                std::string series, config;
                for (int threads : {1, 2, 3}) {
                    const Outcome r = run(dir, args + " --threads " + std::to_string(threads) + " --series series.dat --save-config config.bin");
                    ASSERT_EQ(r.status, 0) << args << "\n" << r.err;
                    if (threads == 1) {
                        series = read_file(dir + "/series.dat");
                        config = read_file(dir + "/config.bin");
                        continue;
                    }
                    EXPECT_TRUE(read_file(dir + "/series.dat") == series) << args << ": the series differs on " << threads << " threads";
                    EXPECT_TRUE(read_file(dir + "/config.bin") == config) << args << ": the configuration differs on " << threads << " threads";
                }
                // The configuration file: its line, then L^d doubles.
                const bool d2 = std::string(lattice).find("--dim 2") != std::string::npos;
                const std::string head = d2 ? "o1_phi4_heatbath configuration d=2 L=12 sweep=60\n" : "o1_phi4_heatbath configuration d=3 L=6 sweep=60\n";
                EXPECT_EQ(config.substr(0, head.size()), head) << args;
                EXPECT_EQ(config.size(), head.size() + 8 * (d2 ? 144u : 216u)) << args;
            }
}
