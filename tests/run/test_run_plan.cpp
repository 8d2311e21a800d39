// Phase 1 procedures called directly: the grid search, the point-count rule
// and the planning files (written into a scratch folder).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "density/density.h"
#include "run/run.h"
#include "test_support.h"

namespace {

// --- Grid search: where it stops and how it bisects ---

TEST(GridSearch, EndsAtTheFirstValueNotBelowHMax)
{
    struct Case {
        double landa, h0, h_max, p;
        int count;
        double last;  // H_result[count] before quantisation
    };
    const Case cases[] = {{1, 0, 5, 10, 48, 5.168701}, {1, 0, 200, 10, 386, 200.375676},
                          {1, 0, 100, 1, 1267, 100.090765}, {1, 3, 3, 10, 0, 3}, {1, 4, 3, 10, 0, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE("H0=" + std::to_string(c.h0) + " H_max=" + std::to_string(c.h_max) + " p=" + std::to_string(c.p));
        Landa = c.landa;
        H0 = c.h0;
        H_max = c.h_max;
        factor = 1 + c.p / 200;
        find_H_all();
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(H_result[0], c.h0) << hex(H_result[0]);
        EXPECT_NEAR(H_result[count], c.last, 5e-7);
    }
}

TEST(GridSearch, FirstValuesBisectFromTheBaseValue)
{
    Landa = 1;
    H0 = 0;
    H_max = 0.2;
    factor = 1.05;
    find_H_all();
    const double want[] = {0, 0.05, 0.1075, 0.173625, 0.2306578125};
    ASSERT_EQ(count, 4);
    for (int i = 0; i <= 4; i++) EXPECT_NEAR(H_result[i], want[i], 1e-12) << "i=" << i << " " << hex(H_result[i]);
}

// --- Point-count rule: branch boundary and the cap ---

TEST(PointsPerHistogram, FollowsTheRuleAndCapsAt600)
{
    struct Case {
        double factor;
        int nd;
        bool capped;
    };
    const Case cases[] = {{1.005, 600, true}, {1.01, 600, true}, {1.015, 384, false}, {1.05, 104, false},
                          {1.07, 73, false},  {1.1, 38, false},  {1.5, 7, false},     {1.001, 1, false}};
    for (const Case &c : cases) {
        bool capped = !c.capped;
        EXPECT_EQ(points_per_histogram(c.factor, &capped), c.nd) << "factor=" << c.factor;
        EXPECT_EQ(capped, c.capped) << "factor=" << c.factor;
        EXPECT_EQ(points_per_histogram(c.factor, nullptr), c.nd) << "factor=" << c.factor;
    }
}

// --- Planning files: offsets, index table, quantisation, overflow ---

class PlanningFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        home_ = buf;
        ASSERT_EQ(chdir(make_scratch_dir("plan").c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(home_.c_str()), 0); }

    // The mapping as the dialogue builds it for p %, and a grid of H0 alone
    // (so that every index-table entry names histogram 0).
    static void plan(double h0, double h_max, double p)
    {
        H0 = Hn[0] = H_result[0] = h0;
        H_max = h_max;
        factor = 1 + p / 200;
        D_Hn[0] = 0;
        Hn[1] = 100;
        D_Hn[1] = 0.004 * p;
        for (N_DH = 1; H_max > Hn[N_DH];) {
            N_DH = N_DH + 1;
            Hn[N_DH] = std::pow(10, N_DH - 2) * 1000;
            D_Hn[N_DH] = std::pow(10, N_DH - 2) * p * 0.5;
        }
        count = 0;
    }

    std::string home_;
};

const char END_COPY[] = "$------------------- end copy ------------------------\n";

TEST_F(PlanningFiles, H0AboveTheFirstIntervalGivesNegativeOffsets)
{
    plan(150, 300, 10);
    write_planning_files();
    std::string snippet = read_file("temp1.tmp");
    EXPECT_TRUE(has(snippet, "--> a. In C \n"
                             "if(h<100.000000 ) j=-3750+(int)(h/0.040000);\n"
                             "else if(h<300.000000 ) j=-1270+(int)(h/5.000000);\n"))
        << snippet;
    EXPECT_TRUE(has(snippet, END_COPY + std::string("30\n-1240 0\n")));
}

// Walk positions offset from the index steps step over the part-step below a
// boundary, or stop before the one below H_max: such an index gets the
// histogram of its step's lowest field value, and both count lines grow.
TEST_F(PlanningFiles, EveryStepBelowHMaxHasItsEntry)
{
    struct Case {
        double h0, h_max, p;
        bool grid;           // the grid search's grid (Landa = 1), or H0 alone
        int entries;         // field indices 0..entries - 1, in both count lines
        const char *filled;  // the entry filled in, among its neighbours
    };
    const Case cases[] = {
        {0.01, 150, 3, true, 8368, "\n8332 690\n8333 690\n8334 690\n"},  // below the boundary 100
        {90, 101, 3, true, 836, "\n834 35\n835 37\n"},                     // below H_max
        {0, 200, 2.9851, true, 8443, "\n8441 1122\n8442 1127\n"},          // below H_max, above 100
        {0, 1500, 3, false, 8969, "\n8933 0\n8934 0\n8935 0\n"},          // below the boundary 1000
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("H0=" + std::to_string(c.h0) + " H_max=" + std::to_string(c.h_max) + " p=" + std::to_string(c.p));
        plan(c.h0, c.h_max, c.p);
        if (c.grid) {
            Landa = 1;
            find_H_all();
        }
        write_planning_files();
        const std::string snippet = read_file("temp1.tmp"), plan_file = read_file("temp2.tmp");
        const std::string n = std::to_string(c.entries) + "\n";
        EXPECT_EQ(plan_file.substr(plan_file.rfind('\n', plan_file.size() - 2) + 1), n);
        const size_t table = snippet.find(END_COPY + n);
        ASSERT_NE(table, std::string::npos);
        EXPECT_TRUE(has(snippet, c.filled));
        std::vector<std::string> lines = split_lines(snippet.substr(table + std::strlen(END_COPY) + n.size()));
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.entries));
        for (int e = 0; e < c.entries; e++)
            ASSERT_EQ(lines[e].substr(0, lines[e].find(' ')), std::to_string(e)) << "entry " << e;
    }
}

