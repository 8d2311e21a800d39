// The C interface, driven from C code, and its agreement with the C++ one.
#include <gtest/gtest.h>

#include "sampler/o1_sampler_c.h"
#include "sampler/sampler.h"
#include "sampler_test_support.h"

extern "C" int c_api_round_trip(const char *path, char *msg, size_t msg_size);

TEST(CApi, RoundTripFromC)
{
    char msg[512] = "";
    EXPECT_EQ(c_api_round_trip(table_path("h5").c_str(), msg, sizeof msg), 0) << msg;
}

TEST(CApi, SameDrawsAsTheCppSamplerWithTheSameGenerator)
{
    o1_sampler *c;
    char err[256];
    ASSERT_EQ(o1_sampler_open(table_path("h200").c_str(), 1.0, 99, &c, err, sizeof err), O1_OK) << err;
    const o1phi4::Sampler s(o1phi4::load_table(table_path("h200")), 1.0);
    o1phi4::Xoshiro256ss g(99);
    for (double h : {0.0, 37.3, 99.99, 100.0, 163.2, 199.99}) {
        double x;
        ASSERT_EQ(o1_sampler_draw(c, h, &x), O1_OK) << h;
        EXPECT_EQ(x, s(h, g)) << h;
        EXPECT_EQ(o1_sampler_histogram(c, h, nullptr), s.histogram(h)) << h;
    }
    o1_sampler_free(c);
}
