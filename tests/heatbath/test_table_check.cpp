// The load-time check: every used histogram against the weight for the
// simulation's landa.
#include <gtest/gtest.h>

#include <cmath>

#include "heatbath/table_check.h"
#include "heatbath_test_support.h"

TEST(HeatBathTableCheck, StationaryPointsAreTheRootsOfTheCubic)
{
    struct Case {
        double landa, c;
        std::vector<double> roots;
    };
    const double r = std::sqrt(1.2 / 2.2);  // landa 1.1, c 0: x^2 = (2 landa - 1)/(2 landa)
    for (const Case &k : {Case{0, 3, {1.5}}, Case{0.25, 2, {1}}, Case{1.1, 0, {-r, 0, r}}, Case{1.1, 2, {1}}}) {
        double x[3];
        ASSERT_EQ(o1hb::stationary_points(k.landa, k.c, x), static_cast<int>(k.roots.size())) << k.landa << " " << k.c;
        for (std::size_t i = 0; i < k.roots.size(); ++i) EXPECT_NEAR(x[i], k.roots[i], 1e-14) << k.landa << " " << k.c;
    }
}

TEST(HeatBathTableCheck, PassesTheTableForItsLandaAndLargerOnesOnly)
{
    const o1phi4::Table t = o1phi4::parse_table(table_text(), "sound");
    EXPECT_TRUE(o1hb::check_table(t, 1.1).ok);
    EXPECT_TRUE(o1hb::check_table(t, 1.5).ok);  // a smaller weight: still bounded
    EXPECT_FALSE(o1hb::check_table(t, 1.099).ok);
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
        mode = x[o1hb::stationary_points(landa, hi, x) - 1];
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
    // just beyond the anchor.
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
        EXPECT_TRUE(right ? c.x > x : c.x < x) << c.x;
    }
}

TEST(HeatBathTableCheck, FindsTheDamageOfTheAgreementTest)
{
    const o1phi4::Table d = o1phi4::parse_table(damaged_table_text(table_text(), 2), "damaged");
    const o1hb::TableCheck c = o1hb::check_table(d, 1.1);
    EXPECT_FALSE(c.ok);
    EXPECT_LT(d.served_lo[static_cast<std::size_t>(c.m)], 2);
}
