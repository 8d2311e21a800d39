// The parts of the engine that keep the chain the same for any number of
// threads: the counter-based streams, the labelling of the Swendsen-Wang
// clusters and the exact sums of the measurements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "heatbath/heatbath.h"
#include "test_support.h"

namespace {

// Thread counts that split the test lattices into blocks of unequal sizes.
constexpr int THREADS[] = {1, 2, 3};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(CounterStreams, PhiloxKnownAnswersCounterLayoutAndBatches)
{
    // The published known answers of Philox4x32-10: the streams of a stored
    // run stay reproducible only with exactly this function.
    struct Kat {
        o1hb::Philox::ctr_type c;
        o1hb::Philox::key_type k;
        o1hb::Philox::ctr_type out;
    };
    for (const Kat &t : {Kat{{{0, 0, 0, 0}}, {{0, 0}}, {{0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}}},
                         Kat{{{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff}}, {{0xffffffff, 0xffffffff}},
                             {{0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}}},
                         Kat{{{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}}, {{0xa4093822, 0x299f31d0}},
                             {{0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}}}})
        EXPECT_TRUE(o1hb::Philox()(t.c, t.k) == t.out);

    // The counter: block, site, sweep bits 0..31, then sweep bits 32..39, sub, kind.
    const o1hb::Philox::ctr_type c = o1hb::stream_counter(o1hb::StreamKind::SwFlip, 0xab12345678ULL, 0x4321, 0xdeadbeef);
    EXPECT_TRUE(c == (o1hb::Philox::ctr_type{{0, 0xdeadbeef, 0x12345678, 0x054321ab}}));
    const o1hb::Philox::key_type key = o1hb::stream_key(0x0123456789abcdefULL);
    EXPECT_TRUE(key == (o1hb::Philox::key_type{{0x89abcdef, 0x01234567}}));

    // A stream hands out its blocks' words, low pair first; one that starts
    // from a block made beforehand goes on exactly where it would have.
    o1hb::CounterStream g(key, c);
    o1hb::Philox::ctr_type c1 = c;
    c1[0] = 1;
    const o1hb::Philox::ctr_type b0 = o1hb::Philox()(c, key), b1 = o1hb::Philox()(c1, key);
    auto pair = [](const o1hb::Philox::ctr_type &b, int i) { return std::uint64_t(b[i + 1]) << 32 | b[i]; };
    const std::uint64_t expected[] = {pair(b0, 0), pair(b0, 2), pair(b1, 0), pair(b1, 2)};
    for (std::uint64_t e : expected) EXPECT_EQ(g(), e);
    o1hb::CounterStream resumed(key, c, b0);
    for (std::uint64_t e : expected) EXPECT_EQ(resumed(), e);

    // Batches of every length around the vector widths, at steps 1 and 2,
    // with site numbers that wrap: the same blocks as one at a time.
    std::vector<o1hb::Philox::ctr_type> out(40);
    for (std::uint32_t step : {1u, 2u})
        for (std::size_t n = 0; n <= out.size(); ++n) {
            o1hb::Philox::ctr_type start = c;
            start[1] = 0xfffffff0u;
            o1hb::philox_first_blocks(key, start, step, n, out.data());
            for (std::size_t j = 0; j < n; ++j) {
                o1hb::Philox::ctr_type cj = start;
                cj[1] += static_cast<std::uint32_t>(j) * step;
                EXPECT_TRUE(out[j] == o1hb::Philox()(cj, key)) << "step " << step << " n " << n << " j " << j;
            }
        }

    // The last block of a stream is its last: no wrap to block 0.
    o1hb::Philox::ctr_type last = c;
    last[0] = 0xffffffffu;
    o1hb::CounterStream end(key, last);
    end();
    end();
    EXPECT_THROW(end(), std::runtime_error);
}

TEST(SwendsenWang, ClustersAreLabelledByTheirSmallestSiteOnAnyThreadCount)
{
    // Random frozen links at several densities (few and large clusters,
    // clusters that wrap around the lattice), labelled against a plain
    // search of each cluster.
    struct Case {
        int d, L;
        double density;
    };
    std::mt19937_64 rng(7);
    for (const Case &c : {Case{2, 6, 0.3}, Case{2, 6, 0.7}, Case{3, 4, 0.2}, Case{3, 6, 0.45}, Case{3, 6, 0.9}}) {
        const o1hb::Lattice lat = o1hb::make_lattice(c.d, c.L);
        std::vector<unsigned char> bonds(static_cast<std::size_t>(lat.V));
        std::bernoulli_distribution frozen(c.density);
        for (unsigned char &b : bonds)
            for (int mu = 0; mu < c.d; ++mu) b = static_cast<unsigned char>(b | frozen(rng) << mu);
        // The expected labels: flood each cluster from its smallest site.
        std::vector<std::int32_t> expected(static_cast<std::size_t>(lat.V), -1), stack;
        auto linked = [&](long x, long y, int mu) { return bonds[static_cast<std::size_t>(x)] >> mu & 1 && lat.nb[static_cast<std::size_t>(x * 2 * c.d + 2 * mu)] == y; };
        for (long s = 0; s < lat.V; ++s) {
            if (expected[static_cast<std::size_t>(s)] >= 0) continue;
            expected[static_cast<std::size_t>(s)] = static_cast<std::int32_t>(s);
            stack.assign(1, static_cast<std::int32_t>(s));
            while (!stack.empty()) {
                const long x = stack.back();
                stack.pop_back();
                for (int mu = 0; mu < c.d; ++mu)
                    for (int dir = 0; dir < 2; ++dir) {
                        const long y = lat.nb[static_cast<std::size_t>(x * 2 * c.d + 2 * mu + dir)];
                        if (expected[static_cast<std::size_t>(y)] >= 0 || !(dir == 0 ? linked(x, y, mu) : linked(y, x, mu))) continue;
                        expected[static_cast<std::size_t>(y)] = static_cast<std::int32_t>(s);
                        stack.push_back(static_cast<std::int32_t>(y));
                    }
            }
        }
        for (int t : THREADS)
            EXPECT_EQ(o1hb::label_clusters(lat, bonds, t), expected) << "d " << c.d << " L " << c.L << " density " << c.density
                                                                     << " threads " << t;
    }
}

TEST(Measurement, SumsAreExactAndTheSameForAnyThreadCount)
{
    struct Case {
        const char *name;
        int d, L;
        double scale;  // field values uniform in [-scale, scale]
    };
    std::mt19937_64 rng(11);
    for (const Case &c : {Case{"d2 order one", 2, 8, 1.5}, Case{"d3 order one", 3, 6, 1.5}, Case{"d3 tiny", 3, 4, 1e-30},
                          Case{"d3 huge", 3, 4, 1e30}}) {
        const o1hb::Lattice lat = o1hb::make_lattice(c.d, c.L);
        std::vector<double> phi(static_cast<std::size_t>(lat.V));
        std::uniform_real_distribution<double> u(-c.scale, c.scale);
        for (double &y : phi) y = u(rng);
        const o1hb::Sample s = o1hb::measure(lat, phi, 1);
        for (int t : THREADS) {
            const o1hb::Sample st = o1hb::measure(lat, phi, t);
            for (auto field : {&o1hb::Sample::m, &o1hb::Sample::phi2, &o1hb::Sample::energy, &o1hb::Sample::potential, &o1hb::Sample::F})
                EXPECT_TRUE(same_bits(st.*field, s.*field)) << c.name << " threads " << t << ": " << hex(st.*field) << " vs " << hex(s.*field);
        }
        // Against the definitions, summed in long double.
        long double m = 0, phi2 = 0, link = 0, pot = 0, F = 0;
        for (long x = 0; x < lat.V; ++x) {
            const long double y = phi[static_cast<std::size_t>(x)];
            m += y;
            phi2 += y * y;
            pot += (y * y - 1) * (y * y - 1);
            for (int mu = 0; mu < c.d; ++mu) link += y * phi[static_cast<std::size_t>(lat.nb[static_cast<std::size_t>(x * 2 * c.d + 2 * mu)])];
        }
        for (int mu = 0, stride = 1; mu < c.d; ++mu, stride *= c.L) {
            long double re = 0, im = 0;
            for (long x = 0; x < lat.V; ++x) {
                const long double a = 2 * 3.14159265358979323846264338327950288L * ((x / stride) % c.L) / c.L;
                re += phi[static_cast<std::size_t>(x)] * std::cos(a);
                im += phi[static_cast<std::size_t>(x)] * std::sin(a);
            }
            F += re * re + im * im;
        }
        const long double V = static_cast<long double>(lat.V);
        // Rounding: the terms keep 62 bits of the largest, F's phases 53.
        auto near = [&](double got, long double want, long double size) {
            return std::fabs(static_cast<long double>(got) - want) <= 1e-14L * size;
        };
        const long double big = c.scale * c.scale;
        EXPECT_TRUE(near(s.m, m / V, c.scale)) << c.name << " m";
        EXPECT_TRUE(near(s.phi2, phi2 / V, big)) << c.name << " phi2";
        EXPECT_TRUE(near(s.energy, link / V, c.d * big)) << c.name << " energy";
        EXPECT_TRUE(near(s.potential, pot / V, (big + 1) * (big + 1))) << c.name << " potential";
        EXPECT_TRUE(near(s.F, F / (c.d * V), V * big)) << c.name << " F";
    }

    // A diverged field stops the measurement instead of filling the series.
    const o1hb::Lattice lat = o1hb::make_lattice(2, 4);
    for (double bad : {std::numeric_limits<double>::infinity(), std::nan(""), 1e300}) {
        std::vector<double> phi(static_cast<std::size_t>(lat.V), 0.5);
        phi[5] = bad;
        for (int t : THREADS) EXPECT_THROW(o1hb::measure(lat, phi, t), std::runtime_error) << bad;
    }
}
