// The pictures of scripts/plot_table.sh for the typical table (Landa 1, H in
// [0, 200), 10 % loss) and for a copy whose right tail at h = 140 is lowered
// below the weight: the images are made, and the ratio majorant/weight
// behind the third panel of the histogram picture goes below 1 only for the
// damaged table, and only in the damaged piece.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "sampler/sampler.h"
#include "test_support.h"

namespace {

// Field value whose histogram the damaged copy breaks.
constexpr double DAMAGED_H = 140.0;

// The folder of the pictures, their data and the damaged table (kept for a
// look after the run).
std::string scratch() { return O1_PLOT_OUT; }

// The typical table, and the copy with the right tail of the histogram
// serving DAMAGED_H lowered to 0.9 below the log weight at its anchor for the
// highest field value that histogram serves.
std::string table(bool damaged)
{
    const std::string sound = std::string(O1_PLOT_TABLES) + "/h200/O1_Phi4.res";
    if (!damaged) return sound;
    const std::string path = scratch() + "/damaged.res";
    const std::string text = read_file(sound);
    const o1phi4::Table t = o1phi4::parse_table(text, sound);
    const int m = o1phi4::Sampler(t, 1.0).histogram(DAMAGED_H);
    const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
    const double X0 = b.p.back(), h = t.served_hi[static_cast<std::size_t>(m)];
    const double gap = b.C1R * X0 + b.C2R - o1phi4::log_weight(h, b.X_max, 1.0, X0);

    std::vector<std::string> l = split_lines(text);
    char buf[128];  // the line C1L C2L C1R C2R
    std::snprintf(buf, sizeof buf, "%.16e %.16e %.16e %.16e", b.C1L, b.C2L, b.C1R, b.C2R - gap - 0.9);
    l[static_cast<std::size_t>(b.first_line)] = buf;
    // Tests running at the same time write the same text: each its own
    // file, renamed over the path in one step.
    const std::string own = path + "." + std::to_string(getpid());
    std::ofstream(own, std::ios::binary) << join_lines(l);
    std::rename(own.c_str(), path.c_str());
    return path;
}

// Runs the script with arguments; exit status, output in out.
int plot(const std::string &args, std::string &out)
{
    const std::string log = scratch() + "/plot_" + std::to_string(getpid()) + ".log";
    const std::string cmd = std::string("O1_PHI4_PLOT='") + O1_PHI4_PLOT_EXE + "' bash '" + O1_PLOT_SCRIPT + "' " + args + " >'" + log + "' 2>&1";
    const int st = std::system(cmd.c_str());
    out = read_file(log);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool is_png(const std::string &path)
{
    const std::string s = read_file(path);
    return s.size() > 1000 && s.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

// Rows of numbers of a data file (comment and blank lines left out).
std::vector<std::vector<double>> rows(const std::string &path)
{
    std::vector<std::vector<double>> r;
    for (const std::string &l : split_lines(read_file(path))) {
        if (l.empty() || l[0] == '#') continue;
        std::istringstream ls(l);
        r.emplace_back();
        for (double v; ls >> v;) r.back().push_back(v);
    }
    return r;
}

struct Case {
    const char *name;
    bool damaged;
    const char *select;  // -m M or -H h
    bool below_one;      // the ratio data must go below 1
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name << " (" << c.select << ")"; }

class HistogramPicture : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(HistogramPicture, IsDrawnAndItsRatioGoesBelowOneOnlyInTheDamagedPiece)
{
    const Case c = GetParam();
    const std::string png = scratch() + "/" + c.name + ".png", dat = scratch() + "/" + c.name + ".dat";
    std::string out;
    ASSERT_EQ(plot("histogram '" + table(c.damaged) + "' 1 " + c.select + " -o '" + png + "'", out), 0) << out;
    EXPECT_TRUE(is_png(png)) << out;

    const std::vector<std::vector<double>> r = rows(dat);
    ASSERT_GT(r.size(), 300u);
    const double right_tail = r.back()[1];
    double smallest = INFINITY;
    long below = 0, below_elsewhere = 0;
    for (const std::vector<double> &v : r) {
        ASSERT_EQ(v.size(), 7u);
        smallest = std::fmin(smallest, std::fmin(v[5], v[6]));
        if (std::fmin(v[5], v[6]) < 1) ++below, below_elsewhere += v[1] != right_tail;
    }
    if (c.below_one) {
        EXPECT_GT(below, 0) << "smallest ratio " << smallest;
        EXPECT_EQ(below_elsewhere, 0) << "the damage is in the right tail only";
        EXPECT_NE(read_file(dat).find("NOT A MAJORANT"), std::string::npos);
    } else {
        EXPECT_GE(smallest, 1.0);
        EXPECT_EQ(read_file(dat).find("NOT A MAJORANT"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, HistogramPicture,
                         ::testing::Values(Case{"sound_first", false, "-m 0", false}, Case{"sound_h140", false, "-H 140", false},
                                           Case{"sound_last", false, "-H 199.99", false}, Case{"damaged_h140", true, "-H 140", true}),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

TEST(LossPicture, IsDrawnOverTheWholeFieldRangeForBothTables)
{
    for (const bool damaged : {false, true}) {
        const std::string png = scratch() + (damaged ? "/damaged_loss.png" : "/sound_loss.png");
        std::string out;
        ASSERT_EQ(plot("loss '" + table(damaged) + "' 1 -n 2 -o '" + png + "'", out), 0) << out;
        EXPECT_TRUE(is_png(png)) << out;
        const std::vector<std::vector<double>> r = rows(png.substr(0, png.size() - 4) + ".dat");
        ASSERT_FALSE(r.empty());
        EXPECT_EQ(r.front()[0], 0.0);
        EXPECT_EQ(r.back()[0], 200.0);
        for (const std::vector<double> &v : r) {
            EXPECT_GT(v[2], 0.5) << "h " << v[0];
            EXPECT_LE(v[2], 1.0) << "h " << v[0];
        }
    }
}

TEST(HistogramPictureInput, RefusesAFieldValueTheTableDoesNotServe)
{
    const std::string png = scratch() + "/outside.png";
    std::string out;
    EXPECT_NE(plot("histogram '" + table(false) + "' 1 -H 200 -o '" + png + "'", out), 0);
    EXPECT_NE(out.find("does not serve h = 200"), std::string::npos) << out;
    EXPECT_FALSE(is_png(png));
    EXPECT_TRUE(read_file(scratch() + "/outside.dat").empty()) << "no data left behind";
}
