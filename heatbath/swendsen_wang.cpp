// The Swendsen-Wang update of the signs: frozen links, a union-find
// labelling on every thread, and a flip per cluster.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

using Forest = std::atomic<std::int32_t>;
constexpr std::memory_order relaxed = std::memory_order_relaxed;

// The root of x, halving the path on the way.  Parents only ever move to
// ancestors, so a halving store never undoes a link, whichever thread looks.
inline std::int32_t find(Forest *p, std::int32_t x)
{
    for (;;) {
        const std::int32_t q = p[x].load(relaxed);
        if (q == x) return x;
        const std::int32_t g = p[q].load(relaxed);
        if (g != q) p[x].store(g, relaxed);
        x = g;
    }
}

// The root of x, the forest left as it is: for the last pass of the
// labelling, where each thread sets its own sites' parents to their roots
// and no other thread may write there (a halving store that lands after the
// owner's store would leave a site pointing to an ancestor short of its
// root, and its cluster's coin unread).
inline std::int32_t root_of(const Forest *p, std::int32_t x)
{
    for (;;) {
        const std::int32_t q = p[x].load(relaxed);
        if (q == x) return x;
        x = q;
    }
}

// Joins the tree of root a with that of b within one thread's block: the
// larger root goes under the smaller, so each tree's root is its smallest
// site.  Returns the root of the joined tree.
inline std::int32_t unite_local(Forest *p, std::int32_t a, std::int32_t b)
{
    b = find(p, b);
    if (a == b) return a;
    if (a < b) std::swap(a, b);
    p[a].store(b, relaxed);
    return b;
}

// The same where other threads join trees at the same time: the link is
// made only if a is still a root, else the roots are looked up again.
inline void unite_shared(Forest *p, std::int32_t a, std::int32_t b)
{
    for (;;) {
        a = find(p, a);
        b = find(p, b);
        if (a == b) return;
        if (a < b) std::swap(a, b);
        std::int32_t expected = a;
        if (p[a].compare_exchange_weak(expected, b, std::memory_order_acq_rel, relaxed)) return;
    }
}

void prepare(SwWorkspace &w, long V, int threads)
{
    if (w.V != V) {
        w.label.assign(0, 0);
        w.parent.reset(new Forest[static_cast<std::size_t>(V)]);
        w.bonds.assign(static_cast<std::size_t>(V), 0);
        w.flip.assign(static_cast<std::size_t>(V), 0);
        w.V = V;
    }
    if (w.across.size() < static_cast<std::size_t>(threads)) w.across.resize(static_cast<std::size_t>(threads));
    if (w.remote.size() < static_cast<std::size_t>(threads)) w.remote.resize(static_cast<std::size_t>(threads));
}

// A link of coupling x = 2 beta |phi_x phi_y| > 0 freezes with the uniform q
// in (0, 1] when exp(-x) < q, which happens with probability 1 - exp(-x).
// Cheap bounds decide most links without the exponential:
// 1 - x + x^2/2 - x^3/6 <= exp(-x) <= 1 / (1 + x + x^2/2 + x^3/6); the
// margin SURE covers their rounding and that of exp, so every link gets the
// decision of the exponential itself.
constexpr double SURE = 0x1p-40;

// The frozen links of one site: bit mu for the link of coupling x[mu] (no
// link where not positive: the signs differ) with the uniform q[mu].  No
// branches but the rare one to the exponential: whether a link freezes is a
// coin toss, which a branch would guess wrong half the time.
template <int D>
inline unsigned frozen_links(const double *x, const double *q)
{
    unsigned bits = 0, unsure = 0;
    for (int mu = 0; mu < D; ++mu) {
        const double s = 1 + x[mu] * (1 + x[mu] * (0.5 + x[mu] * (1.0 / 6)));
        const double lo = 1 - x[mu] * (1 - x[mu] * (0.5 - x[mu] * (1.0 / 6)));
        const unsigned linked = x[mu] > 0, surely = q[mu] * s > 1 + SURE, surely_not = q[mu] < lo * (1 - SURE);
        bits |= (linked & surely) << mu;
        unsure |= (linked & ~(surely | surely_not) & 1u) << mu;
    }
    if (unsure)
        for (int mu = 0; mu < D; ++mu)
            if (unsure >> mu & 1) bits |= static_cast<unsigned>(std::exp(-x[mu]) < q[mu]) << mu;
    return bits;
}

