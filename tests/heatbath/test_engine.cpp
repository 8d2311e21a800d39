// The parts of the engine that keep the chain the same for any number of
// threads: the counter-based streams, the heat bath's batches of draws and
// its map of field values, the labelling of the Swendsen-Wang clusters and
// the exact sums of the measurements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "heatbath/heatbath.h"
#include "heatbath_test_support.h"
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
    // from a pair made beforehand goes on exactly where it would have.
    o1hb::CounterStream g(key, c);
    o1hb::Philox::ctr_type c1 = c;
    c1[0] = 1;
    const o1hb::Philox::ctr_type b0 = o1hb::Philox()(c, key), b1 = o1hb::Philox()(c1, key);
    auto pair = [](const o1hb::Philox::ctr_type &b, int i) { return std::uint64_t(b[i + 1]) << 32 | b[i]; };
    const std::uint64_t expected[] = {pair(b0, 0), pair(b0, 2), pair(b1, 0), pair(b1, 2)};
    for (std::uint64_t e : expected) EXPECT_EQ(g(), e);
    o1hb::CounterStream resumed(key, c, pair(b0, 0), pair(b0, 2));
    for (std::uint64_t e : expected) EXPECT_EQ(resumed(), e);

    // Batches of every length around the vector widths, of sites at steps 1
    // and 2 (wrapping) and of a list of scattered sites, at blocks 0 and 5:
    // the same pairs as Philox one block at a time.
    std::vector<std::uint32_t> scattered(80);
    for (std::size_t j = 0; j < scattered.size(); ++j) scattered[j] = static_cast<std::uint32_t>(j * j * 2654435761u);
    std::vector<std::uint64_t> first(scattered.size()), second(scattered.size());
    for (std::uint32_t block : {0u, 5u})
        for (std::uint32_t step : {0u, 1u, 2u})  // 0: the list
            for (std::size_t n = 0; n <= scattered.size(); ++n) {
                o1hb::Philox::ctr_type start = c;
                start[0] = block;
                start[1] = 0xfffffff0u;
                if (step == 0) o1hb::philox_pairs(key, start, scattered.data(), n, first.data(), second.data());
                else o1hb::philox_pairs(key, start, step, n, first.data(), second.data());
                for (std::size_t j = 0; j < n; ++j) {
                    o1hb::Philox::ctr_type cj = start;
                    cj[1] = step == 0 ? scattered[j] : start[1] + static_cast<std::uint32_t>(j) * step;
                    const o1hb::Philox::ctr_type b = o1hb::Philox()(cj, key);
                    EXPECT_TRUE(first[j] == pair(b, 0) && second[j] == pair(b, 2)) << "block " << block << " step " << step << " n " << n << " j " << j;
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

namespace {

// The checkerboard heat bath site by site: each site's value drawn by the
// sampler with the site's own stream, its field from the neighbour table in
// the order of neighbour_sum.  Returns the most proposals one draw made.
std::uint64_t sweep_site_by_site(const o1hb::Lattice &lat, double beta, const o1hb::HeatBathSampler &s,
                                 std::vector<double> &phi, const o1hb::SweepKey &k, o1hb::HeatBathStats &st)
{
    std::uint64_t most = 0;
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    for (int colour = 0; colour < 2; ++colour)
        for (long x = 0; x < lat.V; ++x) {
            int parity = 0;
            for (long y = x; y > 0; y /= lat.L) parity += static_cast<int>(y % lat.L);
            if ((parity & 1) != colour) continue;
            const std::int32_t *nb = lat.nb.data() + static_cast<std::size_t>(x) * n;
            double sum = phi[static_cast<std::size_t>(nb[1])] + phi[static_cast<std::size_t>(nb[0])];
            for (std::size_t mu = 1; mu < n / 2; ++mu)
                sum += phi[static_cast<std::size_t>(nb[2 * mu])] + phi[static_cast<std::size_t>(nb[2 * mu + 1])];
            const double h = beta * sum;
            st.max_abs_h = std::fmax(st.max_abs_h, std::fabs(h));
            o1hb::DrawStats one;
            o1hb::CounterStream g(k.key, o1hb::StreamKind::HeatBath, k.sweep, 0, static_cast<std::uint32_t>(x));
            phi[static_cast<std::size_t>(x)] = s.draw(h, g, one);
            st.draw.trials += one.trials;
            st.draw.fallback += one.fallback;
            most = std::max(most, one.trials);
        }
    st.draws += static_cast<std::uint64_t>(lat.V);
    return most;
}

}  // namespace

// The sweep draws a colour's sites in batches, proposal by proposal: every
// site must still get the value and the proposal count of the sampler's own
// draw with its stream, on any number of threads: with field values the
// table serves and the fallback's (the narrow table), rows shorter and
// longer than a batch, and draws that need more proposals than the rounds.
TEST(CheckerboardHeatBath, EverySiteGetsTheDrawOfItsOwnStream)
{
    const o1hb::HeatBathSampler sound = o1hb::make_heat_bath_sampler(o1phi4::parse_table(table_text(), "sound"), 1.1);
    const o1hb::HeatBathSampler narrow = o1hb::make_heat_bath_sampler(o1phi4::parse_table(narrow_table_text(), "narrow"), 1.1);
    struct Case {
        const char *name;
        const o1hb::HeatBathSampler &s;
        int d, L;
        double beta;
        int sweeps;
    };
    std::uint64_t most = 0;
    for (const Case &c : {Case{"d3 L6", sound, 3, 6, 0.3750966, 3}, Case{"d2 L10 fallback", narrow, 2, 10, 0.7, 3},
                          Case{"d2 L600 long rows", sound, 2, 600, 0.68, 1}}) {
        const o1hb::Lattice lat = o1hb::make_lattice(c.d, c.L);
        std::mt19937_64 rng(3);
        std::uniform_real_distribution<double> u(-1.5, 1.5);
        std::vector<double> start(static_cast<std::size_t>(lat.V));
        for (double &y : start) y = u(rng);
        std::vector<double> want = start;
        o1hb::HeatBathStats want_st;
        for (int t = 1; t <= c.sweeps; ++t)
            most = std::max(most, sweep_site_by_site(lat, c.beta, c.s, want, {o1hb::stream_key(9), std::uint64_t(t)}, want_st));
        for (int threads : THREADS) {
            std::vector<double> phi = start;
            o1hb::HeatBathStats st;
            for (int t = 1; t <= c.sweeps; ++t)
                o1hb::heat_bath_sweep(lat, c.beta, c.s, phi, {o1hb::stream_key(9), std::uint64_t(t)}, o1hb::Order::Checkerboard, threads, st);
            long differ = 0;
            for (std::size_t x = 0; x < phi.size(); ++x) differ += !same_bits(phi[x], want[x]);
            EXPECT_EQ(differ, 0) << c.name << " threads " << threads;
            EXPECT_EQ(st.draw.trials, want_st.draw.trials) << c.name << " threads " << threads;
            EXPECT_EQ(st.draw.fallback, want_st.draw.fallback) << c.name << " threads " << threads;
            EXPECT_EQ(st.draws, want_st.draws) << c.name << " threads " << threads;
            EXPECT_TRUE(same_bits(st.max_abs_h, want_st.max_abs_h)) << c.name << " threads " << threads;
        }
        if (c.s.H_max() < 5) {
            EXPECT_GT(want_st.draw.fallback, 0u) << c.name;
        }
    }
    EXPECT_GT(most, o1hb::HEAT_BATH_ROUNDS);
}

// The map of field values must give every proposal the decision of the
// sampler's own look-up: around every cell edge of the map and of the
// field-index map, and at random field values, on both sides of 0, for
// pieces on the tails and the steps and every top byte of the acceptance
// number (so a bound one off shows).
TEST(CheckerboardHeatBath, MappedLookUpsDecideAsTheSamplersOwn)
{
    std::mt19937_64 rng(17);
    for (const char *name : {"sound", "narrow"}) {
        const o1hb::HeatBathSampler s =
            o1hb::make_heat_bath_sampler(o1phi4::parse_table(name[0] == 's' ? table_text() : narrow_table_text(), name), 1.1);
        const o1phi4::Sampler &own = s;
        std::vector<double> edges;
        for (double q = 0; q <= (o1hb::MAP_REACH + 1) * o1hb::MAP_CELLS_PER_UNIT; ++q) edges.push_back(q / o1hb::MAP_CELLS_PER_UNIT);
        for (const o1phi4::FieldInterval &f : s.table().c_map)
            for (double q = 0; q * f.step < f.upper; ++q) edges.push_back(q * f.step);
        std::vector<double> hs;
        for (double e : edges) {
            double b = e;
            for (int i = 0; i < 2; ++i) b = std::nextafter(b, -INFINITY);
            for (int i = 0; i < 5; ++i, b = std::nextafter(b, INFINITY)) {
                hs.push_back(b);
                hs.push_back(-b);
            }
        }
        std::uniform_real_distribution<double> any(-o1hb::MAP_REACH - 1, o1hb::MAP_REACH + 1), within(0.1, 0.9);
        for (int i = 0; i < 2000; ++i) hs.push_back(any(rng));

        const int nd = s.nd_poi();
        long wrong = 0, checked = 0;
        for (double h : hs)
            for (int k : {0, std::uniform_int_distribution<int>(1, nd - 2)(rng), nd - 1}) {
                const std::uint64_t r0 = static_cast<std::uint64_t>(std::ldexp((k + within(rng)) / nd, 64));
                for (std::uint64_t top = 0; top < 256; ++top) {
                    const std::uint64_t r1 = top << 56 | (rng() >> 8);
                    double x = 0, y = 0, z = 0;
                    const o1phi4::Proposal want = own.propose(h, r0, r1, x), got = s.propose(h, r0, r1, y);
                    const o1phi4::Proposal quick = s.propose_by_bounds(h, r0, r1, z);
                    const bool same = got == want && (want != o1phi4::Proposal::Accepted || same_bits(x, y)) &&
                                      (quick == o1phi4::Proposal::Undecided ||
                                       (quick == want && (want != o1phi4::Proposal::Accepted || same_bits(x, z))));
                    if (!same && ++wrong <= 5) ADD_FAILURE() << name << " h " << hex(h) << " piece " << k << " top " << top;
                    ++checked;
                }
            }
        EXPECT_EQ(wrong, 0) << name << " of " << checked;
    }
}
