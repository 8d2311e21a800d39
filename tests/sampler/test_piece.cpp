// The draw's choice of a piece and of the point within it, floor(n*r/2^64)
// and the low word of n*r from 64-bit products, against the compiler's
// 128-bit product: the same bits, so the same draws.
#include <gtest/gtest.h>

#include <cstdint>

#include "sampler/sampler.h"

TEST(SamplerPiece, IndexAndPositionAreTheWordsOfTheProduct)
{
    __extension__ typedef unsigned __int128 u128;
    // Counts of pieces from the fewest to the largest the type allows, and
    // words at the edges of their halves, then random ones of each.
    const int counts[] = {1, 2, 3, 4, 104, 600, 1000000, 0x7fffffff};
    const std::uint64_t words[] = {0, 1, 0xffffffffu, 0x100000000u, 0x80000000ffffffffu, ~std::uint64_t(0) - 0xffffffffu,
                                   ~std::uint64_t(0)};
    o1phi4::Xoshiro256ss g(17);
    const auto same = [](std::uint64_t r, int n) {
        const u128 p = static_cast<u128>(r) * static_cast<unsigned>(n);
        std::uint64_t low;
        const int k = o1phi4::detail::piece(r, n, low);
        return k == static_cast<int>(p >> 64) && low == static_cast<std::uint64_t>(p);
    };
    for (int i = 0; i < 64; ++i) {
        const int n = i < 8 ? counts[i] : 1 + static_cast<int>(g() >> 33);
        for (const std::uint64_t r : words) ASSERT_TRUE(same(r, n)) << "r=" << r << " n=" << n;
        for (int j = 0; j < 1000; ++j) {
            const std::uint64_t r = g();
            ASSERT_TRUE(same(r, n)) << "r=" << r << " n=" << n;
        }
    }
}
