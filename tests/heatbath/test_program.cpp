// The program o1_phi4_heatbath as a user runs it: bad input stops it with a
// message and status 2 before any sweep; a run writes its series, and the
// analysis of that file gives the summary the run printed; series files in
// both formats read back exactly, damaged ones are refused; the reweighting
// of one run agrees with runs at its neighbouring beta.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "heatbath/program.h"
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
    std::string nan_series = "# sweep m phi2 energy potential\n";
    for (int i = 1; i <= 30; ++i) nan_series += std::to_string(i) + (i == 7 ? " nan" : " 0.1") + " 0.6 0.7 0.4\n";
    write(dir + "/nan.dat", nan_series);
    write(dir + "/headless.dat", std::string(nan_series).replace(nan_series.find("nan"), 3, "0.1"));
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
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
             Case{"--landa 1.1 --sweeps 100000000000" + table, "--sweeps needs a whole number from 20 to 16777216"},
             Case{"--analyse nan.dat", "nan.dat:8: column 2 is not a finite number"},
             Case{"--analyse /dev/zero", "/dev/zero: not a regular file"},
             Case{"--analyse fifo", "fifo: not a regular file"},
             Case{"--analyse headless.dat --reweight 0.3:0.4:10", "header does not give"},
             Case{"--analyse headless.dat --reweight 0.4:0.3:10", "0 <= B_MIN <= B_MAX"},
             Case{"--landa 1.1 --reweight 0.3:0.4:10" + table, "--reweight needs --analyse"},
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

    // A series that cannot be read back: the run goes through and says it made no analysis.
    const Outcome n = run(dir, "--landa 1.1 --table '" O1_HEATBATH_TABLE "' --dim 2 --size 4 --therm 10 --sweeps 100 --series /dev/null");
    EXPECT_EQ(n.status, 0) << n.err;
    EXPECT_TRUE(has(n.out, "no analysis: the series went to /dev/null")) << n.out;
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
                    const Outcome r = run(dir, args + " --threads " + std::to_string(threads) + " --series series.dat --save-config config.bin --replace");
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

TEST(HeatBathSeries, BothFormatsReadBackExactly)
{
    const std::string dir = make_scratch_dir("heatbath_series");
    o1hb::Options o;
    o.run.d = 3;
    o.run.L = 12;
    o.run.beta = 0.1 + 0.2;  // not a short decimal
    const std::vector<o1hb::Sample> samples = {
        {0.1, 1 / 3.0, -0.0, 1e308, 5e-324}, {-1.5, 2, 3, 4, 0.7}, {0, 0, 0, 0, 0}};
    for (const o1hb::SeriesFormat f : {o1hb::SeriesFormat::Text, o1hb::SeriesFormat::Binary}) {
        o.series_format = f;
        const std::string path = dir + (f == o1hb::SeriesFormat::Text ? "/text.dat" : "/binary.dat");
        std::FILE *out = std::fopen(path.c_str(), "wb");
        o1hb::write_series_header(out, o);
        for (std::size_t i = 0; i < samples.size(); ++i) o1hb::write_series_line(out, f, static_cast<long>(i + 1), samples[i]);
        std::fclose(out);
        const o1hb::Series s = o1hb::read_series(path);
        EXPECT_EQ(s.d, 3);
        EXPECT_EQ(s.L, 12);
        EXPECT_EQ(s.beta, o.run.beta);
        EXPECT_TRUE(s.has_F);
        ASSERT_EQ(s.samples.size(), samples.size()) << path;
        EXPECT_EQ(std::memcmp(s.samples.data(), samples.data(), samples.size() * sizeof(o1hb::Sample)), 0) << path;
    }
    // A series written before the Fourier mode was measured, with CR LF line ends.
    write(dir + "/five.dat", "# sweep m phi2 energy potential\r\n1 0.25 0.5 0.75 1\r\n");
    const o1hb::Series five = o1hb::read_series(dir + "/five.dat");
    EXPECT_FALSE(five.has_F);
    ASSERT_EQ(five.samples.size(), 1u);
    EXPECT_EQ(five.samples[0].potential, 1);
    EXPECT_EQ(five.d, 0);
}

