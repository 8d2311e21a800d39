// The blocks of many streams at once.  Philox4x32-10 is ten rounds of
//     (x0, x1, x2, x3) -> (hi(M1 x2) ^ x1 ^ k0, lo(M1 x2), hi(M0 x0) ^ x3 ^ k1, lo(M0 x0))
// with the key (k0, k1) increased by (W0, W1) after each round.  Where the
// processor has AVX-512 or AVX2, the rounds run on several streams at once
// in the lanes of vector registers (philox_lanes.h); elsewhere Philox
// itself.
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

// Sites per call of the list kernel when they are made from a step.
constexpr std::size_t STEP_BATCH = 96;

void scalar_pairs(const Philox::key_type &key, Philox::ctr_type c, const std::uint32_t *site, std::size_t n, std::uint64_t *first,
                  std::uint64_t *second)
{
    for (std::size_t j = 0; j < n; ++j) {
        c[1] = site[j];
        const Philox::ctr_type b = Philox()(c, key);
        first[j] = std::uint64_t(b[1]) << 32 | b[0];
        second[j] = std::uint64_t(b[3]) << 32 | b[2];
    }
}

#if defined(__x86_64__)

// AVX2: four 64-bit lanes, 16 registers.
namespace avx2 {
#define O1_LANES_TARGET __attribute__((target("avx2")))
using Lanes = __m256i;
constexpr int LANES = 4;
constexpr int G = 3;
O1_LANES_TARGET inline Lanes set(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
O1_LANES_TARGET inline Lanes mul(Lanes a, Lanes b) { return _mm256_mul_epu32(a, b); }
O1_LANES_TARGET inline Lanes high(Lanes a) { return _mm256_srli_epi64(a, 32); }
O1_LANES_TARGET inline Lanes eor3(Lanes a, Lanes b, Lanes c) { return _mm256_xor_si256(_mm256_xor_si256(a, b), c); }
O1_LANES_TARGET inline Lanes widen(const std::uint32_t *p) { return _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))); }
// The low halves of lo and hi as the low and high halves of each lane.
O1_LANES_TARGET inline Lanes join(Lanes lo, Lanes hi) { return _mm256_blend_epi32(lo, _mm256_slli_epi64(hi, 32), 0xaa); }
O1_LANES_TARGET inline void store(std::uint64_t *p, Lanes v) { _mm256_storeu_si256(reinterpret_cast<Lanes *>(p), v); }
#include "heatbath/philox_lanes.h"
#undef O1_LANES_TARGET
}  // namespace avx2

// AVX-512: eight 64-bit lanes, 32 registers, a three-way exclusive or.
// About three times as fast as AVX2 where the processor runs it at full
// width.  (The zero-masked forms with every lane set are the same
// instructions; the plain ones make g++ 12 warn of an uninitialised
// variable inside its own header.)
namespace avx512 {
#define O1_LANES_TARGET __attribute__((target("avx512f")))
using Lanes = __m512i;
constexpr int LANES = 8;
constexpr int G = 4;
constexpr __mmask8 ALL = 0xff;
O1_LANES_TARGET inline Lanes set(std::uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }
O1_LANES_TARGET inline Lanes mul(Lanes a, Lanes b) { return _mm512_maskz_mul_epu32(ALL, a, b); }
O1_LANES_TARGET inline Lanes high(Lanes a) { return _mm512_maskz_srli_epi64(ALL, a, 32); }
O1_LANES_TARGET inline Lanes eor3(Lanes a, Lanes b, Lanes c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
O1_LANES_TARGET inline Lanes widen(const std::uint32_t *p)
{
    return _mm512_maskz_cvtepu32_epi64(ALL, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
}
O1_LANES_TARGET inline Lanes join(Lanes lo, Lanes hi) { return _mm512_mask_blend_epi32(0xaaaa, lo, _mm512_maskz_slli_epi64(ALL, hi, 32)); }
O1_LANES_TARGET inline void store(std::uint64_t *p, Lanes v) { _mm512_storeu_si512(p, v); }
#include "heatbath/philox_lanes.h"
#undef O1_LANES_TARGET
}  // namespace avx512

// The widest of them the processor has (2), else 0.
int vector_width()
{
    static const int width = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0);
    return width;
}

#endif

}  // namespace

void philox_pairs(const Philox::key_type &key, const Philox::ctr_type &counter, const std::uint32_t *site, std::size_t n,
                  std::uint64_t *first, std::uint64_t *second)
{
#if defined(__x86_64__)
    switch (vector_width()) {
    case 2:
        avx512::pairs(key, counter, site, n, first, second);
        return;
    case 1:
        avx2::pairs(key, counter, site, n, first, second);
        return;
    }
#endif
    scalar_pairs(key, counter, site, n, first, second);
}

void philox_pairs(const Philox::key_type &key, const Philox::ctr_type &counter, std::uint32_t step, std::size_t n,
                  std::uint64_t *first, std::uint64_t *second)
{
    std::uint32_t site[STEP_BATCH];
    for (std::size_t done = 0; done < n; done += STEP_BATCH) {
        const std::size_t m = n - done < STEP_BATCH ? n - done : STEP_BATCH;
        for (std::size_t j = 0; j < m; ++j) site[j] = counter[1] + static_cast<std::uint32_t>(done + j) * step;
        philox_pairs(key, counter, site, m, first + done, second + done);
    }
}

}  // namespace o1hb