TEST_F(PlanningFiles, EntryCountIsWrittenToBothFiles)
{
    plan(0, 10000, 1);  // 25000 + 1800 + 1800 entries
    write_planning_files();
    EXPECT_EQ(read_file("temp2.tmp"), "0.000000 10000.000000\n1 1.005000\n0 0.000000\n28600\n");
    std::string snippet = read_file("temp1.tmp");
    ASSERT_TRUE(has(snippet, END_COPY + std::string("28600\n0 0\n")));
    // The end-copy line, the count line and one line per entry.
    EXPECT_EQ(std::count(snippet.begin() + snippet.find(END_COPY), snippet.end(), '\n'), 28602);
}

TEST_F(PlanningFiles, QuantisationKeepsTheStepOnlyWithinItsTolerance)
{
    plan(0, 203, 10);
    count = 3;
    H_result[1] = 0.3999999999;  // keeps the step 0.4
    H_result[2] = 0.3999;        // moves down to 0.36
    H_result[3] = 204;           // onto the step 5: 200, below H_max
    write_planning_files();
    EXPECT_NE(read_file("temp2.tmp").find("\n1 0.400000\n2 0.360000\n3 200.000000\n"), std::string::npos);
    // The walk position 200 finds no larger grid value: the last histogram.
    std::string snippet = read_file("temp1.tmp");
    EXPECT_EQ(snippet.substr(snippet.rfind('\n', snippet.size() - 2)), "\n2520 3\n");
}

// FNV-1a 64: a short fingerprint of a text's bytes.
std::uint64_t fingerprint(const std::string &text)
{
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The text without the FORTRAN lines of the snippet.
std::string without_fortran_lines(std::string s)
{
    const size_t from = s.find("--> b. In FORTRAN \n"), to = s.find("$---", from);
    return from == std::string::npos || to == std::string::npos ? s : s.erase(from, to - from);
}

// Where the walk meets every index step, no index is filled in: both files
// are byte for byte the ones recorded for these sets, but for the FORTRAN
// lines.
TEST_F(PlanningFiles, SetsWithoutHolesKeepTheirFilesButTheFortranLines)
{
    struct Case {
        double h0, h_max, p;
        bool grid;  // the grid search's grid (Landa = 1), or H0 alone
        std::uint64_t print;
    };
    const Case cases[] = {
        {0, 5, 10, true, 0xee793fe88519f2fcull},      {0, 200, 10, true, 0x625f236ab168d1d2ull},
        {150, 300, 10, true, 0x7fb2a1467e163b80ull},  {0, 300, 3, true, 0x43c5f3f0015cb498ull},
        {0, 5, 1.23456, true, 0xfc768a0f90864cfcull}, {0, 10000, 1, false, 0xc349a4851b89f099ull},
        {0, 2000, 10, false, 0xee103d7201e0fb2cull},
    };
    for (const Case &c : cases) {
        plan(c.h0, c.h_max, c.p);
        if (c.grid) {
            Landa = 1;
            find_H_all();
        }
        write_planning_files();
        const std::string files = read_file("temp2.tmp") + read_file("temp1.tmp");
        const std::uint64_t print = fingerprint(without_fortran_lines(files));
        EXPECT_EQ(print, c.print) << "H0=" << c.h0 << " H_max=" << c.h_max << " p=" << c.p << ": " << std::hex << print;
    }
}

using PlanningFilesDeathTest = PlanningFiles;

// Entries filled in count too: with p = 1.2 every boundary from 1000 on and
// H_max leave a part-step to fill in; the walk alone makes 29993 and 29994
// entries for these two H_max.
TEST_F(PlanningFilesDeathTest, MoreThan30000EntriesStops)
{
    plan(0, 1.952e8, 1.2);
    write_planning_files();
    const std::string plan_file = read_file("temp2.tmp");
    EXPECT_EQ(plan_file.substr(plan_file.rfind('\n', plan_file.size() - 2) + 1), "30000\n");
    for (const std::pair<double, double> &c : {std::pair<double, double>{100000, 1}, {1.958e8, 1.2}}) {
        plan(0, c.first, c.second);
        EXPECT_EXIT(write_planning_files(), ::testing::ExitedWithCode(1),
                    "!!! You must reduce increase D_Hn, the total number of pt must be <100001\n"
                    "...now exiting to system...")
            << "H_max=" << c.first;
    }
}

}  // namespace