TEST(HeatBathSeries, DamagedOrEndlessFilesAreRefusedNamingTheLine)
{
    const std::string dir = make_scratch_dir("heatbath_damaged");
    o1hb::Options o;
    o.series_format = o1hb::SeriesFormat::Binary;
    std::FILE *out = std::fopen((dir + "/binary.dat").c_str(), "wb");
    o1hb::write_series_header(out, o);
    for (long i = 1; i <= 2; ++i) o1hb::write_series_line(out, o.series_format, i, o1hb::Sample{0.1, 0.2, 0.3, 0.4, 0.5});
    std::fclose(out);
    const std::string binary = read_file(dir + "/binary.dat");
    std::string version2 = binary;
    version2[8] = 2;
    const std::string row = "1 0.1 0.2 0.3 0.4\n";
    struct Case {
        std::string name, text, message;
        long max_samples;
    };
    for (const Case &c : {
             Case{"nan.dat", row + "2 0.1 0.2 nan 0.4\n", "nan.dat:2: column 4 is not a finite number", 10},
             Case{"inf.dat", "# sweep m phi2 energy potential F\n1 -inf 0 0 0 0\n", "inf.dat:2: column 2 is not a finite", 10},
             Case{"seven.dat", "1 2 3 4 5 6 7\n", "seven.dat:1: expected five or six numbers", 10},
             Case{"word.dat", "1 0.1 x 0.3 0.4\n", "word.dat:1: expected five or six numbers", 10},
             Case{"mixed.dat", row + "2 0.1 0.2 0.3 0.4 0.5\n", "mixed.dat:2: 6 numbers where the series has 5", 10},
             Case{"long.dat", std::string(70000, '1'), "long.dat:1: a line longer than 65536 bytes", 10},
             Case{"nul.dat", std::string(100, '\0'), "nul.dat:1: a NUL byte", 10},
             Case{"many.dat", row + row + row + row, "many.dat:4: more than 3 samples", 3},
             Case{"cut.dat", binary.substr(0, binary.size() - 5), "cut.dat: ends in the middle of record 2", 10},
             Case{"version.dat", version2, "version.dat: a binary series of version 2", 10},
             Case{"fifo", "", "fifo: not a regular file", 10},
             Case{"/dev/zero", "", "/dev/zero: not a regular file", 10},
             Case{".", "", ".: not a regular file", 10},
         }) {
        std::string path = c.name[0] == '/' ? c.name : dir + "/" + c.name;
        if (c.name == "fifo") ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        else if (c.name == ".") path = dir + "/.";
        else if (c.name[0] != '/') write(path, c.text);
        try {
            o1hb::read_series(path, c.max_samples);
            ADD_FAILURE() << c.name << " was read";
        } catch (const std::runtime_error &e) {
            EXPECT_TRUE(has(e.what(), c.message)) << e.what();
        }
    }
}

// One run at beta_0, reweighted to beta_0 -+ 0.002 (where U4 moves by about
// three of its errors), against runs there.
TEST(HeatBathProgram, ReweightingAgreesWithRunsAtTheNeighbouringBeta)
{
    const std::string dir = make_scratch_dir("heatbath_reweight");
    constexpr double beta0 = 0.3750966, step = 0.002;
    o1hb::Series s[3];
    for (int k = 0; k < 3; ++k) {
        char args[300];
        std::snprintf(args, sizeof args,
                      "--landa 1.1 --table '" O1_HEATBATH_TABLE "' --size 6 --therm 500 --sweeps 10000 --clusters 3 "
                      "--beta %.17g --seed %d --series s%d.dat",
                      beta0 + (k - 1) * step, 11 + k, k);
        const Outcome r = run(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        s[k] = o1hb::read_series(dir + "/s" + std::to_string(k) + ".dat");
    }
    const o1hb::Analysis an = o1hb::analyse(s[1]);
    const o1hb::Blocks blocks = o1hb::jackknife_blocks(an.n, an.tau_max);
    for (int k : {0, 2}) {
        const o1hb::ReweightPoint p = o1hb::reweight_at(s[1], s[k].beta, blocks);
        const o1hb::Analysis direct = o1hb::analyse(s[k]);
        const struct {
            o1hb::Jackknifed rw;
            const char *name;
        } rows[] = {{p.U4, "U4"}, {p.m2, "m^2"}, {p.chi, "chi"}, {p.xi, "xi/L"}};
        for (const auto &x : rows) {
            const o1hb::Estimate *d = o1hb::find_row(direct, x.name);
            if (!std::isfinite(x.rw.value) || !d->undefined.empty()) continue;  // no Fourier mode measured
            EXPECT_LT(std::fabs(x.rw.value - d->mean), 4 * std::hypot(x.rw.error, d->error))
                << x.name << " at beta " << s[k].beta << ": " << x.rw.value << " +- " << x.rw.error << " against "
                << d->mean << " +- " << d->error;
        }
    }
    const Outcome a = run(dir, "--analyse s1.dat --reweight 0.3730966:0.3770966:2");
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_TRUE(has(a.out, "dU4/dbeta at beta_0:")) << a.out;
}
