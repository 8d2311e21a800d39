// The random numbers of the simulation: counter-based, so that every number
// is a function of where it is used and not of who uses it first.
//
// Philox4x32-10 maps a 128-bit counter and a 64-bit key to 128 random bits.
// The key is the run's seed; the counter names the use:
//
//     word 0   the block: 0, 1, 2, ... within one stream (four words each)
//     word 1   the site number x (for the flips of Swendsen-Wang clusters,
//              the group of FLIP_SITES sites that holds the cluster's smallest)
//     word 2   the sweep number t, bits 0..31
//     word 3   bits  0..7   the sweep number t, bits 32..39
//              bits  8..23  the sub-index: which update of its kind within the sweep
//              bits 24..31  the kind of update (StreamKind)
//
// A stream is the sequence of blocks of one (kind, t, sub, x); it hands out
// 64-bit numbers, two per block.  So the numbers a site's update uses do not
// depend on the order in which sites are updated nor on the thread that
// updates them, and the whole chain depends on the seed alone.
//
// Limits, all refused rather than folded (a folded counter would repeat a
// stream): sweep numbers from 0 to MAX_SWEEP (check_parameters refuses longer
// runs), sub-indices up to MAX_SUB (more updates of one kind per sweep are
// refused), site numbers below 2^32 (MAX_SITES is far below), and 2^32 blocks
// per stream (a stream that would need more throws; the sampler gives up long
// before).
#pragma once

#include <Random123/philox.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace o1hb {

using Philox = r123::Philox4x32;

// What a stream is used for (bits 24..31 of counter word 3).
enum class StreamKind : std::uint32_t {
    Start = 1,        // the start configuration (sweep 0)
    HeatBath = 2,     // a site's heat-bath draw
    Metropolis = 3,   // a site's Metropolis proposals and acceptances
    SwBond = 4,       // the links x -> x + mu of a Swendsen-Wang update
    SwFlip = 5,       // the flips of the Swendsen-Wang clusters, by their smallest sites
    ClusterSeed = 6,  // the seed site of a single-cluster update (site 0)
    ClusterLink = 7,  // the links out of a site of a single cluster
};

// Largest sweep number: 40 bits of the counter.
constexpr std::uint64_t MAX_SWEEP = (std::uint64_t(1) << 40) - 1;
// Largest sub-index: 16 bits of the counter.
constexpr std::uint32_t MAX_SUB = (std::uint32_t(1) << 16) - 1;

// The key of a run: the 64-bit seed.
inline Philox::key_type stream_key(std::uint64_t seed)
{
    return Philox::key_type{{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)}};
}

// The counter of block 0 of a stream.  Arguments within the limits above
// (unchecked here).
inline Philox::ctr_type stream_counter(StreamKind kind, std::uint64_t sweep, std::uint32_t sub, std::uint32_t site)
{
    const std::uint32_t w3 = static_cast<std::uint32_t>(sweep >> 32) | sub << 8 | static_cast<std::uint32_t>(kind) << 24;
    return Philox::ctr_type{{0, site, static_cast<std::uint32_t>(sweep), w3}};
}

// One stream as a UniformRandomBitGenerator of 64-bit numbers: the sampler's
// draw takes it as it takes any generator.  Block b gives the numbers
// 2b (words 1:0) and 2b + 1 (words 3:2).
class CounterStream {
public:
    using result_type = std::uint64_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return ~result_type(0); }

    CounterStream(const Philox::key_type &key, const Philox::ctr_type &counter) : key_(key), ctr_(counter) {}
    CounterStream(const Philox::key_type &key, StreamKind kind, std::uint64_t sweep, std::uint32_t sub, std::uint32_t site)
        : CounterStream(key, stream_counter(kind, sweep, sub, site))
    {
    }
    // The stream at the block counter[0], whose two numbers first and
    // second have been made already (by philox_pairs): they come next.
    CounterStream(const Philox::key_type &key, const Philox::ctr_type &counter, std::uint64_t first, std::uint64_t second)
        : key_(key), ctr_(counter), pair_{first, second}, left_(2)
    {
        if (++ctr_[0] == 0) spent_ = true;
    }

    result_type operator()()
    {
        if (left_ == 0) {
            // The block counter would wrap to 0 and repeat the stream.
            if (spent_) exhausted();
            const Philox::ctr_type b = Philox()(ctr_, key_);
            pair_[0] = std::uint64_t(b[1]) << 32 | b[0];
            pair_[1] = std::uint64_t(b[3]) << 32 | b[2];
            if (++ctr_[0] == 0) spent_ = true;
            left_ = 2;
        }
        return --left_ ? pair_[0] : pair_[1];
    }

private:
    [[noreturn]] static void exhausted() { throw std::runtime_error("a random stream ran past its 2^32 blocks"); }

    Philox::key_type key_;
    Philox::ctr_type ctr_;         // the next block to make
    std::uint64_t pair_[2] = {};   // the numbers of the last block made
    int left_ = 0;                 // numbers of pair_ not handed out yet
    bool spent_ = false;           // the last block of the stream has been made
};

// The block counter[0] of n streams at once, stream j being the one of
// counter with word 1 set to site[j]: its numbers 2b and 2b + 1 (words 1:0
// and 3:2 of the block) into first[j] and second[j].  The same bits as
// Philox itself, computed several streams at a time with the vector
// instructions the processor has.
void philox_pairs(const Philox::key_type &key, const Philox::ctr_type &counter, const std::uint32_t *site, std::size_t n,
                  std::uint64_t *first, std::uint64_t *second);
// The same for the sites counter[1] + j step (modulo 2^32; the caller keeps
// site numbers in range), j = 0 .. n - 1.
void philox_pairs(const Philox::key_type &key, const Philox::ctr_type &counter, std::uint32_t step, std::size_t n,
                  std::uint64_t *first, std::uint64_t *second);

// Uniform double in [0, 1) from the top 53 bits of a 64-bit number.
inline double unit_interval(std::uint64_t r) { return static_cast<double>(r >> 11) * 0x1.0p-53; }

}  // namespace o1hb
