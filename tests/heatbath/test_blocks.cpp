// The engine on a lattice split into blocks, the processes played by
// threads that exchange halos and reduce through shared memory: the same
// samples, counters and final field as on the whole lattice, for grids along
// one and several directions.  It runs without MPI, under the sanitizers too.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "heatbath/heatbath.h"
#include "test_support.h"

namespace {

// What the threads of one split run share.
struct Shared {
    int grid[o1hb::MAX_DIM] = {1, 1, 1};
    int size = 1;
    std::vector<const o1hb::Lattice *> lat;
    std::vector<void *> data;                       // each block's array being exchanged
    std::vector<std::vector<unsigned char>> value;  // each block's operands of a reduction
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    long round = 0;

    void barrier()
    {
        std::unique_lock<std::mutex> lock(m);
        const long r = round;
        if (++arrived == size) {
            arrived = 0;
            ++round;
            cv.notify_all();
        } else {
            cv.wait(lock, [&] { return round != r; });
        }
    }
};

class ThreadTeam : public o1hb::Team {
public:
    ThreadTeam(Shared &s, int rank, const int coords[o1hb::MAX_DIM]) : s_(s), rank_(rank)
    {
        std::memcpy(coords_, coords, sizeof coords_);
    }
    int rank() const override { return rank_; }
    int size() const override { return s_.size; }
    void exchange(void *data, std::size_t size, int colour) override
    {
        const o1hb::Lattice &lat = *s_.lat[static_cast<std::size_t>(rank_)];
        s_.data[static_cast<std::size_t>(rank_)] = data;
        s_.barrier();
        unsigned char *to = static_cast<unsigned char *>(data);
        for (int mu = 1; mu < lat.d; ++mu)
            for (int side = 0; side < 2 && lat.halo[mu]; ++side) {
                // The halo below is the face above of the block below, and the other way round.
                const int q = neighbour(mu, side ? 1 : -1);
                const unsigned char *from = static_cast<const unsigned char *>(s_.data[static_cast<std::size_t>(q)]);
                for (int c = colour < 0 ? 0 : colour; c <= (colour < 0 ? 1 : colour); ++c) {
                    const std::vector<std::int32_t> &in = lat.halo_sites[mu][side][c];
                    const std::vector<std::int32_t> &out = s_.lat[static_cast<std::size_t>(q)]->face[mu][1 - side][c];
                    // (No ASSERT here: the other threads would wait at the barrier for ever.)
                    EXPECT_EQ(in.size(), out.size());
                    if (in.size() != out.size()) continue;
                    for (std::size_t i = 0; i < in.size(); ++i)
                        std::memcpy(to + static_cast<std::size_t>(in[i]) * size, from + static_cast<std::size_t>(out[i]) * size, size);
                }
            }
        s_.barrier();
    }
    void sum(__int128 *v, std::size_t n) override { reduce(v, n, [](__int128 &a, __int128 b) { a += b; }); }
    void sum(std::uint64_t *v, std::size_t n) override { reduce(v, n, [](std::uint64_t &a, std::uint64_t b) { a += b; }); }
    void max(double *v, std::size_t n) override { reduce(v, n, [](double &a, double b) { a = b > a ? b : a; }); }
    bool any(bool b) override
    {
        int v = b;
        reduce(&v, 1, [](int &a, int x) { a |= x; });
        return v != 0;
    }

private:
    int neighbour(int mu, int step) const
    {
        int c[o1hb::MAX_DIM];
        std::memcpy(c, coords_, sizeof c);
        c[mu] = (c[mu] + step + s_.grid[mu]) % s_.grid[mu];
        return (c[0] * s_.grid[1] + c[1]) * s_.grid[2] + c[2];
    }
    template <class T, class Op>
    void reduce(T *v, std::size_t n, Op op)
    {
        std::vector<unsigned char> &mine = s_.value[static_cast<std::size_t>(rank_)];
        mine.assign(reinterpret_cast<unsigned char *>(v), reinterpret_cast<unsigned char *>(v + n));
        s_.barrier();
        std::vector<T> total(n);
        std::memcpy(total.data(), s_.value[0].data(), n * sizeof(T));
        for (int q = 1; q < s_.size; ++q)
            for (std::size_t i = 0; i < n; ++i) {
                T x;
                std::memcpy(&x, s_.value[static_cast<std::size_t>(q)].data() + i * sizeof(T), sizeof(T));
                op(total[i], x);
            }
        s_.barrier();
        std::memcpy(v, total.data(), n * sizeof(T));
    }

