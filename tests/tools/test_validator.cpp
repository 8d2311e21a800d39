// Tables damaged on purpose, as a faulty generator could write them: the
// majorant check finds the histogram and the piece, the chi-square test
// rejects samples drawn from it, and the validator fails.  Files no sound
// table looks like make the validator fail at once naming file and line.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>

#include "check.h"
#include "sampler/o1_sampler_c.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

namespace {

// Seconds the validator may run in a test: every run of the tests ends in a
// few seconds, also under the sanitizers; a hang shows as status 124.
constexpr int CHECK_TIMEOUT_S = 120;

// Runs the validator with arguments; returns its exit status, output in out.
int run_check(const std::string &args, std::string &out)
{
    const std::string cmd = "timeout " + std::to_string(CHECK_TIMEOUT_S) + " " + O1_PHI4_CHECK_EXE + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    out.clear();
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

enum Damage {
    WIDER_STEP,   // an inner edge moved right: the step holding X_max widens and its height falls below the weight
    LOWER_TAIL,   // C2R lowered: the right tail falls 0.9 below the log weight at its anchor
    WIDER_RANGE,  // the index entry of the next cell names the histogram too: it serves beyond what it was built for
};
const char *const DAMAGE_NAME[] = {"wider_step", "lower_right_tail", "wider_range"};

struct Case {
    const char *table;
    double h;  // field value the damaged histogram serves
    Damage damage;
};

std::string number_line(double v, int flag)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16e %d", v, flag);
    return buf;
}

// The damaged text of histogram m of t (Landa = 1); piece receives the piece
// that no longer bounds the weight (-1: any).
std::string damage(const std::string &text, const o1phi4::Table &t, int m, Damage d, int &piece)
{
    std::vector<std::string> l = split_lines(text);
    const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
    const double h_hi = t.H_upper(m);
    const int nd = static_cast<int>(b.p.size());
    if (d == WIDER_RANGE) {
        long next;
        EXPECT_TRUE(o1phi4::field_index(t, t.served_hi[static_cast<std::size_t>(m)], next));
        const std::string entry = std::to_string(next) + " ";
        std::size_t i = 0;
        while (i < l.size() && l[i].rfind("$---", 0) != 0) ++i;
        for (i += 2; i < l.size() && l[i].rfind(entry, 0) != 0; ++i) {
        }
        EXPECT_LT(i, l.size()) << "no index entry " << next;
        if (i < l.size()) l[i] = entry + std::to_string(m);
        piece = -1;
    } else if (d == WIDER_STEP) {
        int k = 1;
        while (k + 3 < nd && b.p[static_cast<std::size_t>(k) + 1] <= b.X_max) ++k;
        const double moved = b.p[static_cast<std::size_t>(k) + 1] + 0.9 * (b.p[static_cast<std::size_t>(k) + 2] - b.p[static_cast<std::size_t>(k) + 1]);
        l[static_cast<std::size_t>(b.first_line + 2 + k + 1 - 1)] = number_line(moved, 0);
        piece = k;
    } else {
        // Lowered to 0.9 below the largest weight of the histogram's range at
        // the anchor (the weight at the upper field value h_hi there).
        const double X0 = b.p[static_cast<std::size_t>(nd) - 1];
        const double e = o1phi4::log_weight(h_hi, b.X_max, 1.0, X0);
        const double gap = b.C1R * X0 + b.C2R - e;
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.16e %.16e %.16e %.16e", b.C1L, b.C2L, b.C1R, b.C2R - gap - 0.9);
        l[static_cast<std::size_t>(b.first_line + 1 - 1)] = buf;
        piece = nd - 1;
    }
    return join_lines(l);
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.table << " at h=" << c.h << ", " << DAMAGE_NAME[c.damage]; }

class DamagedTable : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(DamagedTable, IsCaughtByTheMajorantCheckTheChiSquareAndTheValidator)
{
    const Case c = GetParam();
    const std::string text = read_file(table_path(c.table));
    const o1phi4::Table sound = o1phi4::parse_table(text, c.table);
    const o1phi4::Sampler ss(sound, 1.0);
    const int m = ss.histogram(c.h);
    int piece;
    const std::string bad = damage(text, sound, m, c.damage, piece);
    const std::string path = write_scratch(std::string("damaged_") + c.table + "_" + DAMAGE_NAME[c.damage], bad);
    const o1phi4::Table t = o1phi4::load_table(path);
    // Drawn where the damage shows: for a wider range near its new top.
    const std::size_t ms = static_cast<std::size_t>(m);
    const double h = c.damage == WIDER_RANGE ? t.served_lo[ms] + 0.98 * (t.served_hi[ms] - t.served_lo[ms]) : c.h;

