// The Philox rounds over vector lanes, for one instruction set: included by
// philox_batch.cpp inside a namespace of its own for each one, after it has
// defined there the target attribute O1_LANES_TARGET, the register type
// Lanes of LANES 64-bit lanes, the registers G a group takes at a time, and
// the lane operations set, mul, high, eor3, widen, join and store.  Each
// stream's words sit in the low halves of its lanes; mul multiplies the
// low halves to 64 bits, and the high halves collect bits no result reads.
// No include guard: it is meant to be included more than once.

// Streams per group: G registers, so that the multiplications of
// independent lanes overlap.
constexpr int W = G * LANES;

// The pairs of W streams, for the sites site[0 .. W - 1], into first and
// second [0 .. W - 1].
O1_LANES_TARGET inline void group(const Philox::key_type &key, const Philox::ctr_type &c, const std::uint32_t *site,
                                  std::uint64_t *first, std::uint64_t *second)
{
    const Lanes m0 = set(M0), m1 = set(M1);
    Lanes x0[G], x1[G], x2[G], x3[G];
    for (int g = 0; g < G; ++g) {
        x0[g] = set(c[0]);
        x1[g] = widen(site + g * LANES);
        x2[g] = set(c[2]);
        x3[g] = set(c[3]);
    }
    std::uint32_t k0 = key[0], k1 = key[1];
    for (int r = 0; r < ROUNDS; ++r) {
        const Lanes a = set(k0), b = set(k1);
        for (int g = 0; g < G; ++g) {
            const Lanes p0 = mul(x0[g], m0), p1 = mul(x2[g], m1);
            x0[g] = eor3(high(p1), x1[g], a);
            x1[g] = p1;
            x2[g] = eor3(high(p0), x3[g], b);
            x3[g] = p0;
        }
        k0 += W0;
        k1 += W1;
    }
    for (int g = 0; g < G; ++g) {
        store(first + g * LANES, join(x0[g], x1[g]));
        store(second + g * LANES, join(x2[g], x3[g]));
    }
}

O1_LANES_TARGET void pairs(const Philox::key_type &key, const Philox::ctr_type &c, const std::uint32_t *site, std::size_t n,
                           std::uint64_t *first, std::uint64_t *second)
{
    std::size_t done = 0;
    for (; done + W <= n; done += W) group(key, c, site + done, first + done, second + done);
    if (done == n) return;
    // The last, partial group through buffers (its extra lanes are not kept).
    std::uint32_t s[W] = {};
    std::uint64_t u[W], v[W];
    const std::size_t kept = n - done;
    std::memcpy(s, site + done, kept * sizeof *s);
    group(key, c, s, u, v);
    std::memcpy(first + done, u, kept * sizeof *u);
    std::memcpy(second + done, v, kept * sizeof *v);
}
