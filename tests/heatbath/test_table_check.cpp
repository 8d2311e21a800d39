// The load-time check, the sampler library's: every used histogram against
// the weight for the simulation's landa, X_max the mode for it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <string>
#include <vector>

#include "heatbath/table_check.h"
#include "sampler/table_check.h"
#include "heatbath_test_support.h"
#include "test_support.h"

TEST(HeatBathTableCheck, StationaryPointsAreTheRootsOfTheCubic)
{
    struct Case {
        double landa, c;
        std::vector<double> roots;
    };
    const double r = std::sqrt(1.2 / 2.2);  // landa 1.1, c 0: x^2 = (2 landa - 1)/(2 landa)
    for (const Case &k : {Case{0, 3, {1.5}}, Case{0.25, 2, {1}}, Case{1.1, 0, {-r, 0, r}}, Case{1.1, 2, {1}}}) {
        double x[3];
        ASSERT_EQ(o1phi4::detail::stationary_points(k.landa, k.c, x), static_cast<int>(k.roots.size())) << k.landa << " " << k.c;
        for (std::size_t i = 0; i < k.roots.size(); ++i) EXPECT_NEAR(x[i], k.roots[i], 1e-14) << k.landa << " " << k.c;
    }
}

TEST(HeatBathTableCheck, PassesTheTableForItsLandaOnly)
{
    const o1phi4::Table t = o1phi4::parse_table(table_text(), "sound");
    EXPECT_TRUE(o1hb::check_table(t, 1.1).ok);
    // A larger Landa: still bounded, but X_max is no longer the mode.
    const o1hb::TableCheck larger = o1hb::check_table(t, 1.5);
    EXPECT_FALSE(larger.ok);
    EXPECT_NE(larger.problem.find("is not the mode of the weight"), std::string::npos) << larger.problem;
    const o1hb::TableCheck smaller = o1hb::check_table(t, 1.099);
    EXPECT_FALSE(smaller.ok);
    EXPECT_NE(smaller.problem.find("is no majorant of the weight for landa = 1.099"), std::string::npos) << smaller.problem;
    int used = 0;
    for (int m = 0; m <= t.n_histogram; ++m) used += t.used(m);
    EXPECT_EQ(o1hb::check_table(t, 1.1).histograms, used);
}

TEST(HeatBathTableCheck, FindsAStepBelowTheWeightOnlyInsideIt)
{
    // In the first histogram where this is possible, the step holding the
    // mode of the weight at the top of the field range is lowered to 1e-6
    // below the weight there, while its edges stay bounded at both ends of
    // the range: only the stationary point reveals the damage.
    const double landa = 1.1;
    o1phi4::Table t = o1phi4::parse_table(table_text(), "sound");
    int damaged = -1;
    double mode = 0;
    for (int m = 0; m <= t.n_histogram && damaged < 0; ++m) {
        if (!t.used(m)) continue;
        o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
        const double lo = t.served_lo[static_cast<std::size_t>(m)], hi = t.served_hi[static_cast<std::size_t>(m)];
        double x[3];
        mode = x[o1phi4::detail::stationary_points(landa, hi, x) - 1];
        std::size_t k = 1;
        while (k + 2 < b.p.size() && b.p[k + 1] <= mode) ++k;
        const double height = (1 - 1e-6) * o1phi4::weight(hi, b.X_max, landa, mode);
        const double right = b.p[k] + b.a / height;
        bool edges_bounded = right < b.p[k + 2];
        for (double h : {lo, hi})
            for (double e : {b.p[k], right}) edges_bounded = edges_bounded && o1phi4::weight(h, b.X_max, landa, e) < height;
        if (!edges_bounded) continue;
        b.p[k + 1] = right;
        damaged = m;
    }
    ASSERT_GE(damaged, 0);
    const o1hb::TableCheck c = o1hb::check_table(t, landa);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.m, damaged);
    EXPECT_EQ(c.x, mode);
    EXPECT_NEAR(c.ratio, 1 - 1e-6, 1e-9);
}

TEST(HeatBathTableCheck, FindsTailsBelowTheWeightOnlyBeyondTheirAnchors)
{
    // A tail that meets the log weight E at its anchor (at the end of the
    // field range where the weight is larger there) with 1.5 times its slope
    // E'(x) = h - 2x - 4 landa x (x^2 - 1): the tail dips below the weight
    // just beyond the anchor.  It no longer holds the common area, which the
    // check finds first; the comparison with the weight alone finds the dip.
    const double landa = 1.1;
    for (bool right : {false, true}) {
        o1phi4::Table t = o1phi4::parse_table(table_text(), "sound");
        o1phi4::Block &b = t.blocks[0];
        const double h = right ? t.served_hi[0] : t.served_lo[0], x = right ? b.p.back() : b.p.front();
        const double slope = 1.5 * (h - 2 * x - 4 * landa * x * (x * x - 1));
        const double intercept = std::log(o1phi4::weight(h, b.X_max, landa, x)) - slope * x;
        (right ? b.C1R : b.C1L) = slope;
        (right ? b.C2R : b.C2L) = intercept;
        const o1hb::TableCheck c = o1hb::check_table(t, landa);
        EXPECT_FALSE(c.ok) << right;
        EXPECT_EQ(c.m, 0);
        EXPECT_NE(c.problem.find(right ? "the right tail holds" : "the left tail holds"), std::string::npos) << c.problem;
        std::vector<double> log_height(b.p.size(), 0);
        for (std::size_t k = 1; k + 1 < b.p.size(); ++k) log_height[k] = std::log(b.a / (b.p[k + 1] - b.p[k]));
        o1phi4::detail::Gap g;
        o1phi4::detail::majorant_at(b, log_height, landa, h, g);
        EXPECT_LT(g.gap, 0) << right;
        EXPECT_TRUE(right ? g.x > x : g.x < x) << g.x;
    }
}

TEST(HeatBathTableCheck, FindsTheDamageOfTheAgreementTest)
{
    const o1phi4::Table d = o1phi4::parse_table(damaged_table_text(table_text(), 2), "damaged");
    const o1hb::TableCheck c = o1hb::check_table(d, 1.1);
    EXPECT_FALSE(c.ok);
    EXPECT_LT(d.served_lo[static_cast<std::size_t>(c.m)], 2);
}

// A FIFO without a writer given as the table: refused at once (opening it to
// read would wait for a writer), status 2 before any sweep.
TEST(HeatBathTableCheck, AFifoAsTheTableIsRefusedAtOnce)
{
    const std::string dir = make_scratch_dir("fifo");
    ASSERT_EQ(mkfifo((dir + "/O1_Phi4.res").c_str(), 0600), 0);
    const std::string cmd = "cd '" + dir + "' && timeout 60 '" O1_HEATBATH_EXE "' --landa 1.1 --table O1_Phi4.res > out.txt 2> err.txt";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
    EXPECT_NE(read_file(dir + "/err.txt").find("O1_Phi4.res: not a regular file"), std::string::npos) << read_file(dir + "/err.txt");
}
