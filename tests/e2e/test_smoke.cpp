#include <gtest/gtest.h>

#include "test_support.h"

// The shortest whole run: one attempt confirmed, both phases, status 0.
TEST(EndToEndSmoke, ShortRunFinishesWithStatusZero)
{
    RunResult r = run_program("1\n0\n1\n10\n1\n", 60);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(r.dir + "/O1_Phi4.res").find("-> O(1) with H0=0.000000"), std::string::npos);
}