    o1check::MajorantOptions o;
    o.points_per_step = 8;
    o.interior_h = 1;
    o.random_h = 0;
    const o1check::MajorantReport r = o1check::check_majorant(t, 1.0, o);
    EXPECT_GT(r.failed_points, 0);
    EXPECT_EQ(r.failed_histograms, 1);
    ASSERT_FALSE(r.violations.empty());
    EXPECT_EQ(r.violations[0].m, m);
    if (piece >= 0) {
        EXPECT_EQ(r.violations[0].piece, piece);
    }
    EXPECT_LT(r.worst.ratio, 0.9);

    // The library refuses it at load; without that check its samples show it.
    EXPECT_THROW(o1phi4::Sampler(t, 1.0), o1phi4::TableError);
    o1phi4::SamplerOptions unchecked;
    unchecked.check = false;
    const o1phi4::Sampler s(t, 1.0, unchecked);
    const o1check::SampleReport sr = o1check::check_samples(s, h, 200000, 100, 1e-4, 3);
    EXPECT_TRUE(sr.error.empty()) << sr.error;
    EXPECT_FALSE(sr.chi2_ok) << "chi2 " << sr.chi2 << ", p " << sr.p_value;

    std::string out;
    char args[512];
    std::snprintf(args, sizeof args, "%s 1 -n 20000 -f 1 -r 0 -p 8 -m 2000 -H %.17g", path.c_str(), h);
    EXPECT_EQ(run_check(args, out), 1) << out;
    EXPECT_NE(out.find("majorant >= weight"), std::string::npos) << out;
    EXPECT_NE(out.find("RESULT: FAIL"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Tables, DamagedTable,
                         ::testing::Values(Case{"h5", 1.0, WIDER_STEP}, Case{"h5", 1.0, LOWER_TAIL},
                                           Case{"h200", 140.0, WIDER_STEP}, Case{"h200", 140.0, LOWER_TAIL},
                                           Case{"h200", 140.0, WIDER_RANGE}),
                         [](const ::testing::TestParamInfo<Case> &i) {
                             return std::string(i.param.table) + "_" + DAMAGE_NAME[i.param.damage];
                         });

// One step of a histogram lowered to a millionth below the largest weight it
// must bound over the field values it serves: the majorant check finds
// exactly that (its tolerance is far finer), and the validator fails.
TEST(DamagedTable, OneMillionthBelowTheWeightFails)
{
    const std::string text = read_file(table_path("h200"));
    const o1phi4::Table sound = o1phi4::parse_table(text, "h200");
    const int m = o1phi4::Sampler(sound, 1.0).histogram(140.0);
    const std::size_t ms = static_cast<std::size_t>(m);
    const o1phi4::Block &b = sound.blocks[ms];
    const double h_lo = sound.served_lo[ms], h_hi = sound.served_hi[ms];
    const double mode = o1check::stationary_points(1.0, h_hi).back();
    std::size_t k = 1;
    while (b.p[k + 1] <= mode) ++k;
    // Largest weight over the step and the served range: at an end of the
    // range (log-linear in h), at an edge or a stationary point in x.
    double w = 0;
    for (const double h : {h_lo, h_hi}) {
        std::vector<double> xs = o1check::stationary_points(1.0, h);
        xs.push_back(b.p[k]);
        xs.push_back(b.p[k + 1]);
        for (const double x : xs)
            if (x >= b.p[k] && x <= b.p[k + 1]) w = std::max(w, o1phi4::weight(h, b.X_max, 1.0, x));
    }
    const double edge = b.p[k] + b.a / (w * (1 - 1e-6));
    ASSERT_LT(edge, b.p[k + 2]);
    std::vector<std::string> l = split_lines(text);
    l[static_cast<std::size_t>(b.first_line + 2 + static_cast<long>(k))] = number_line(edge, 0);
    const std::string path = write_scratch("damaged_h200_millionth", join_lines(l));

    o1check::MajorantOptions o;
    o.points_per_step = 8;
    o.interior_h = 1;
    o.random_h = 0;
    const o1check::MajorantReport r = o1check::check_majorant(o1phi4::load_table(path), 1.0, o);
    EXPECT_EQ(r.failed_histograms, 1);
    EXPECT_EQ(r.worst.m, m);
    EXPECT_EQ(r.worst.piece, static_cast<int>(k));
    EXPECT_NEAR(r.worst.ratio, 1 - 1e-6, 1e-10);

    std::string out;
    EXPECT_EQ(run_check(path + " 1 -n 2000 -f 1 -r 0 -p 8 -m 2000 -H 140", out), 1) << out;
    EXPECT_NE(out.find("bookkeeping "), std::string::npos) << out;
    EXPECT_EQ(out.find("bookkeeping: "), std::string::npos) << out;
    EXPECT_NE(out.find("points below the weight in 1 histograms"), std::string::npos) << out;
}

// Tables that stay majorants but break what the draw relies on, and a Landa
// the table was not made for: the library refuses them when it opens them
// (through the C interface, which goes through the C++ sampler's check),
// naming the line and the block, and the validator fails them.
TEST(DamagedTable, BrokenBookkeepingIsRefusedAtOpenAndByTheValidator)
{
    const std::string text = read_file(table_path("small"));
    const o1phi4::Table sound = o1phi4::parse_table(text, "small");
    struct Case {
        const char *name;
        std::function<void(o1phi4::Block &)> edit;  // of block 1
        double landa;
        std::string at_open, validator;  // in the messages
    };
    const Case cases[] = {
        {"area_x2", [](auto &b) { b.a *= 2; }, 1.0, ":50: histogram 1: the left tail holds", ":50: the left tail holds"},
        {"area_x10", [](auto &b) { b.a *= 10; }, 1.0, ":50: histogram 1: the left tail holds", ":50: the left tail holds"},
        {"area_1e300", [](auto &b) { b.a = 1e300; }, 1.0, ":50: histogram 1: the left tail holds", ":50: the left tail holds"},
        {"left_intercept_plus_1", [](auto &b) { b.C2L += 1; }, 1.0, ":50: histogram 1: the left tail holds", ":50: the left tail holds"},
        // The left tail moved 0.1 to the left, holding the same area.
        {"gap_after_left_tail", [](auto &b) { b.p[0] -= 0.1, b.C2L += 0.1 * b.C1L; }, 1.0,
         ":52: histogram 1: a gap between the left tail's anchor and the first step", ":52: line 1 of the positions does not repeat line 0"},
        {"landa_0.5", [](auto &) {}, 0.5, "is no majorant of the weight for landa = 0.5", "is not a mode of the weight"},
        {"landa_1.001", [](auto &) {}, 1.001, ":32: histogram 0: X_max = 0.7071", ":32: X_max = 0.70710678"},
    };
    for (const Case &c : cases) {
        o1phi4::Block b = sound.blocks[1];
        c.edit(b);
        std::vector<std::string> l = split_lines(text);
        char buf[200];
        std::snprintf(buf, sizeof buf, "1 %f %d %f %20.16e %20.16e", b.H, b.nd_poi, b.loss, b.X_max, b.a);
        l[48] = buf;
        std::snprintf(buf, sizeof buf, "%20.16e %20.16e %20.16e %20.16e", b.C1L, b.C2L, b.C1R, b.C2R);
        l[49] = buf;
        l[50] = number_line(b.p[0], 1);
        const std::string path = write_scratch(std::string(c.name) + ".res", join_lines(l));

        o1_sampler *s;
        char err[400] = "";
        EXPECT_EQ(o1_sampler_open(path.c_str(), c.landa, 1, &s, err, sizeof err), O1_ERR_TABLE) << c.name;
        EXPECT_NE(std::string(err).find(c.at_open), std::string::npos) << c.name << ": " << err;
        std::string out;
        char landa[32];
        std::snprintf(landa, sizeof landa, " %.17g", c.landa);
        EXPECT_EQ(run_check(path + landa + " -n 2000 -f 1 -r 0 -p 8 -m 2000", out), 1) << c.name << ":\n" << out;
        EXPECT_NE(out.find(c.validator), std::string::npos) << c.name << ":\n" << out;
    }
}

// The field-index map sends a sliver of 1e-9 at a cell boundary to a
// histogram not built for it, on either side of the boundary: the map check
// finds it by visiting both sides of every boundary (a grid of 7 points and
// the random ones would not).
TEST(Validator, FieldMapCheckFindsFaultsRightAtCellBoundaries)
{
    const struct {
        int block;    // whose H moves ...
        double to;    // ... here
        double lo, hi;  // the field values then outside their histogram
    } cases[] = {
        {1, 0.2 + 1e-9, 0.2, 0.2 + 1e-9},  // histogram 1 from just above the boundary 0.2 on
        {2, 0.6 - 1e-9, 0.6 - 1e-9, 0.6},  // histogram 1 (up to H of 2) to just below 0.6
    };
    for (const auto &c : cases) {
        o1phi4::Table t = o1phi4::load_table(table_path("small"));
        t.blocks[static_cast<std::size_t>(c.block)].H = c.to;
        const o1check::MapReport r = o1check::check_field_map(t, 1.0, 7, 1);
        EXPECT_GT(r.outside, 0) << c.block;
        bool named = false;
        for (const o1check::MapProblem &p : r.examples) named = named || (p.h >= c.lo && p.h <= c.hi && p.m == 1);
        EXPECT_TRUE(named) << c.block;
    }
}

// The predicted acceptance of a Gaussian weight (Landa 0), whose integral is
// sqrt(pi) exp(h^2/4 - h X_max): a histogram of 4 pieces of area a, with a
// chosen for an acceptance of 0.8 in the middle of its range [1, 2] and
// 0.8 exp(1/16) at both ends.
TEST(Validator, PredictedAcceptanceIsTheWeightsIntegralOverTheMajorantsArea)
{
    o1phi4::Table t = o1phi4::load_table(table_path("small"));
    t.nd_poi = 4;
    for (std::size_t m = 0; m < t.blocks.size(); ++m) t.served_lo[m] = t.served_hi[m] = NAN;
    o1phi4::Block &b = t.blocks[0];
    b.X_max = 0.75;
    b.a = std::sqrt(M_PI) * std::exp(1.5 * 1.5 / 4 - 1.5 * 0.75) / (4 * 0.8);
    t.served_lo[0] = 1;
    t.served_hi[0] = 2;
    const o1check::AcceptanceReport r = o1check::check_acceptance(t, 0.0);
    EXPECT_EQ(r.histograms, 1);
    EXPECT_EQ(r.failed, 0);
    EXPECT_NEAR(r.lowest.ratio, 0.8, 1e-9);
    EXPECT_EQ(r.lowest.h, 1.5);
    EXPECT_NEAR(r.highest.ratio, 0.8 * std::exp(1.0 / 16), 1e-9);
}

// Files no sound table looks like, and options out of range: the validator
// ends within the timeout with the status due and messages naming the file
// line, and never passes a control character of the file through.
TEST(Validator, BadInputFailsFastNamingFileAndLine)
{
    const auto edited = [](const char *name, const char *table, std::function<void(std::vector<std::string> &)> edit) {
        std::vector<std::string> l = split_lines(read_file(table_path(table)));
        edit(l);
        return write_scratch(name, join_lines(l));
    };
    const std::string small = table_path("small");
    const std::string fifo = make_scratch_dir("fifo") + "/fifo.res";
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Run {
        const char *name;
        std::string args;
        int status;
        std::vector<std::string> messages;
    };
    const Run runs[] = {
        {"endless line", write_scratch("endless.res", std::string(100000, '0')) + " 1", 1, {"endless.res:1: line longer than 4096 characters"}},
        {"a FIFO without a writer", fifo + " 1", 1, {"fifo.res: not a regular file"}},
        {"a device", "/dev/zero 1", 1, {"/dev/zero: not a regular file"}},
        {"count near 2^31",
         edited("count.res", "small",
                [](auto &l) {
                    l[4] = "#define Nd_poi 2147483647";
                    l[9] = "PARAMETER(Nd_poi=2147483647,N_hist=3,N_O_m=10)";
                }) + " 1",
         1, {"count.res:5: Nd_poi is 2147483647, more than any table can hold"}},
        {"control characters", edited("ctl.res", "small", [](auto &l) { l[31] = "0 \x1b[2J\x9b"; }) + " 1", 1,
         {"ctl.res:32: expected a block's first line", "found \"0 \\x1b[2J\\x9b\""}},
        // The weight of histogram 1 underflows everywhere: no endless range
        // walk, the mode and the acceptance checks name the block.
        {"X_max of 1e300",
         edited("xmax.res", "small", [](auto &l) { l[48] = "1 0.200000 14 20.795625 1e300 7.1817195553450522e-02"; }) +
             " 1 -n 2000 -m 2000",
         1,
         {"xmax.res:49: X_max = 1e+300 is not a mode", "xmax.res:49: histogram 1 at h=0.2: predicted acceptance 0, below the floor",
          "not sampled"}},
        // A majorant 20 times too high everywhere (a, both tails): sound
        // but for an acceptance far below what the loss of 50 % claims.
        {"majorant 20 times too high",
         edited("high.res", "small",
                [](auto &l) {
                    const o1phi4::Table sound = o1phi4::load_table(table_path("small"));
                    const o1phi4::Block &b = sound.blocks[1];
                    char buf[200];
                    std::snprintf(buf, sizeof buf, "1 0.200000 14 20.795625 %.16e %.16e", b.X_max, 20 * b.a);
                    l[48] = buf;
                    std::snprintf(buf, sizeof buf, "%.16e %.16e %.16e %.16e", b.C1L, b.C2L + std::log(20.0), b.C1R,
                                  b.C2R + std::log(20.0));
                    l[49] = buf;
                }) +
             " 1 -n 2000 -m 2000",
         1, {"high.res:49: histogram 1 at h=", "below the floor"}},
        // Landa 1000 for a table made with Landa 1: ends at once rather than
        // sampling at an acceptance near 0.
        {"wrong Landa", table_path("h5") + " 1000", 1, {"h5/O1_Phi4.res:152: X_max = 0.7071067805 is not a mode", "was the table made with another Landa?"}},
        {"too many bins", small + " 1 -k 1000000", 2, {"bad option -k 1000000"}},
        {"points beyond long", small + " 1 -p 99999999999999999999", 2, {"bad option -p 99999999999999999999"}},
        {"too many field values", small + " 1 -f 101", 2, {"bad option -f 101"}},
    };
    for (const Run &c : runs) {
        std::string out;
        EXPECT_EQ(run_check(c.args, out), c.status) << c.name << ":\n" << out;
        for (const std::string &m : c.messages) EXPECT_NE(out.find(m), std::string::npos) << c.name << ": " << m << "\n" << out;
        for (const char ch : out)
            EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << c.name << ": byte " << static_cast<int>(static_cast<unsigned char>(ch));
    }
}
