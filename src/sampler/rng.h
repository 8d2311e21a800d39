// The random numbers of the sampler: the generator of the C interface,
// usable from C++ as a UniformRandomBitGenerator, and the uniform bits and
// doubles a draw takes from any such generator.  Standard C++ only;
// installed beside sampler.h, which includes it.
#pragma once

#include <cstdint>
#include <random>

namespace o1phi4 {

// xoshiro256** with splitmix64 seeding: the generator of the C interface,
// usable from C++ as a UniformRandomBitGenerator.
class Xoshiro256ss {
public:
    using result_type = std::uint64_t;
    explicit Xoshiro256ss(std::uint64_t seed = 1) { this->seed(seed); }
    void seed(std::uint64_t seed);
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return ~result_type(0); }
    result_type operator()()
    {
        const std::uint64_t r = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return r;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
};

namespace detail {

// 64 uniform bits from any UniformRandomBitGenerator.
template <class URBG>
std::uint64_t bits64(URBG &g)
{
    constexpr std::uint64_t lo = static_cast<std::uint64_t>(URBG::min());
    constexpr std::uint64_t hi = static_cast<std::uint64_t>(URBG::max());
    if constexpr (lo == 0 && hi == ~std::uint64_t(0)) {
        return static_cast<std::uint64_t>(g());
    } else if constexpr (lo == 0 && hi == 0xffffffffu) {
        const std::uint64_t a = static_cast<std::uint64_t>(g());
        return (a << 32) | static_cast<std::uint64_t>(g());
    } else {
        std::uniform_int_distribution<std::uint64_t> d;
        return d(g);
    }
}

// Uniform double in [0, 1) from the top 53 bits.
inline double unit(std::uint64_t r) { return static_cast<double>(r >> 11) * 0x1.0p-53; }

}  // namespace detail
}  // namespace o1phi4
