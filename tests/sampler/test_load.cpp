// Loading the table file: malformed and truncated files stop with a message
// naming the line; field values the table does not serve are refused; no
// mutation of a valid file makes the loader or the sampler misbehave.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>

#include "sampler/o1_sampler_c.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

using o1phi4::FieldError;
using o1phi4::Sampler;
using o1phi4::TableError;

namespace {

// The small table: 4 histograms of 14 pieces, 5 index entries (lines
// 25..30), blocks from line 32.
std::vector<std::string> small_lines() { return split_lines(read_file(table_path("small"))); }

void replace(std::vector<std::string> &l, int line, const std::string &from, const std::string &to)
{
    std::string &s = l[static_cast<std::size_t>(line - 1)];
    const std::size_t at = s.find(from);
    ASSERT_NE(at, std::string::npos) << "line " << line << ": " << s;
    s.replace(at, from.size(), to);
}

struct BadFile {
    const char *name;
    std::function<void(std::vector<std::string> &)> edit;
    long line;           // line the message must name
    const char *message; // text the message must contain
};

}  // namespace

TEST(TableLoad, MalformedFileNamesTheLineAndWhatWasExpected)
{
    const BadFile cases[] = {
        {"empty file", [](auto &l) { l.clear(); }, 1, "file ends early"},
        {"truncated in the blocks", [](auto &l) { l.resize(60); }, 32, "4 blocks of 17 lines need 68 lines, only 29 remain"},
        {"truncated in the index table", [](auto &l) { l.resize(27); }, 25, "announces 5 entries, but only 2 lines follow"},
        {"truncated in a header line", [](auto &l) { l.resize(5); l[4].resize(20); }, 5, "expected \"#define Nd_poi <integer>\""},
        {"bad number in a position", [](auto &l) { replace(l, 36, "9.3164349040052385", "9.31643x9040052385"); }, 36,
         "expected a position line"},
        {"nan as a tail slope", [](auto &l) { replace(l, 33, "3.1240000000000014e+00", "nan"); }, 33, "expected the tail line"},
        {"hexadecimal number", [](auto &l) { replace(l, 33, "3.1240000000000014e+00", "0x1p+1"); }, 33, "expected the tail line"},
        {"N_histogram against PARAMETER", [](auto &l) { replace(l, 6, "3", "4"); }, 10, "PARAMETER line disagrees"},
        {"N_histogram against the blocks",
         [](auto &l) { replace(l, 6, "3", "4"); replace(l, 10, "N_hist=3", "N_hist=4"); }, 31,
         "N after the index table is 3, #define N_histogram is 4"},
        {"N_H_max against the index table",
         [](auto &l) { replace(l, 7, "10", "11"); replace(l, 10, "N_O_m=10", "N_O_m=11"); }, 25, "N_H_max is 11"},
        {"Nd_poi of a block", [](auto &l) { replace(l, 32, " 14 ", " 15 "); }, 32, "block has Nd_poi 15, the header 14"},
        // One step between the tails: no generator writes it.
        {"Nd_poi 3", [](auto &l) { replace(l, 5, "14", "3"); }, 5, "Nd_poi must be at least 4 (two tails and two steps), found 3"},
        {"block out of order", [](auto &l) { replace(l, 49, "1 0.", "2 0."); }, 49, "block number 2 where 1 is due"},
        {"histogram number out of range", [](auto &l) { l[29] = "4 7"; }, 30, "histogram number 7 outside 0..3"},
        {"histogram number N + 1", [](auto &l) { l[29] = "4 4"; }, 30, "histogram number 4 outside 0..3"},
        {"field indices not increasing", [](auto &l) { l[28] = "2 2"; }, 29, "field indices must increase, 2 follows 2"},
        {"zero field step", [](auto &l) { replace(l, 14, "h/0.200000", "h/0.000000"); }, 14, "field step must be positive"},
        {"bad closing line of a block", [](auto &l) { l.back() = "0.0000000000000000e+00 1"; }, 99, "closing line"},
        {"text after the last block", [](auto &l) { l.push_back("junk"); }, 100, "unexpected text"},
        // Counts near 2^31, consistent with each other: refused before any
        // arithmetic on them can overflow.
        {"Nd_poi near 2^31",
         [](auto &l) { replace(l, 5, "14", "2147483647"); l[9] = "PARAMETER(Nd_poi=2147483647,N_hist=3,N_O_m=10)"; }, 5,
         "Nd_poi is 2147483647, more than any table can hold"},
        {"N_histogram near 2^31",
         [](auto &l) {
             replace(l, 6, "3", "2147483647");
             l[9] = "PARAMETER(Nd_poi=14,N_hist=2147483647,N_O_m=10)";
             l[30] = "2147483647";
         },
         6, "N_histogram is 2147483647"},
        {"index table length near 2^31", [](auto &l) { l[24] = "2147483642"; }, 25,
         "the number of index-table entries is 2147483642"},
        // Control characters of the file reach the message only as \xNN.
        {"escape sequence in a line", [](auto &l) { l[31] = "0 \x1b[2J\x07"; }, 32, "found \"0 \\x1b[2J\\x07\""},
    };
    for (const BadFile &c : cases) {
        std::vector<std::string> l = small_lines();
        ASSERT_EQ(l.size(), 99u) << "the small table changed its shape";
        c.edit(l);
        try {
            o1phi4::parse_table(join_lines(l), "t.res");
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const TableError &e) {
            EXPECT_EQ(e.line(), c.line) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
            for (const char ch : std::string(e.what()))
                EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << c.name << ": byte " << static_cast<int>(static_cast<unsigned char>(ch));
        }
    }
}