// The frozen links of the rows [r0, r1) into w.bonds.  The link x -> x + mu
// takes number mu of the stream (SwBond, sweep, number, x) whether or not
// its signs agree, so that the blocks of a row are made in one batch.
template <int D>
void freeze(const Lattice &lat, double beta, const std::vector<double> &phi, const SweepKey &k, std::uint32_t number,
            long r0, long r1, SwWorkspace &w)
{
    const long L = lat.L;
    const double *f = phi.data();
    // Numbers 0 and 1 from block 0, number 2 from block 1 (number 3 unused).
    std::vector<std::uint64_t> n0(static_cast<std::size_t>(L)), n1(n0.size()), n2(static_cast<std::size_t>(D > 2 ? L : 0)),
        n3(n2.size());
    for (long r = r0; r < r1; ++r) {
        const RowNeighbours n = row_neighbours(lat, r);
        const double *row = f + n.offset;
        Philox::ctr_type c = stream_counter(StreamKind::SwBond, k.sweep, number, n.site);
        philox_pairs(k.key, c, 1, n0.size(), n0.data(), n1.data());
        if (D > 2) {
            c[0] = 1;
            philox_pairs(k.key, c, 1, n2.size(), n2.data(), n3.data());
        }
        for (long x0 = 0; x0 < L; ++x0) {
            const double fx = row[x0];
            // The field values at x + mu: along the row, then the rows above.
            double fy[D];
            fy[0] = x0 + 1 < L ? row[x0 + 1] : row[0];
            for (int mu = 1; mu < D; ++mu) fy[mu] = f[n.up[mu - 1] + x0];
            const std::size_t j = static_cast<std::size_t>(x0);
            std::uint64_t u[D];
            u[0] = n0[j];
            u[1] = n1[j];
            if (D > 2) u[2] = n2[j];
            // The Ising couplings 2 beta phi_x phi_y, positive where the signs agree.
            double x[D], q[D];
            for (int mu = 0; mu < D; ++mu) {
                x[mu] = 2 * beta * (fx * fy[mu]);
                q[mu] = 1 - unit_interval(u[mu]);
            }
            w.bonds[static_cast<std::size_t>(n.offset + x0)] = static_cast<unsigned char>(frozen_links<D>(x, q));
        }
    }
}

// The stored site x + mu of site x0 of the row n.
inline std::int32_t forward(const Lattice &lat, const RowNeighbours &n, long x0, int mu)
{
    const long L = lat.L;
    if (mu == 0) return static_cast<std::int32_t>(n.offset + (x0 + 1 < L ? x0 + 1 : 0));
    return static_cast<std::int32_t>(n.up[mu - 1] + x0);
}

// The stored sites [lo, hi) of the rows [r0, r1) of the block (halo rows
// between them included).
inline std::int32_t first_stored(const Lattice &lat, long r0) { return static_cast<std::int32_t>(row_neighbours(lat, r0).offset); }
inline std::int32_t end_stored(const Lattice &lat, long r1)
{
    return r1 == 0 ? 0 : static_cast<std::int32_t>(row_neighbours(lat, r1 - 1).offset + lat.L);
}

