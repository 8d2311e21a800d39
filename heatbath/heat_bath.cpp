// The heat-bath sweep.
#include <cmath>

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

// Sites whose draws are made together: enough to keep the vector lanes of
// the random-number batches full and the draws' loads overlapping, few
// enough for their scratch to stay in the first-level cache.
constexpr std::size_t BATCH_SITES = 256;

// The draws of one thread: the sites of one colour collected row by row,
// their field values, and the scratch of the rounds.
struct Batch {
    explicit Batch(std::size_t capacity)
        : site(capacity), at(capacity), h(capacity), x(capacity), first(capacity), second(capacity), open(capacity), next(capacity),
          unsure(capacity), unserved(capacity), open_site(capacity)
    {
    }
    std::size_t n = 0;                   // sites collected
    std::vector<std::uint32_t> site;     // their site numbers
    std::vector<std::uint32_t> at;       // and where they are stored (the same on the whole lattice)
    std::vector<double> h;               // and field values
    std::vector<double> x;               // the values drawn
    std::vector<std::uint64_t> first, second;  // the numbers of a round's proposals
    std::vector<std::uint32_t> open, next, unsure, unserved;  // indices into the above
    std::vector<std::uint32_t> open_site;
};

// The field values beta * (sum of the 2d neighbours) of the sites of one
// colour in the row n (its neighbours and place), from its site `first` on in steps of 2, into
// h[0 .. L/2 - 1].  Only the ends of a row wrap around: the sites between
// them are summed without tests, in the order of neighbour_sum.
template <int D>
void row_fields(const Lattice &lat, const RowNeighbours &n, long first, double beta, const double *phi, double *h)
{
    const long L = lat.L, half = L / 2;
    const double *row = phi + n.offset;
    h[0] = beta * neighbour_sum<D>(phi, row, n, L, first);
    if (half > 1) h[half - 1] = beta * neighbour_sum<D>(phi, row, n, L, first + L - 2);
    const double *up0 = phi + n.up[0], *down0 = phi + n.down[0];
    const double *up1 = phi + n.up[D > 2 ? 1 : 0], *down1 = phi + n.down[D > 2 ? 1 : 0];
    for (long j = 1, x0 = first + 2; j < half - 1; ++j, x0 += 2) {
        double sum = row[x0 - 1] + row[x0 + 1];
        sum += up0[x0] + down0[x0];
        if (D > 2) sum += up1[x0] + down1[x0];
        h[j] = beta * sum;
    }
}

// One round of proposals: site j = at(i), i < n, makes its proposal from
// the numbers first[i], second[i] into x[j].  First what the bounds decide,
// without a branch on the outcome (it would be mispredicted at every
// rejection), then together the few that the weight decides.  Appends the
// rejected sites to rejected and returns their count, and appends the sites
// the table does not serve to unserved.
template <class At>
std::size_t propose_round(const HeatBathSampler &s, std::size_t n, At at, const double *h, const std::uint64_t *first,
                          const std::uint64_t *second, double *x, std::uint32_t *unsure, std::uint32_t *rejected,
                          std::uint32_t *unserved, std::size_t &n_unserved)
{
    std::size_t n_rejected = 0, n_unsure = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t j = at(i);
        const o1phi4::Proposal p = s.propose_by_bounds(h[j], first[i], second[i], x[j]);
        rejected[n_rejected] = j;
        n_rejected += p == o1phi4::Proposal::Rejected;
        unsure[n_unsure] = static_cast<std::uint32_t>(i);
        n_unsure += p == o1phi4::Proposal::Undecided;
        unserved[n_unserved] = j;
        n_unserved += p == o1phi4::Proposal::NotServed;
    }
    for (std::size_t u = 0; u < n_unsure; ++u) {
        const std::uint32_t i = unsure[u], j = at(i);
        rejected[n_rejected] = j;
        n_rejected += s.propose(h[j], first[i], second[i], x[j]) == o1phi4::Proposal::Rejected;
    }
    return n_rejected;
}