    Shared &s_;
    int rank_;
    int coords_[o1hb::MAX_DIM];
};

bool same_bits(const void *a, const void *b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

}  // namespace

TEST(Blocks, SplitLatticeRunsTheSameChain)
{
    const o1hb::HeatBathSampler sampler = o1hb::make_heat_bath_sampler(o1phi4::load_table(O1_HEATBATH_TABLE), 1.1);
    struct Case {
        int d, L;
        int grid[o1hb::MAX_DIM];
        o1hb::Update update;
        int sw;
        double beta;
    };
    for (const Case &c : {
             Case{2, 12, {1, 3, 1}, o1hb::Update::HeatBath, 0, 0.45},
             Case{2, 8, {1, 4, 1}, o1hb::Update::Metropolis, 2, 0.6},  // blocks two rows thin, clusters across all
             Case{3, 8, {1, 2, 2}, o1hb::Update::HeatBath, 1, 0.375},
             Case{3, 8, {1, 1, 4}, o1hb::Update::Metropolis, 1, 0.45},
             Case{3, 6, {1, 3, 1}, o1hb::Update::HeatBath, 1, 0.3},
         }) {
        SCOPED_TRACE("d=" + std::to_string(c.d) + " L=" + std::to_string(c.L) + " grid 1x" + std::to_string(c.grid[1]) + "x" +
                     std::to_string(c.grid[2]) + " sw=" + std::to_string(c.sw));
        o1hb::RunParameters p;
        p.d = c.d;
        p.L = c.L;
        p.beta = c.beta;
        p.landa = 1.1;
        p.therm = 15;
        p.sweeps = 25;
        p.seed = 11;
        p.update = c.update;
        p.sw = c.sw;
        p.threads = 2;
        std::vector<o1hb::Sample> whole;
        const o1hb::RunResult one = o1hb::simulate(p, &sampler, [&](const o1hb::ChainState &, const o1hb::Sample *s) {
            if (s) whole.push_back(*s);
            return true;
        });

        Shared s;
        s.size = c.grid[1] * c.grid[2];
        std::memcpy(s.grid, c.grid, sizeof s.grid);
        s.lat.resize(static_cast<std::size_t>(s.size));
        s.data.resize(static_cast<std::size_t>(s.size));
        s.value.resize(static_cast<std::size_t>(s.size));
        std::vector<o1hb::Lattice> blocks(static_cast<std::size_t>(s.size));
        std::vector<o1hb::RunResult> results(static_cast<std::size_t>(s.size));
        std::vector<std::vector<o1hb::Sample>> samples(static_cast<std::size_t>(s.size));
        std::vector<std::thread> team;
        for (int q = 0; q < s.size; ++q) {
            const int coords[o1hb::MAX_DIM] = {0, q / c.grid[2], q % c.grid[2]};
            blocks[static_cast<std::size_t>(q)] = o1hb::make_block(c.d, c.L, c.grid, coords);
            s.lat[static_cast<std::size_t>(q)] = &blocks[static_cast<std::size_t>(q)];
        }
        for (int q = 0; q < s.size; ++q)
            team.emplace_back([&, q] {
                const int coords[o1hb::MAX_DIM] = {0, q / c.grid[2], q % c.grid[2]};
                ThreadTeam t(s, q, coords);
                o1hb::Lattice &lat = blocks[static_cast<std::size_t>(q)];
                lat.team = &t;
                o1hb::RunParameters pq = p;
                pq.threads = 1 + q % 2;  // threads within a block do not matter either
                results[static_cast<std::size_t>(q)] =
                    o1hb::simulate(pq, &sampler, o1hb::start_state(pq, o1hb::Start::Hot, lat),
                                   [&](const o1hb::ChainState &, const o1hb::Sample *x) {
                                       if (x) samples[static_cast<std::size_t>(q)].push_back(*x);
                                       return true;
                                   }, lat);
            });
        for (std::thread &t : team) t.join();

        std::vector<double> phi(static_cast<std::size_t>(one.phi.size()));
        for (int q = 0; q < s.size; ++q) {
            const o1hb::RunResult &r = results[static_cast<std::size_t>(q)];
            EXPECT_EQ(samples[static_cast<std::size_t>(q)].size(), whole.size());
            EXPECT_TRUE(same_bits(samples[static_cast<std::size_t>(q)].data(), whole.data(), whole.size() * sizeof(o1hb::Sample)))
                << "block " << q << ": the samples differ";
            EXPECT_EQ(r.heat_bath.draws, one.heat_bath.draws);
            EXPECT_EQ(r.heat_bath.draw.trials, one.heat_bath.draw.trials);
            EXPECT_EQ(r.heat_bath.max_abs_h, one.heat_bath.max_abs_h);
            EXPECT_EQ(r.metropolis.accepted, one.metropolis.accepted);
            EXPECT_EQ(r.step, one.step);
            EXPECT_EQ(r.sw.clusters, one.sw.clusters);
            const std::vector<double> rows = o1hb::block_rows(blocks[static_cast<std::size_t>(q)], r.phi);
            o1hb::place_rows(blocks[static_cast<std::size_t>(q)], rows.data(), phi);
        }
        EXPECT_TRUE(same_bits(phi.data(), one.phi.data(), phi.size() * sizeof(double))) << "the final fields differ";
    }
}

TEST(Blocks, GridsThatDoNotSplitTheLatticeAreRefused)
{
    const int at[o1hb::MAX_DIM] = {0, 0, 0};
    struct Case {
        int d, L;
        int grid[o1hb::MAX_DIM];
        const char *message;
    };
    for (const Case &c : {Case{3, 8, {2, 1, 1}, "must not split direction 0"},
                          Case{3, 8, {1, 3, 1}, "a process grid of 3 along direction 1 does not split L = 8"},
                          Case{2, 8, {1, 8, 1}, "into equal blocks at least 2 wide"},
                          Case{3, 512, {1, 1, 2}, "a block of 67108864 sites is larger than the limit"}}) {
        try {
            o1hb::make_block(c.d, c.L, c.grid, at);
            ADD_FAILURE() << c.message << ": not refused";
        } catch (const std::invalid_argument &e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    const int grid[o1hb::MAX_DIM] = {1, 4, 8};
    EXPECT_NO_THROW(o1hb::make_block(3, 512, grid, at));  // L = 512 over 32 processes
}