// The labelling of block b of n (rows [r0, r1)) inside a parallel region
// of n threads: local trees, then the links across blocks, then every
// site's parent set to its root.  Links to another process's site (a halo
// site) go to w.remote[b] instead.  Ends with a barrier.
void label(const Lattice &lat, const std::vector<unsigned char> &bonds, SwWorkspace &w, int b, long r0, long r1)
{
    Forest *p = w.parent.get();
    const long L = lat.L;
    const std::int32_t lo = first_stored(lat, r0), hi = end_stored(lat, r1);
    std::vector<std::int32_t> &across = w.across[static_cast<std::size_t>(b)];
    across.clear();
    std::vector<std::int32_t> &remote = w.remote[static_cast<std::size_t>(b)];
    remote.clear();
    // Within the block only this thread reads or writes the forest.
    for (std::int32_t x = lo; x < hi; ++x) p[x].store(x, relaxed);
    for (long r = r0; r < r1; ++r) {
        const RowNeighbours n = row_neighbours(lat, r);
        for (long x0 = 0; x0 < L; ++x0) {
            const unsigned bits = bonds[static_cast<std::size_t>(n.offset + x0)];
            if (bits == 0) continue;
            const std::int32_t x = static_cast<std::int32_t>(n.offset + x0);
            std::int32_t root = find(p, x);  // kept up to date over x's links
            for (int mu = 0; mu < lat.d; ++mu) {
                if (!(bits >> mu & 1)) continue;
                const std::int32_t y = forward(lat, n, x0, mu);
                if (mu > 0 && (n.up_halo >> (mu - 1) & 1)) {
                    remote.push_back(x);
                    remote.push_back(y);
                } else if (y >= lo && y < hi) root = unite_local(p, root, y);
                else {
                    across.push_back(x);
                    across.push_back(y);
                }
            }
        }
    }
#pragma omp barrier
    for (std::size_t i = 0; i < across.size(); i += 2) unite_shared(p, across[i], across[i + 1]);
#pragma omp barrier
    // Parents lie below their children: going up the block, a parent in the
    // block has its root already, and only a parent below the block needs
    // a search, which reads other threads' blocks without writing them
    // (they change meanwhile, and only to the roots).
    for (std::int32_t x = lo; x < hi; ++x) {
        const std::int32_t q = p[x].load(relaxed);
        if (q != x) p[x].store(q >= lo ? p[q].load(relaxed) : root_of(p, q), relaxed);
    }
#pragma omp barrier
}

// Runs body(b, n, r0, r1) on n <= threads threads, block b of n with rows
// [r0, r1), all in one parallel region (body may hold barriers).
template <class Body>
void in_region(long rows, int threads, Body body)
{
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
#ifdef _OPENMP
        const int b = omp_get_thread_num(), n = omp_get_num_threads();
#else
        const int b = 0, n = 1;
#endif
        body(b, n, block_start(rows, b, n), block_start(rows, b + 1, n));
    }
}

}  // namespace

