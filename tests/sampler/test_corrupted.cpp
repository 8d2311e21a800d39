// Tables damaged on purpose, as a faulty generator could write them: the
// majorant check finds the histogram and the piece, the chi-square test
// rejects samples drawn from it, and the validator fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

#include "check.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

namespace {

enum Damage {
    WIDER_STEP,   // an inner edge moved right: the step holding X_max widens and its height falls below the weight
    LOWER_TAIL,   // C2R lowered: the right tail falls 0.9 below the log weight at its anchor
};

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

// The damaged text (Landa = 1, h_hi the upper end of the histogram's range);
// piece receives the piece that no longer bounds the weight.
std::string damage(const std::string &text, const o1phi4::Block &b, double h_hi, Damage d, int &piece)
{
    std::vector<std::string> l = lines_of(text);
    const int nd = static_cast<int>(b.p.size());
    if (d == WIDER_STEP) {
        int k = 1;
        while (k + 3 < nd && b.p[static_cast<std::size_t>(k) + 1] <= b.X_max) ++k;
        const double moved = b.p[static_cast<std::size_t>(k) + 1] + 0.9 * (b.p[static_cast<std::size_t>(k) + 2] - b.p[static_cast<std::size_t>(k) + 1]);
        l[static_cast<std::size_t>(b.first_line + 2 + k + 1 - 1)] = number_line(moved, 0);
        piece = k;
    } else {
        // Lowered to 0.9 below the largest weight of the histogram's range at
        // the anchor (the weight at the upper field value h_hi there).
        const double X0 = b.p[static_cast<std::size_t>(nd) - 1];
        const double e = h_hi * (X0 - b.X_max) - X0 * X0 - (X0 * X0 - 1) * (X0 * X0 - 1);
        const double gap = b.C1R * X0 + b.C2R - e;
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.16e %.16e %.16e %.16e", b.C1L, b.C2L, b.C1R, b.C2R - gap - 0.9);
        l[static_cast<std::size_t>(b.first_line + 1 - 1)] = buf;
        piece = nd - 1;
    }
    return join_lines(l);
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.table << " at h=" << c.h << (c.damage == WIDER_STEP ? ", wider step" : ", lower right tail"); }

class DamagedTable : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(DamagedTable, IsCaughtByTheMajorantCheckTheChiSquareAndTheValidator)
{
    const Case c = GetParam();
    const std::string text = slurp(table_path(c.table));
    const o1phi4::Table sound = o1phi4::parse_table(text, c.table);
    const o1phi4::Sampler ss(sound, 1.0);
    const int m = ss.histogram(c.h);
    int piece;
    const std::string bad = damage(text, sound.blocks[static_cast<std::size_t>(m)], sound.H_upper(m), c.damage, piece);
    const std::string path = write_scratch(std::string("damaged_") + c.table + (c.damage == WIDER_STEP ? "_step" : "_tail"), bad);
    const o1phi4::Table t = o1phi4::load_table(path);

    o1check::MajorantOptions o;
    o.points_per_step = 8;
    o.interior_h = 1;
    o.random_h = 0;
    const o1check::MajorantReport r = o1check::check_majorant(t, 1.0, o);
    EXPECT_GT(r.failed_points, 0);
    EXPECT_EQ(r.failed_histograms, 1);
    ASSERT_FALSE(r.violations.empty());
    EXPECT_EQ(r.violations[0].m, m);
    EXPECT_EQ(r.violations[0].piece, piece);
    EXPECT_LT(r.worst.ratio, 0.9);

    const o1phi4::Sampler s(t, 1.0);
    const o1check::SampleReport sr = o1check::check_samples(s, c.h, 200000, 100, 1e-4, 3);
    EXPECT_TRUE(sr.error.empty()) << sr.error;
    EXPECT_FALSE(sr.chi2_ok) << "chi2 " << sr.chi2 << ", p " << sr.p_value;

    std::string out;
    char args[512];
    std::snprintf(args, sizeof args, "%s 1 -n 20000 -f 1 -r 0 -p 8 -m 2000 -H %g", path.c_str(), c.h);
    EXPECT_EQ(run_check(args, out), 1) << out;
    EXPECT_NE(out.find("majorant >= weight"), std::string::npos) << out;
    EXPECT_NE(out.find("RESULT: FAIL"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Tables, DamagedTable,
                         ::testing::Values(Case{"h5", 1.0, WIDER_STEP}, Case{"h5", 1.0, LOWER_TAIL},
                                           Case{"h200", 140.0, WIDER_STEP}, Case{"h200", 140.0, LOWER_TAIL}),
                         [](const ::testing::TestParamInfo<Case> &i) {
                             return std::string(i.param.table) + (i.param.damage == WIDER_STEP ? "_wider_step" : "_lower_right_tail");
                         });