TEST(TableLoad, MissingFileAndTablesNoMajorantCanComeFrom)
{
    EXPECT_THROW(o1phi4::load_table("/nonexistent/O1_Phi4.res"), TableError);
    // An endless line is not read to its end.
    try {
        o1phi4::load_table(write_scratch("endless.res", std::string(100000, '0')));
        ADD_FAILURE() << "an endless line loaded";
    } catch (const TableError &e) {
        EXPECT_EQ(e.line(), 1);
        EXPECT_NE(std::string(e.what()).find("line longer than"), std::string::npos) << e.what();
    }
    // Blocks that parse but cannot be sampled: the sampler refuses them, also
    // without its load-time check.
    const std::pair<int, std::string> edits[] = {{33, "-3.4713641624296394e+00"}, {36, "-9.3164349040052385e-01"}};
    const std::string to[] = {"3.4713641624296394e+00", "-1.9316434904005238e+00"};
    o1phi4::SamplerOptions unchecked;
    unchecked.check = false;
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> l = small_lines();
        replace(l, edits[i].first, edits[i].second, to[i]);
        const o1phi4::Table t = o1phi4::parse_table(join_lines(l), "t.res");
        EXPECT_THROW(Sampler(t, 1.0, unchecked), TableError) << "edit " << i;
    }
    EXPECT_THROW(Sampler(o1phi4::load_table(table_path("small")), -1.0), TableError);
}

// What is not a regular file is refused at once, by the C++ loader and by the
// C interface: a FIFO without a writer (opening it to read would wait for
// one), a device that never ends, a folder.
TEST(TableLoad, WhatIsNoRegularFileIsRefusedAtOnce)
{
    const std::string fifo = make_scratch_dir("fifo") + "/O1_Phi4.res";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/zero"), make_scratch_dir("folder")}) {
        try {
            o1phi4::load_table(path);
            ADD_FAILURE() << path << " loaded";
        } catch (const TableError &e) {
            EXPECT_NE(std::string(e.what()).find(path + ": not a regular file"), std::string::npos) << e.what();
        }
        o1_sampler *s;
        char err[256] = "";
        EXPECT_EQ(o1_sampler_open(path.c_str(), 1.0, 1, &s, err, sizeof err), O1_ERR_TABLE) << path;
        EXPECT_NE(std::string(err).find("not a regular file"), std::string::npos) << err;
    }
}

// The loader's memory follows what it keeps: a table's first line followed
// by millions of blank lines (the load stops at the second line) costs no
// memory per line read.
TEST(TableLoad, MemoryFollowsTheTableNotTheFile)
{
    constexpr std::size_t BLANK_LINES = 8u << 20;
    // Peak resident memory of this process in kB.
    const auto peak = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
        return -1L;
    };
    const std::string path = make_scratch_dir("blank") + "/O1_Phi4.res";
    {
        std::ofstream out(path, std::ios::binary);
        out << small_lines()[0] << "\n";
        const std::string chunk(1 << 16, '\n');
        for (std::size_t n = 0; n < BLANK_LINES; n += chunk.size()) out << chunk;
    }
    const long before = peak();
    ASSERT_GT(before, 0);
    try {
        o1phi4::load_table(path);
        ADD_FAILURE() << "loaded";
    } catch (const TableError &e) {
        EXPECT_EQ(e.line(), 2) << e.what();
    }
    EXPECT_LT(peak() - before, static_cast<long>(BLANK_LINES >> 10) / 4) << "kB more at the peak";
}

// The field index of the C lines at a bound: the first line whose bound h is
// below, as the C code takes it (with step 0.3, 100/step is not whole, so the
// line below would give another index).
TEST(TableLoad, FieldIndexTakesTheFirstLineWhoseBoundTheValueIsBelow)
{
    o1phi4::Table t;
    t.c_map = {{100, 0, 0.3}, {200, 1000, 5}};
    const struct {
        double h;
        bool found;
        long index;
    } cases[] = {{std::nextafter(100.0, 0.0), true, 333}, {100, true, 1020}, {199.9, true, 1039}, {200, false, 0}, {NAN, false, 0}};
    for (const auto &c : cases) {
        long j = -1;
        EXPECT_EQ(o1phi4::field_index(t, c.h, j), c.found) << c.h;
        if (c.found) {
            EXPECT_EQ(j, c.index) << c.h;
        }
    }
}

