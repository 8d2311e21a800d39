// The C interface, driven from C code, and its agreement with the C++ one.
#include <gtest/gtest.h>

#include <cmath>

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

// Landa the weight cannot have is refused at open (and by the C++ sampler),
// one it can have but the table was not made for is refused by the table
// check, and the ends of the range are taken without it.
TEST(CApi, OpenRefusesLandaOutOfRange)
{
    const o1phi4::Table t = o1phi4::load_table(table_path("small"));
    const struct {
        double landa;
        o1_status status;
    } cases[] = {{-1.0, O1_ERR_ARGUMENT}, {NAN, O1_ERR_ARGUMENT},  {INFINITY, O1_ERR_ARGUMENT}, {1e301, O1_ERR_ARGUMENT},
                 {1e300, O1_ERR_TABLE},   {0.0, O1_ERR_TABLE},     {1.0, O1_OK}};
    o1phi4::SamplerOptions unchecked;
    unchecked.check = false;
    for (const auto &c : cases) {
        o1_sampler *s = reinterpret_cast<o1_sampler *>(&s);  // not null: a failed open must clear it
        EXPECT_EQ(o1_sampler_open(table_path("small").c_str(), c.landa, 1, &s, nullptr, 0), c.status) << c.landa;
        EXPECT_EQ(s == nullptr, c.status != O1_OK) << c.landa;
        o1_sampler_free(s);
        if (c.status == O1_ERR_ARGUMENT) {
            EXPECT_THROW(o1phi4::Sampler(t, c.landa, unchecked), o1phi4::TableError) << c.landa;
        } else {
            EXPECT_NO_THROW(o1phi4::Sampler(t, c.landa, unchecked)) << c.landa;
        }
    }
}

// A field index missing from the index table has its own status, for both
// signs of h, and the fallback draws there.
TEST(CApi, MissingFieldIndexHasItsOwnStatus)
{
    // h5 without the entry "60 29" (field values [2.4, 2.44)), counts adjusted.
    std::vector<std::string> l = split_lines(read_file(table_path("h5")));
    ASSERT_EQ(l[85], "60 29");
    l.erase(l.begin() + 85);
    ASSERT_EQ(l[24], "125");
    l[24] = "124";
    l[6] = "#define N_H_max                 129    // real H -> (int) -> value of H of histogram ";
    l[9] = "PARAMETER(Nd_poi=104,N_hist=48,N_O_m=129)";
    o1_sampler *s;
    char err[256];
    ASSERT_EQ(o1_sampler_open(write_scratch("gap.res", join_lines(l)).c_str(), 1.0, 3, &s, err, sizeof err), O1_OK) << err;
    for (double h : {2.42, -2.42}) {
        double x = 42;
        o1_status st = O1_OK;
        EXPECT_EQ(o1_sampler_draw(s, h, &x), O1_ERR_MISSING_INDEX) << h;
        EXPECT_EQ(o1_sampler_histogram(s, h, &st), -1) << h;
        EXPECT_EQ(st, O1_ERR_MISSING_INDEX) << h;
        EXPECT_EQ(x, 42) << h;
    }
    ASSERT_EQ(o1_sampler_set_fallback(s, 1), O1_OK);
    double x;
    EXPECT_EQ(o1_sampler_draw(s, 2.42, &x), O1_OK);
    EXPECT_EQ(o1_sampler_draw(s, 2.45, &x), O1_OK);
    EXPECT_EQ(o1_sampler_fallback_draws(s), 1u);
    o1_sampler_free(s);
}