namespace {

// The clusters of a split lattice across the processes: each root of the
// block's forest starts with its own site number as its cluster's label;
// then, until no label changes on any process, the labels of the face
// sites go to the neighbours' halos and each frozen link to a halo site
// lowers its root's label to the label across it.  So every cluster ends
// with its smallest site number, whichever blocks it spans.  The links from
// the face below are frozen by the process below (the link x -> x + mu
// belongs to x): their bits come with the halo of the bonds.  Returns the
// number of rounds.
long resolve_labels(const Lattice &lat, SwWorkspace &w)
{
    Forest *p = w.parent.get();
    std::vector<std::uint32_t> &label = w.label;
    label.resize(static_cast<std::size_t>(lat.stored));
    for (long r = 0; r < lat.rows; ++r) {
        const RowNeighbours n = row_neighbours(lat, r);
        for (long x0 = 0; x0 < lat.L; ++x0) {
            const std::size_t x = static_cast<std::size_t>(n.offset + x0);
            if (p[x].load(relaxed) == static_cast<std::int32_t>(x)) label[x] = n.site + static_cast<std::uint32_t>(x0);
        }
    }
    lat.team->exchange(w.bonds.data(), 1, -1);
    // The links across the faces: (site of the block, halo site).
    std::vector<std::int32_t> &links = w.links;
    links.clear();
    for (const std::vector<std::int32_t> &r : w.remote) links.insert(links.end(), r.begin(), r.end());
    for (int mu = 1; mu < lat.d; ++mu) {
        if (!lat.halo[mu]) continue;
        for (int colour = 0; colour < 2; ++colour) {
            // The site below a face site has the other colour, and the same place in its list.
            const std::vector<std::int32_t> &face = lat.face[mu][0][colour], &below = lat.halo_sites[mu][0][1 - colour];
            for (std::size_t i = 0; i < face.size(); ++i)
                if (w.bonds[static_cast<std::size_t>(below[i])] >> mu & 1) {
                    links.push_back(face[i]);
                    links.push_back(below[i]);
                }
        }
    }
    std::vector<std::uint32_t> &sent = w.sent;
    sent.resize(static_cast<std::size_t>(lat.stored));
    for (long round = 1;; ++round) {
        for (int mu = 1; mu < lat.d; ++mu)
            for (int side = 0; side < 2 && lat.halo[mu]; ++side)
                for (int colour = 0; colour < 2; ++colour)
                    for (const std::int32_t x : lat.face[mu][side][colour])
                        sent[static_cast<std::size_t>(x)] = label[static_cast<std::size_t>(p[x].load(relaxed))];
        lat.team->exchange(sent.data(), sizeof(std::uint32_t), -1);
        bool changed = false;
        for (std::size_t i = 0; i < links.size(); i += 2) {
            const std::size_t root = static_cast<std::size_t>(p[links[i]].load(relaxed));
            const std::uint32_t across = sent[static_cast<std::size_t>(links[i + 1])];
            if (across < label[root]) {
                label[root] = across;
                changed = true;
            }
        }
        if (!lat.team->any(changed)) return round;
    }
}

// The update of a split lattice: the block labelled on the threads, the
// labels resolved across the processes, then each site's sign flipped by
// the coin of its cluster's smallest site, and the halos brought up to date.
void split_update(const Lattice &lat, double beta, std::vector<double> &phi, const SweepKey &k, std::uint32_t number,
                  int threads, SwWorkspace &w, SwStats &st)
{
    for (std::vector<std::int32_t> &r : w.remote) r.clear();  // of threads the team may leave out
    in_region(lat.rows, threads, [&](int b, int, long r0, long r1) {
        if (lat.d == 2) freeze<2>(lat, beta, phi, k, number, r0, r1, w);
        else freeze<3>(lat, beta, phi, k, number, r0, r1, w);
        label(lat, w.bonds, w, b, r0, r1);
    });
    st.rounds += static_cast<std::uint64_t>(resolve_labels(lat, w));
    const Forest *p = w.parent.get();
    std::vector<std::uint64_t> roots(static_cast<std::size_t>(threads));
    // The coin of each root's cluster, by its label, first: a site's root may
    // lie in another thread's rows.
    for_row_blocks(lat.rows, threads, [&](int b, long r0, long r1) {
        // The coins of the last group of FLIP_SITES sites asked for: going up
        // the rows, most roots are labelled with their own site numbers.
        std::uint32_t group = ~std::uint32_t(0);
        Philox::ctr_type coins{};
        std::uint64_t count = 0;
        for (long r = r0; r < r1; ++r) {
            const RowNeighbours n = row_neighbours(lat, r);
            for (long x0 = 0; x0 < lat.L; ++x0) {
                const std::size_t x = static_cast<std::size_t>(n.offset + x0);
                if (p[x].load(relaxed) != static_cast<std::int32_t>(x)) continue;
                const std::uint32_t g = w.label[x];
                count += g == n.site + static_cast<std::uint32_t>(x0);
                if (g / FLIP_SITES != group) {
                    group = g / FLIP_SITES;
                    coins = Philox()(stream_counter(StreamKind::SwFlip, k.sweep, number, group), k.key);
                }
                const std::uint32_t bit = g % FLIP_SITES;
                w.flip[x] = static_cast<unsigned char>(coins[bit / 32] >> (bit % 32) & 1);
            }
        }
        roots[static_cast<std::size_t>(b)] = count;
    });
    for_row_blocks(lat.rows, threads, [&](int, long r0, long r1) {
        double *f = phi.data();
        for (long r = r0; r < r1; ++r) {
            const long at = row_neighbours(lat, r).offset;
            for (long x = at; x < at + lat.L; ++x) {
                std::uint64_t bits;
                std::memcpy(&bits, f + x, sizeof bits);
                bits ^= std::uint64_t(w.flip[static_cast<std::size_t>(p[x].load(relaxed))]) << 63;
                std::memcpy(f + x, &bits, sizeof bits);
            }
        }
    });
    lat.team->exchange(phi.data(), sizeof(double), -1);
    ++st.updates;
    for (std::uint64_t c : roots) st.clusters += c;
}

}  // namespace