// A cell holds exactly the field values whose quotient, rounded as a
// compiled line rounds it, truncates to its index: its first double does and
// the one before it does not; the one before its end does and its end not.
// Indices whose q*step lies on the wrong side of the line's boundary (16,
// 28, 9, 18 for their steps), the index 0 and negative field values.
TEST(TableLoad, IndexCellsAreWhatTheCompiledLineComputes)
{
    const struct {
        double q, step;
    } cases[] = {{3, 0.1}, {16, 0.1}, {28, 0.04}, {9, 0.004}, {18, 0.3}, {0, 0.3}, {-1, 0.3}, {-17, 0.1}, {1234567, 0.004}};
    for (const auto &c : cases) {
        double lo, hi;
        ASSERT_TRUE(o1_table_format::index_cell(c.q, c.step, -1e9, 1e9, lo, hi)) << c.q << " " << c.step;
        EXPECT_EQ(std::trunc(lo / c.step), c.q) << c.q << " " << c.step;
        EXPECT_NE(std::trunc(std::nextafter(lo, -INFINITY) / c.step), c.q) << c.q << " " << c.step;
        EXPECT_EQ(std::trunc(std::nextafter(hi, -INFINITY) / c.step), c.q) << c.q << " " << c.step;
        EXPECT_NE(std::trunc(hi / c.step), c.q) << c.q << " " << c.step;
    }
}

TEST(TableLoad, FieldValuesTheTableDoesNotServeAreRefused)
{
    const Sampler s(o1phi4::load_table(table_path("h5")), 1.0);
    const struct {
        double h;
        FieldError::Kind kind;
    } cases[] = {{-5.0, FieldError::AboveHmax}, {-1e300, FieldError::AboveHmax}, {5.0, FieldError::AboveHmax},
                 {1e300, FieldError::AboveHmax}, {NAN, FieldError::NotANumber}};
    o1phi4::Xoshiro256ss g(1);
    for (const auto &c : cases) {
        try {
            s(c.h, g);
            ADD_FAILURE() << "drew at h=" << c.h;
        } catch (const FieldError &e) {
            EXPECT_EQ(e.kind(), c.kind) << "h=" << c.h << ": " << e.what();
        }
    }
    EXPECT_EQ(s.histogram(0.0), 0);
    EXPECT_EQ(s.histogram(std::nextafter(5.0, 0.0)), 47);

    // An index-table entry removed (and the counts adjusted): its field
    // values are refused rather than served by a neighbour.
    std::vector<std::string> l = small_lines();
    l.erase(l.begin() + 28);  // "3 2": field values [0.6, 0.8)
    replace(l, 25, "5", "4");
    replace(l, 7, "10", "9");
    l[9] = "PARAMETER(Nd_poi=14,N_hist=3,N_O_m=9)";
    const Sampler t(o1phi4::parse_table(join_lines(l), "gap.res"), 1.0);
    EXPECT_EQ(t.histogram(0.59), 1);
    EXPECT_EQ(t.histogram(0.8), 2);
    try {
        t(0.65, g);
        ADD_FAILURE() << "drew at a missing index";
    } catch (const FieldError &e) {
        EXPECT_EQ(e.kind(), FieldError::MissingIndex);
        EXPECT_EQ(e.index(), 3);
    }
}

// Random damage to a valid file: the load either succeeds or throws
// TableError, and a table that loads either is refused by the sampler or
// draws (or refuses the field value) without crashing or hanging.
TEST(TableLoad, MutatedFilesNeverCrashTheLoaderOrTheSampler)
{
    const std::string base = read_file(table_path("small"));
    ASSERT_FALSE(base.empty());
    o1phi4::Xoshiro256ss g(2024);
    const char alphabet[] = "0123456789.-+e \nxE";
    int loaded = 0, sampled = 0;
    for (int it = 0; it < 3000; ++it) {
        std::string s = base;
        const int edits = 1 + static_cast<int>(g() % 3);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const std::size_t at = g() % s.size();
            switch (g() % 5) {
            case 0: s.resize(at); break;                                        // truncate
            case 1: s[at] = alphabet[g() % (sizeof alphabet - 1)]; break;       // change a character
            case 2: s.erase(at, 1 + g() % 40); break;                          // cut a piece
            case 3: s.insert(at, s.substr(g() % s.size(), 1 + g() % 40)); break;  // copy a piece
            case 4: {                                                          // a digit string made huge
                s.insert(at, "999999999999");
                break;
            }
            }
        }
        try {
            const o1phi4::Table t = o1phi4::parse_table(s, "fuzz.res");
            ++loaded;
            const Sampler sm(t, 1.0, 2000);
            ++sampled;
            for (int k = 0; k < 8; ++k) {
                const double h = -0.5 + 2.0 * o1phi4::detail::unit(g());
                try {
                    const double x = sm(h, g);
                    EXPECT_FALSE(std::isnan(x));
                } catch (const FieldError &) {
                } catch (const std::runtime_error &) {
                }
            }
        } catch (const TableError &) {
        }
    }
    // The damage must not be so heavy that nothing loads.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(sampled, 50);
}
