// The pictures of scripts/plot_table.sh for the typical table (Landa 1, H in
// [0, 200), 10 % loss) and for a copy whose step holding the mode at h = 140
// is widened (and so lowered) below the weight: the images are made, and the
// ratio majorant/weight behind the third panel of the histogram picture goes
// below 1 only for the damaged table, and only in the damaged piece.  Tables
// whose bookkeeping is broken are refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
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
// The piece it breaks (set by table(true)).
int damaged_piece = -1;

// The folder of the pictures, their data and the damaged table (kept for a
// look after the run).
std::string scratch() { return O1_PLOT_OUT; }

// The typical table, and the copy with the right edge of the step holding
// X_max in the histogram serving DAMAGED_H moved 0.9 of the way to the next
// edge: that step widens, and its height falls below the weight.
std::string table(bool damaged)
{
    const std::string sound = std::string(O1_PLOT_TABLES) + "/h200/O1_Phi4.res";
    if (!damaged) return sound;
    const std::string path = scratch() + "/damaged.res";
    const std::string text = read_file(sound);
    const o1phi4::Table t = o1phi4::parse_table(text, sound);
    const int m = o1phi4::Sampler(t, 1.0).histogram(DAMAGED_H);
    const std::vector<double> &p = t.blocks[static_cast<std::size_t>(m)].p;
    std::size_t k = 1;
    while (k + 3 < p.size() && p[k + 1] <= t.blocks[static_cast<std::size_t>(m)].X_max) ++k;
    damaged_piece = static_cast<int>(k);

    std::vector<std::string> l = split_lines(text);
    char buf[64];  // the line of p[k + 1]
    std::snprintf(buf, sizeof buf, "%.16e 0", p[k + 1] + 0.9 * (p[k + 2] - p[k + 1]));
    l[static_cast<std::size_t>(t.blocks[static_cast<std::size_t>(m)].first_line + 2 + static_cast<long>(k))] = buf;
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
    double smallest = INFINITY;
    int smallest_column = 0;
    long below = 0, below_elsewhere = 0;
    for (const std::vector<double> &v : r) {
        ASSERT_EQ(v.size(), 7u);
        for (int col : {5, 6})
            if (v[static_cast<std::size_t>(col)] < smallest) smallest = v[static_cast<std::size_t>(col)], smallest_column = col;
        if (std::fmin(v[5], v[6]) < 1) ++below, below_elsewhere += v[1] != damaged_piece;
    }
    if (c.below_one) {
        EXPECT_GT(below, 0) << "smallest ratio " << smallest;
        EXPECT_EQ(below_elsewhere, 0) << "the damage is in piece " << damaged_piece << " only";
        EXPECT_NE(read_file(dat).find("NOT A MAJORANT"), std::string::npos);
        // The title names the field value of the column the smallest ratio
        // is in: the columns line names both.
        const std::string text = read_file(dat);
        const std::size_t cols = text.find("# columns: x piece log10(majorant) log10(weight at h=");
        ASSERT_NE(cols, std::string::npos);
        double h_lo, h_hi;
        ASSERT_EQ(std::sscanf(text.c_str() + cols, "# columns: x piece log10(majorant) log10(weight at h=%lf) log10(weight at h=%lf)",
                              &h_lo, &h_hi), 2);
        const std::size_t title = text.find("# smallest ratio majorant/weight ");
        ASSERT_NE(title, std::string::npos);
        const std::size_t at_h = text.find(", h = ", title);
        ASSERT_NE(at_h, std::string::npos);
        EXPECT_NEAR(std::strtod(text.c_str() + at_h + 6, nullptr), smallest_column == 5 ? h_lo : h_hi, 1e-3) << text.substr(title, 120);
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

// A field value the table does not serve, a block with a = -1 (its picture
// would show a "-nan" acceptance), a Landa the table was not made for, and a
// FIFO without a writer: each refused at once, and nothing drawn.
TEST(HistogramPictureInput, RefusesWhatItCannotDraw)
{
    std::vector<std::string> l = split_lines(read_file(table(false)));
    const o1phi4::Table t = o1phi4::parse_table(join_lines(l), "h200");
    char buf[128];
    std::snprintf(buf, sizeof buf, "1 %f %d %f %.16e -1", t.blocks[1].H, t.nd_poi, t.blocks[1].loss, t.blocks[1].X_max);
    l[static_cast<std::size_t>(t.blocks[1].first_line - 1)] = buf;
    const std::string negative = scratch() + "/negative_area_" + std::to_string(getpid()) + ".res";
    std::ofstream(negative, std::ios::binary) << join_lines(l);
    const std::string fifo = scratch() + "/fifo_" + std::to_string(getpid()) + ".res";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char *name;
        std::string args, message;
    } cases[] = {
        {"outside", "'" + table(false) + "' 1 -H 200", "does not serve h = 200"},
        {"negative_area", "'" + negative + "' 1 -m 1", "the area a is not positive"},
        {"other_landa", "'" + table(false) + "' 1.001 -m 1", "is not a mode of the weight"},
        {"fifo", "'" + fifo + "' 1 -m 0", "not a regular file"},
    };
    for (const auto &c : cases) {
        const std::string png = scratch() + "/" + c.name + ".png";
        // Nothing of an earlier run may stand in for what this one must not draw.
        std::remove(png.c_str());
        std::remove((scratch() + "/" + c.name + ".dat").c_str());
        std::string out;
        EXPECT_NE(plot("histogram " + c.args + " -o '" + png + "'", out), 0) << c.name;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
        EXPECT_FALSE(is_png(png)) << c.name;
        EXPECT_TRUE(read_file(scratch() + "/" + c.name + ".dat").empty()) << c.name << ": no data left behind";
    }
    std::remove(fifo.c_str());
    std::remove(negative.c_str());
}