void swendsen_wang_update(const Lattice &lat, double beta, std::vector<double> &phi, const SweepKey &k,
                          std::uint32_t number, int threads, SwWorkspace &w, SwStats &st)
{
    prepare(w, lat.stored, threads);
    if (lat.split()) {
        split_update(lat, beta, phi, k, number, threads, w, st);
        return;
    }
    std::vector<std::uint64_t> roots(static_cast<std::size_t>(threads));
    in_region(lat.rows, threads, [&](int b, int, long r0, long r1) {
        if (lat.d == 2) freeze<2>(lat, beta, phi, k, number, r0, r1, w);
        else freeze<3>(lat, beta, phi, k, number, r0, r1, w);
        label(lat, w.bonds, w, b, r0, r1);
        // Each cluster's flip, decided at its smallest site by the owner of
        // that site; then every site follows its cluster.
        const Forest *p = w.parent.get();
        const std::int32_t lo = static_cast<std::int32_t>(r0 * lat.L), hi = static_cast<std::int32_t>(r1 * lat.L);
        // Every site's coin, used only at the roots: no branch on whether a
        // site is one (it is, about half the time, at random).
        std::uint64_t count = 0;
        for (std::int32_t x = lo; x < hi;) {
            const std::uint32_t group = static_cast<std::uint32_t>(x) / FLIP_SITES;
            const Philox::ctr_type coins = Philox()(stream_counter(StreamKind::SwFlip, k.sweep, number, group), k.key);
            const std::int32_t end = std::min(hi, static_cast<std::int32_t>((group + 1) * FLIP_SITES));
            for (; x < end; ++x) {
                const std::uint32_t bit = static_cast<std::uint32_t>(x) % FLIP_SITES;
                w.flip[static_cast<std::size_t>(x)] = static_cast<unsigned char>(coins[bit / 32] >> (bit % 32) & 1);
                count += p[x].load(relaxed) == x;
            }
        }
        roots[static_cast<std::size_t>(b)] = count;
#pragma omp barrier
        // The sign bit of the field value changes with its root's coin.
        double *f = phi.data();
        for (std::int32_t x = lo; x < hi; ++x) {
            std::uint64_t bits;
            std::memcpy(&bits, f + x, sizeof bits);
            bits ^= std::uint64_t(w.flip[static_cast<std::size_t>(p[x].load(relaxed))]) << 63;
            std::memcpy(f + x, &bits, sizeof bits);
        }
    });
    ++st.updates;
    for (std::uint64_t c : roots) st.clusters += c;
}

std::vector<std::int32_t> label_clusters(const Lattice &lat, const std::vector<unsigned char> &bonds, int threads)
{
    SwWorkspace w;
    prepare(w, lat.stored, threads);
    in_region(lat.rows, threads, [&](int b, int, long r0, long r1) { label(lat, bonds, w, b, r0, r1); });
    std::vector<std::int32_t> out(static_cast<std::size_t>(lat.V));
    for (long x = 0; x < lat.V; ++x) out[static_cast<std::size_t>(x)] = w.parent[static_cast<std::size_t>(x)].load(relaxed);
    return out;
}

}  // namespace o1hb
