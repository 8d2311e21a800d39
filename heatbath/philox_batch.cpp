// Block 0 of many streams at once.  Philox4x32-10 is ten rounds of
//     (x0, x1, x2, x3) -> (hi(M1 x2) ^ x1 ^ k0, lo(M1 x2), hi(M0 x0) ^ x3 ^ k1, lo(M0 x0))
// with the key (k0, k1) increased by (W0, W1) after each round.  Where the
// processor has AVX2, each stream's words sit in the low halves of 64-bit
// lanes of vector registers, where one instruction multiplies the low halves
// of four lanes to 64 bits (the high halves collect bits no result reads):
// about 1.5 times as fast as one stream at a time.  Elsewhere Philox itself.
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "heatbath/random.h"

namespace o1hb {

namespace {

constexpr std::uint32_t M0 = 0xD2511F53, M1 = 0xCD9E8D57;  // the multipliers
constexpr std::uint32_t W0 = 0x9E3779B9, W1 = 0xBB67AE85;  // the key increments
constexpr int ROUNDS = 10;

void scalar_blocks(const Philox::key_type &key, Philox::ctr_type c, std::uint32_t step, std::size_t n, Philox::ctr_type *out)
{
    for (std::size_t j = 0; j < n; ++j, c[1] += step) out[j] = Philox()(c, key);
}

#if defined(__x86_64__)

// The lanes of the vector registers of AVX2: four 64-bit lanes.
#define O1_AVX2 __attribute__((target("avx2")))
using Lanes = __m256i;
constexpr int LANES = 4;
O1_AVX2 inline Lanes set(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
O1_AVX2 inline Lanes mul(Lanes a, Lanes b) { return _mm256_mul_epu32(a, b); }  // low halves to 64 bits
O1_AVX2 inline Lanes high(Lanes a) { return _mm256_srli_epi64(a, 32); }
O1_AVX2 inline Lanes eor(Lanes a, Lanes b) { return _mm256_xor_si256(a, b); }

// G registers at a time, so that the multiplications of independent lanes
// overlap (more would not fit in the 16 registers).
constexpr int G = 3;
constexpr int W = G * LANES;

// The blocks of all n streams, W at a time (the last group may have lanes
// whose results are not kept).
O1_AVX2 void avx2_blocks(const Philox::key_type &key, const Philox::ctr_type &c, std::uint32_t step, std::size_t n,
                         Philox::ctr_type *out)
{
    const Lanes m0 = set(M0), m1 = set(M1);
    for (std::size_t done = 0; done < n; done += W) {
        alignas(32) std::uint64_t site[W];
        for (std::size_t j = 0; j < W; ++j) site[j] = static_cast<std::uint32_t>(c[1] + static_cast<std::uint32_t>(done + j) * step);
        Lanes x0[G], x1[G], x2[G], x3[G];
        for (int g = 0; g < G; ++g) {
            x0[g] = set(c[0]);
            x1[g] = _mm256_load_si256(reinterpret_cast<const Lanes *>(site + g * LANES));
            x2[g] = set(c[2]);
            x3[g] = set(c[3]);
        }
        std::uint32_t k0 = key[0], k1 = key[1];
        for (int r = 0; r < ROUNDS; ++r) {
            const Lanes a = set(k0), b = set(k1);
            for (int g = 0; g < G; ++g) {
                const Lanes p0 = mul(x0[g], m0), p1 = mul(x2[g], m1);
                x0[g] = eor(eor(high(p1), x1[g]), a);
                x1[g] = p1;
                x2[g] = eor(eor(high(p0), x3[g]), b);
                x3[g] = p0;
            }
            k0 += W0;
            k1 += W1;
        }
        // Each block's four words side by side, stored 16 bytes at a time
        // (the reader loads them so; four narrower stores would stall it).
        alignas(32) Philox::ctr_type blocks[W];
        for (int g = 0; g < G; ++g) {
            const Lanes low = set(0xffffffffu);
            const Lanes w01 = _mm256_or_si256(_mm256_and_si256(x0[g], low), _mm256_slli_epi64(x1[g], 32));  // words 1:0
            const Lanes w23 = _mm256_or_si256(_mm256_and_si256(x2[g], low), _mm256_slli_epi64(x3[g], 32));  // words 3:2
            const Lanes even = _mm256_unpacklo_epi64(w01, w23), odd = _mm256_unpackhi_epi64(w01, w23);  // lanes 0, 2 and 1, 3
            _mm256_store_si256(reinterpret_cast<Lanes *>(blocks + g * LANES), _mm256_permute2x128_si256(even, odd, 0x20));
            _mm256_store_si256(reinterpret_cast<Lanes *>(blocks + g * LANES + 2), _mm256_permute2x128_si256(even, odd, 0x31));
        }
        const std::size_t kept = n - done < W ? n - done : W;
        for (std::size_t j = 0; j < kept; ++j) out[done + j] = blocks[j];
    }
}

bool have_avx2()
{
    static const bool avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return avx2;
}

#endif

}  // namespace

void philox_first_blocks(const Philox::key_type &key, const Philox::ctr_type &counter, std::uint32_t step, std::size_t n,
                         Philox::ctr_type *out)
{
#if defined(__x86_64__)
    if (have_avx2()) {
        avx2_blocks(key, counter, step, n, out);
        return;
    }
#endif
    scalar_blocks(key, counter, step, n, out);
}

}  // namespace o1hb