// Draws the values of the sites of b for their field values, from their
// streams (HeatBath, k.sweep, 0, site), and stores them in f at their places.  In rounds:
// every site still open makes its next proposal from the next block of its
// stream, the blocks of a round made together.  So a site gets the value
// the sampler's draw would give it with its stream, in the same number of
// proposals.
void draw_batch(const HeatBathSampler &s, const SweepKey &k, Batch &b, double *f, HeatBathStats &st)
{
    Philox::ctr_type c = stream_counter(StreamKind::HeatBath, k.sweep, 0, 0);
    const std::uint64_t rounds = s.options().max_trials < HEAT_BATH_ROUNDS ? s.options().max_trials : HEAT_BATH_ROUNDS;
    // The arrays in locals: the compiler would reload them from b after
    // every call the draws might make.
    const std::size_t n = b.n;
    const std::uint32_t *site = b.site.data();
    const double *h = b.h.data();
    double *x = b.x.data();
    std::uint64_t *first = b.first.data(), *second = b.second.data();
    std::uint32_t *open = b.open.data(), *next = b.next.data(), *unsure = b.unsure.data(), *unserved = b.unserved.data();
    std::uint32_t *open_site = b.open_site.data();

    double max_abs_h = st.max_abs_h;
    for (std::size_t j = 0; j < n; ++j) {
        // Not std::fmax: its NaN rules make it a library call.
        const double a = std::fabs(h[j]);
        max_abs_h = a > max_abs_h ? a : max_abs_h;
    }
    st.max_abs_h = max_abs_h;

    // Round 0: every site.
    philox_pairs(k.key, c, site, n, first, second);
    std::size_t n_unserved = 0;
    std::size_t n_open = propose_round(
        s, n, [](std::size_t i) { return static_cast<std::uint32_t>(i); }, h, first, second, x, unsure, open, unserved, n_unserved);
    std::uint64_t trials = n - n_unserved;

    // Rounds 1, 2, ...: the sites whose proposals have all been rejected.
    std::uint64_t t = 1;
    for (; t < rounds && n_open > 0; ++t) {
        for (std::size_t i = 0; i < n_open; ++i) open_site[i] = site[open[i]];
        c[0] = static_cast<std::uint32_t>(t);
        philox_pairs(k.key, c, open_site, n_open, first, second);
        trials += n_open;
        n_open = propose_round(
            s, n_open, [open](std::size_t i) { return open[i]; }, h, first, second, x, unsure, next, unserved, n_unserved);
        std::swap(open, next);
    }

    // The draws the rounds did not finish, whole: the sampler counts their
    // proposals itself (and the fallback's draws, and gives up as it does).
    st.draw.trials += trials - t * n_open;
    for (std::size_t i = 0; i < n_open + n_unserved; ++i) {
        const std::uint32_t j = i < n_open ? open[i] : unserved[i - n_open];
        CounterStream g(k.key, StreamKind::HeatBath, k.sweep, 0, site[j]);
        x[j] = heat_bath_draw(s, h[j], g, st.draw);
    }
    for (std::size_t j = 0; j < n; ++j) f[b.at[j]] = x[j];
    st.draws += n;
    b.n = 0;
}

template <int D>
void checkerboard_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                        const SweepKey &k, int threads, HeatBathStats &st)
{
    const long L = lat.L;
    const std::size_t half = static_cast<std::size_t>(L / 2);
    std::vector<HeatBathStats> blocks(static_cast<std::size_t>(threads));
    for (int colour = 0; colour < 2; ++colour) {
        for_row_blocks(lat.rows, threads, [&](int bl, long first_row, long end_row) {
            HeatBathStats bs = blocks[static_cast<std::size_t>(bl)];
            // The sites of this colour, whole rows at a time (a row longer
            // than a batch is a batch of its own).  Their values are
            // stored when the batch is drawn: no site of this colour reads
            // another's.
            Batch b(half > BATCH_SITES ? half : BATCH_SITES);
            double *f = phi.data();
            for (long r = first_row; r < end_row; ++r) {
                if (b.n + half > b.site.size()) draw_batch(s, k, b, f, bs);
                const RowNeighbours n = row_neighbours(lat, r);
                const long first = (colour + n.parity) & 1;
                row_fields<D>(lat, n, first, beta, f, b.h.data() + b.n);
                for (std::size_t j = 0; j < half; ++j) {
                    b.site[b.n + j] = n.site + static_cast<std::uint32_t>(first + 2 * static_cast<long>(j));
                    b.at[b.n + j] = static_cast<std::uint32_t>(n.offset + first + 2 * static_cast<long>(j));
                }
                b.n += half;
            }
            if (b.n > 0) draw_batch(s, k, b, f, bs);
            blocks[static_cast<std::size_t>(bl)] = bs;
        });
        if (lat.team) lat.team->exchange(phi.data(), sizeof(double), colour);
    }
    for (const HeatBathStats &bs : blocks) {
        st.draw.trials += bs.draw.trials;
        st.draw.fallback += bs.draw.fallback;
        st.draws += bs.draws;
        if (bs.max_abs_h > st.max_abs_h) st.max_abs_h = bs.max_abs_h;
    }
}

void lexicographic_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                         const SweepKey &k, HeatBathStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    double max_abs_h = st.max_abs_h;
    // The first blocks of the streams of a row do not depend on the field:
    // made in one batch, they leave the draws alone on the critical path.
    std::vector<std::uint64_t> first(static_cast<std::size_t>(lat.L)), second(first.size());
    for (long x = 0; x < lat.V; ++x, nb += n) {
        const std::size_t x0 = static_cast<std::size_t>(x % lat.L);
        const Philox::ctr_type c = stream_counter(StreamKind::HeatBath, k.sweep, 0, static_cast<std::uint32_t>(x));
        if (x0 == 0) philox_pairs(k.key, c, 1, first.size(), first.data(), second.data());
        // nb[1] = x - 1 was drawn just before x: added last, it leaves the
        // other additions free to run during that draw.
        double sum = f[nb[0]];
        for (std::size_t i = 2; i < n; ++i) sum += f[nb[i]];
        sum += f[nb[1]];
        const double h = beta * sum;
        if (std::fabs(h) > max_abs_h) max_abs_h = std::fabs(h);
        CounterStream g(k.key, c, first[x0], second[x0]);
        f[x] = heat_bath_draw(s, h, g, st.draw);
    }
    st.max_abs_h = max_abs_h;
    st.draws += static_cast<std::uint64_t>(lat.V);
}

}  // namespace

void heat_bath_sweep(const Lattice &lat, double beta, const HeatBathSampler &s, std::vector<double> &phi,
                     const SweepKey &k, Order order, int threads, HeatBathStats &st)
{
    if (order == Order::Lexicographic) lexicographic_sweep(lat, beta, s, phi, k, st);
    else if (lat.d == 2) checkerboard_sweep<2>(lat, beta, s, phi, k, threads, st);
    else checkerboard_sweep<3>(lat, beta, s, phi, k, threads, st);
}

}  // namespace o1hb
