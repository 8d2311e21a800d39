// The one solver for the stationary points of the weight, which the
// generator's proof, the load-time check and the draw's bounds all use: every
// zero of the slope, to adjacent doubles, for any Landa the sampler takes.
#include <gtest/gtest.h>

#include <cmath>

#include "sampler/weight.h"

// Each zero found is one: the slope has opposite signs (or 0) at the doubles
// beside it.  Landa 0 and 1/2 (one zero), three zeros, the largest Landa, a
// Landa so small that the bound of the zeros overflows, a huge field value.
TEST(Weight, StationaryPointsAreEveryZeroOfTheSlope)
{
    const struct {
        double landa, c;
        int zeros;
    } cases[] = {{0, 3, 1}, {0.5, 2, 1}, {1.1, 0, 3}, {1.1, 2, 1}, {1e300, 1, 3}, {5e-324, 1, 1}, {1, 1e300, 1}};
    for (const auto &k : cases) {
        double x[3];
        ASSERT_EQ(o1phi4::stationary_points(k.landa, k.c, x), k.zeros) << k.landa << " " << k.c;
        for (int i = 0; i < k.zeros; ++i) {
            const double below = o1phi4::slope(k.landa, k.c, std::nextafter(x[i], -INFINITY));
            const double above = o1phi4::slope(k.landa, k.c, std::nextafter(x[i], INFINITY));
            EXPECT_TRUE(std::isfinite(x[i]) && below * above <= 0) << k.landa << " " << k.c << " zero " << x[i];
            if (i > 0) {
                EXPECT_LT(x[i - 1], x[i]);
            }
        }
    }
}
