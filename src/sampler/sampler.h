// Reference sampler for the table file O1_Phi4.res: loads the file (header
// constants, field-index map, index table, one block per histogram) and draws
// x from exp(h*(x - X_max) - x*x - Landa*(x*x - 1)*(x*x - 1)) for a field
// value h by rejection under the histogram's majorant.
//
// A histogram of Nd_poi pieces of one common area a: piece 0 is the left tail
// exp(C1L*x + C2L) for x < p[0], pieces k = 1..Nd_poi-2 are the steps
// [p[k], p[k+1]] of height a/(p[k+1] - p[k]), piece Nd_poi-1 is the right
// tail exp(C1R*x + C2R) for x > p[Nd_poi-1] (= X0).  The sampler picks a
// piece uniformly, a point under it, and accepts it against the weight.
//
// Both signs of the field: the weight is symmetric, P(x; -h) = P(-x; h), so a
// field value below the table's range whose mirror -h lies in [H0, H_max) is
// drawn as -x with x drawn for -h.  With H0 >= 0 that is every h with |h| in
// [H0, H_max).  Field values the table serves in neither way (|h| >= H_max,
// |h| < H0, an index missing from the index table) are an error, or, when the
// caller switches the fallback on, drawn exactly without the table.
//
// Needs only the standard library.  Errors on load throw TableError; errors
// on a draw throw FieldError (field value not served) or std::runtime_error
// (no acceptance within the trial limit).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "table_format.h"

namespace o1phi4 {

// ---------------------------------------------------------------- errors

// A table file that cannot be read or does not have the expected layout.
// line() is the 1-based line of the file (0 when no line applies).
class TableError : public std::runtime_error {
public:
    TableError(const std::string &file, long line, const std::string &message);
    long line() const { return line_; }

private:
    long line_;
};

// s with every byte outside printable ASCII written as \xNN, for messages
// that quote a file's text or name (TableError applies it to both).
std::string printable(const std::string &s);

// A field value that the table does not serve.
class FieldError : public std::domain_error {
public:
    enum Kind {
        NotANumber,    // h is NaN
        BelowH0,       // h < H0
        AboveHmax,     // h >= H_max (the last bound of the field-index map)
        MissingIndex,  // its field index has no entry in the index table
    };
    FieldError(Kind kind, double h, long index, const std::string &message);
    Kind kind() const { return kind_; }
    double h() const { return h_; }
    long index() const { return index_; }  // field index (MissingIndex only)

private:
    Kind kind_;
    double h_;
    long index_;
};

// ---------------------------------------------------------------- the file

// One interval of the field-index map, as a line of the C snippet says:
// "if(h<upper ) j=offset+(int)(h/step);".
struct FieldInterval {
    double upper;
    long offset;
    double step;
};

// One histogram block, numbers as written in the file.
struct Block {
    int j;                    // histogram number
    double H;                 // its field value
    int nd_poi;               // number of pieces
    double loss;              // loss in per cent, as printed
    double X_max;             // right mode at H: the shift of the weight
    double a;                 // common area of the pieces
    double C1L, C2L;          // left tail exp(C1L*x + C2L)
    double C1R, C2R;          // right tail exp(C1R*x + C2R)
    std::vector<double> p;    // Nd_poi positions: p[0] left anchor, p[Nd_poi-1] = X0
    std::vector<int> flag;    // their flags (1, 0, ..., 0, 2 in a sound table)
    long first_line;          // file line of the block's first line
};

// The whole table file.
struct Table {
    std::string file;         // path (or name) it was read from, for messages
    double H0 = 0, H_max_header = 0, loss_header = 0;  // first line
    int nd_poi = 0;           // #define Nd_poi
    int n_histogram = 0;      // #define N_histogram: index of the last histogram
    int n_h_max = 0;          // #define N_H_max: index-table length + 5
    int param_nd_poi = 0, param_n_hist = 0, param_n_o_m = 0;  // FORTRAN PARAMETER line
    std::vector<FieldInterval> c_map;        // C snippet, in order
    double H_max = 0;                        // bound of the closing C line
    std::vector<FieldInterval> fortran_map;  // FORTRAN snippet, in order
    double fortran_H_max = 0;
    std::vector<long> index_j;  // index table: field indices (strictly increasing)
    std::vector<int> index_m;   // and the histogram serving each
    int n_after_table = 0;      // the line with N after the index table
    std::vector<Block> blocks;  // N + 1 blocks, block m has j = m
    // Field values the index table sends to histogram m through the C lines:
    // the hull of the cells of the entries that name m, clipped to
    // [H0, H_max).  Both NaN for a histogram that no entry names (never used).
    std::vector<double> served_lo, served_hi;

    // Upper field value histogram m was built for: H of block m + 1; for the
    // last, the larger of H + o1_table_format::LAST_HISTOGRAM_REACH and H_max.
    double H_upper(int m) const;
    // Whether some index-table entry names histogram m.
    bool used(int m) const { return !std::isnan(served_lo[static_cast<std::size_t>(m)]); }
};

// Former name of o1_table_format::LAST_HISTOGRAM_REACH, kept so that programs
// written against version 1.0 of this header still build.
[[deprecated("use o1_table_format::LAST_HISTOGRAM_REACH")]] constexpr double H_UPPER_LAST_STEP =
    o1_table_format::LAST_HISTOGRAM_REACH;

// Reads and checks the layout of a table file.  Throws TableError naming the
// file line and what was expected there.  Checks everything the sampler
// relies on for memory safety (counts, histogram numbers in range, strictly
// increasing field indices, positive finite steps); the majorant properties
// themselves are the validator's business.
Table load_table(const std::string &path);
// The same from text already in memory (name is used in messages).
Table parse_table(const std::string &text, const std::string &name);

// Field index of h as the C snippet computes it (no lower-bound test there).
// Returns false when h is NaN or not below the last bound.
bool field_index(const Table &t, double h, long &index);

// Logarithm of the weight at field value h with the shift X_max,
// h*(x - X_max) - x*x - landa*(x*x - 1)^2: the one copy of the formula that
// the sampler's set-up and draws use.
inline double log_weight(double h, double X_max, double landa, double x)
{
    return h * (x - X_max) - x * x - landa * (x * x - 1) * (x * x - 1);
}
// Weight at field value h with the shift X_max.
inline double weight(double h, double X_max, double landa, double x) { return std::exp(log_weight(h, X_max, landa, x)); }

// Majorant of block b at x (tails outside [p[0], p[Nd_poi-1]], otherwise the
// height of the step holding x; at an inner edge the step to its right).
double majorant(const Block &b, double x);

// ---------------------------------------------------------------- generator

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

// The sign bit of a double when negate, else 0; v with that bit flipped.
inline std::uint64_t sign_mask(bool negate) { return static_cast<std::uint64_t>(negate) << 63; }
inline double flip(double v, std::uint64_t mask)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    b ^= mask;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// Uniform double in [0, 1) from the top 53 bits.
inline double unit(std::uint64_t r) { return static_cast<double>(r >> 11) * 0x1.0p-53; }

// Piece index floor(n*r/2^64) and the low word of the product as the
// position within the piece, for 0 < n < 2^31.  The product has 95 bits:
// n*r = n*r_hi*2^32 + n*r_lo with r's 32-bit halves, each part below 2^63,
// so both its words come from two 64-bit products (as fast as one 128-bit
// product in the benchmark).
inline int piece(std::uint64_t r, int n, std::uint64_t &low)
{
    const std::uint64_t un = static_cast<std::uint32_t>(n);
    const std::uint64_t lo = un * (r & 0xffffffffu);
    const std::uint64_t mid = un * (r >> 32) + (lo >> 32);
    low = (mid << 32) | (lo & 0xffffffffu);
    return static_cast<int>(mid >> 32);
}

}  // namespace detail

// ---------------------------------------------------------------- sampler

// Proposals per draw before a draw gives up (the acceptance of a sound table
// is above one half; this catches broken tables only).
constexpr std::uint64_t DEFAULT_MAX_TRIALS = 1000000;
// Largest Landa a sampler takes: beyond it Landa times the powers of x in the
// weight and in the fallback's envelope overflows for ordinary x.
constexpr double MAX_LANDA = 1e300;

// How a Sampler draws.
struct SamplerOptions {
    std::uint64_t max_trials = DEFAULT_MAX_TRIALS;  // proposals per draw before it gives up
    bool fallback = false;                          // exact table-free draws where the table serves nothing
};

// Counts of one caller (one thread): every draw adds to them.
struct DrawStats {
    std::uint64_t trials = 0;    // proposals made (accepted draws / trials is the acceptance rate)
    std::uint64_t fallback = 0;  // draws that used the fallback
};

namespace detail {

// The Gaussian envelope of the fallback for a field value h >= 0: since
// Landa*(x*x - tau)^2 >= 0, the weight exp(h*x - x*x - Landa*(x*x - 1)^2) is at
// most a constant times exp(h*x - k*x*x) with k = 2*Landa*tau - 2*Landa + 1,
// for every tau with k > 0; a proposal x from that Gaussian (mean h/(2k),
// variance 1/(2k)) is accepted with probability exp(-Landa*(x*x - tau)^2).
// k minimises the envelope's area (the positive root of
// 2k^3 + 2(2*Landa - 1)k^2 - 2*Landa*k - Landa*h^2); Landa = 0 gives k = 1
// and a Gaussian weight that every proposal fits.
struct GaussEnvelope {
    double mean, sd;  // of the proposal
    double landa;
    double tau;       // the x*x at which the envelope touches the weight
    double r;         // sqrt(tau) when tau >= 0, else NaN
};
// The envelope for field value h >= 0 (finite) and 0 <= landa <= MAX_LANDA.
GaussEnvelope gauss_envelope(double landa, double h);

}  // namespace detail

// Draws from the table for every h it serves (see the top of this file).
// Immutable after construction; one Sampler can serve several threads, each
// with its own generator and its own DrawStats.
class Sampler {
public:
    static constexpr std::uint64_t DEFAULT_MAX_TRIALS = o1phi4::DEFAULT_MAX_TRIALS;

    // Takes the table and the coupling Landa (0 <= Landa <= MAX_LANDA; it is
    // not in the file).  The table must have the layout load_table checks
    // (counts that agree, histogram numbers in range, increasing field
    // indices): a Table from load_table or parse_table has it, one built or
    // resized by hand must keep it.  Throws TableError when Landa is out of
    // range, the index table is far sparser than any the generator writes,
    // or a block cannot serve as a majorant at all (non-increasing
    // positions, C1L <= 0, C1R >= 0, a <= 0), std::invalid_argument when
    // options.max_trials is 0.
    Sampler(Table table, double landa, SamplerOptions options = {});
    // The same with the fallback off and max_trials proposals per draw.
    template <class Int, typename std::enable_if<std::is_integral<Int>::value, int>::type = 0>
    Sampler(Table table, double landa, Int max_trials)
        : Sampler(std::move(table), landa, SamplerOptions{static_cast<std::uint64_t>(max_trials), false})
    {
    }

    const Table &table() const { return table_; }
    double landa() const { return landa_; }
    double H0() const { return table_.H0; }
    double H_max() const { return table_.H_max; }
    int nd_poi() const { return nd_; }
    const SamplerOptions &options() const { return options_; }

    // Histogram serving h: field index by the C snippet, then the index
    // table; for a field value served through its mirror, the histogram of
    // -h.  Throws FieldError when the table serves h in neither way (the
    // fallback is not a histogram).
    int histogram(double h) const;
    // The same without exceptions; returns false and sets *kind on failure.
    bool try_histogram(double h, int &m, FieldError::Kind *kind = nullptr) const noexcept
    {
        if (lookup(h < mirror_below_ ? -h : h, m)) return true;
        if (kind) *kind = failure(h);
        return false;
    }

    // One x for field value h; throws as draw does.
    template <class URBG>
    double operator()(double h, URBG &g) const
    {
        DrawStats stats;
        return draw(h, g, stats);
    }
    // One x for field value h; adds its proposals to stats.trials, and 1 to
    // stats.fallback when the fallback drew it.  Throws FieldError when the
    // table does not serve h and the fallback is off (or h is not finite),
    // std::runtime_error when no proposal is accepted within max_trials.
    template <class URBG>
    double draw(double h, URBG &g, DrawStats &stats) const
    {
        // The sign bit for a field value drawn through its mirror, flipped
        // in h and in x without a branch, which would be mispredicted half
        // the time in a heat bath of the symmetric phase.
        const std::uint64_t sign = detail::sign_mask(h < mirror_below_);
        const double a = detail::flip(h, sign);
        if (const Entry *e = find(a)) return detail::flip(draw_table(e->m, a, bounds_at(e->range, a), g, stats.trials), sign);
        if (!options_.fallback || !std::isfinite(h)) not_served(h);
        ++stats.fallback;
        return draw_fallback(h, g, stats.trials);
    }
    // The same, adding the proposals to trials only.
    template <class URBG>
    double draw(double h, URBG &g, std::uint64_t &trials) const
    {
        DrawStats stats;
        const double x = draw(h, g, stats);
        trials += stats.trials;
        return x;
    }
    // n values for one h into out[0..n-1] (looked up once); returns the
    // proposals made.  Throws as draw does, with out partly written.
    template <class URBG>
    std::uint64_t draw_n(double h, URBG &g, double *out, std::size_t n) const
    {
        DrawStats stats;
        int m;
        if (try_histogram(h, m))
            for (std::size_t i = 0; i < n; ++i) out[i] = draw_from(m, h, g, stats.trials);
        else
            for (std::size_t i = 0; i < n; ++i) out[i] = draw(h, g, stats);
        return stats.trials;
    }
    // One x from histogram m = histogram(h) (unchecked) at field value h of
    // either sign: for callers that have looked the histogram up themselves.
    // Adds the proposals to trials.
    template <class URBG>
    double draw_from(int m, double h, URBG &g, std::uint64_t &trials) const
    {
        const std::uint64_t sign = detail::sign_mask(h < mirror_below_);
        const double a = detail::flip(h, sign);
        return detail::flip(draw_table(m, a, bounds_at(range_[static_cast<std::size_t>(m)], a), g, trials), sign);
    }
    // One x by the fallback alone (no table): exact for every finite h, the
    // Gaussian envelope of detail::GaussEnvelope (for h < 0, -x with x drawn
    // for -h); its rounding grows like 1e-16 times the square of the mode,
    // about 1e-12 relative at |h| = 4e6 (Landa = 1, mode 100).  Adds the
    // proposals to trials.  Throws FieldError for h not finite,
    // std::runtime_error after max_trials proposals and pairs of uniforms
    // without an acceptance (its acceptance falls like 1/sqrt(Landa) for a
    // large Landa at a small |h|: 0.64 at Landa = 1, h = 0, 0.04 at
    // Landa = 100).
    template <class URBG>
    double draw_fallback(double h, URBG &g, std::uint64_t &trials) const;

    // The bounds of weight/height (the acceptance probability) over step k
    // (1..Nd_poi-2) of histogram m that a draw at field value h >= 0 uses to
    // accept or reject without the exponential: a proposal with v < lower is
    // accepted, one with v >= upper rejected.  0 and 1 when the draw has none
    // at h (h outside the field values that reach m).  For checks.
    void step_bounds(int m, double h, int k, double &lower, double &upper) const noexcept;

private:
    // One line of the C snippet: field values below upper (the running
    // maximum of the bounds so far) take the field index
    // offset + (int)(h/step), here stored less the first index of the table.
    // half_far: 1/2 less the distance from an integer within which
    // h*inv_step and h/step may have different integer parts.
    struct Line {
        double upper, step, inv_step, half_far;
        long offset;
    };
    // Bounds of weight/height over one step for one sub-range of field
    // values, in 256ths: v < lo/256 accepts, v >= (hi + 1)/256 rejects.
    struct Bound {
        std::uint8_t lo, hi;
    };
    // Field values [h_lo, h_hi] that reach a histogram (widened by
    // rounding), cut into n_sub sub-ranges of width 1/inv_width, each with
    // its own Bound per step from bounds on.
    struct Range {
        double h_lo, h_hi, inv_width;
        std::uint32_t bounds;
        int n_sub;
    };
    // An index-table entry: the histogram, m = -1 for a field index missing
    // from the table, with a copy of its Range, so that a draw finds its
    // bounds without a further dependent load.
    struct Entry {
        Range range;
        int m;
    };
    struct Hist {
        double X_max, a;               // shift of the weight; common area
        double pL, C1L, C2L, invC1L;   // left tail
        double pR, C1R, C2R, invC1R;   // right tail
    };
    // The steps of the constructor, in this order, each using what the ones
    // before it built.  build_lookup: lines_ and index_ (histograms only);
    // throws TableError when the index table spans far more field indices
    // than it has entries (a damaged table).  build_histograms:
    // hist_, edges_ and range_ but for the bounds; throws TableError for the
    // first block that cannot be a majorant.  build_bounds: the sub-ranges
    // within the budget, bounds_, no_bounds_ and the Range of each entry.
    void build_lookup();
    void build_histograms();
    void build_bounds();
    // Index-table entry of a field value a in [H0, H_max) by the C snippet;
    // null when a is outside (or NaN) or its field index is missing.
    const Entry *find(double a) const noexcept
    {
        // NaN fails the range test.
        if (!(a >= table_.H0 && a < table_.H_max)) return nullptr;
        // The first line with a below its bound, without branches.
        std::size_t i = 0;
        for (const Line &l : lines_) i += a >= l.upper;
        if (i == lines_.size()) return nullptr;
        const Line &l = lines_[i];
        // (int)(h/step) of the C code.  The product with the reciprocal
        // differs from the quotient by at most 3 units in the last place, so
        // their integer parts can differ only when the product lies that close
        // to an integer: there the quotient decides.  The loader has checked
        // that the index fits.
        const double p = a * l.inv_step;
        long q = static_cast<long>(p);
        // p - q is in [0, 1) for p >= 0, in (-1, 0] for p < 0: close to 0
        // or to +-1 when its distance from +-1/2 is at least l.half_far.
        const double f = p - static_cast<double>(q);
        if (std::fabs(f - std::copysign(0.5, f)) >= l.half_far) q = static_cast<long>(a / l.step);
        const unsigned long j = static_cast<unsigned long>(l.offset + q);
        if (j >= index_.size() || index_[j].m < 0) return nullptr;
        return &index_[j];
    }
    // Histogram of a field value a in [H0, H_max); false as find.
    bool lookup(double a, int &m) const noexcept
    {
        const Entry *e = find(a);
        if (e) m = e->m;
        return e != nullptr;
    }
    // Bounds for field value a in the sub-range of r holding it, or the ones
    // that decide nothing when a lies outside r.
    const Bound *bounds_at(const Range &r, double a) const
    {
        if (!(a >= r.h_lo && a <= r.h_hi)) return no_bounds_.data();
        const int s = static_cast<int>((a - r.h_lo) * r.inv_width);
        return bounds_.data() + r.bounds + static_cast<std::size_t>(s < r.n_sub ? s : r.n_sub - 1) * static_cast<std::size_t>(nd_ - 2);
    }
    // One x from histogram m at a field value a it serves directly, with the
    // bounds for a.
    template <class URBG>
    double draw_table(int m, double a, const Bound *bound, URBG &g, std::uint64_t &trials) const;
    // The proposals that need the exponential, out of the draw's loop:
    // whether x on a step of the given width of histogram m at field value a
    // is accepted with the uniform v; x from a tail (left or right) of m with
    // the uniforms u (position) and v, or NaN when it is rejected.
    bool step_accepts(int m, double a, double x, double width, double v) const;
    double tail_draw(int m, double a, bool left, double u, double v) const;
    [[noreturn]] void too_many_trials(double h, bool fallback) const;
    [[noreturn]] void not_served(double h) const;
    FieldError::Kind failure(double h) const noexcept;

    Table table_;
    double landa_;
    SamplerOptions options_;
    int nd_;
    double mirror_below_;          // field values below it are drawn through their mirror: min(H0, 0)
    std::vector<Line> lines_;      // the C snippet
    std::vector<Entry> index_;     // per field index from the table's first
    std::vector<Range> range_;     // per histogram
    std::vector<Hist> hist_;
    std::vector<double> edges_;    // p[1..Nd_poi-1] of each histogram: the edges of its steps
    std::vector<Bound> bounds_;    // per histogram, sub-range and step
    std::vector<Bound> no_bounds_; // Nd_poi - 2 bounds that decide nothing
};

// Inline: the call and its set-up cost a draw at a fixed field value about a
// tenth of its time.
template <class URBG>
inline double Sampler::draw_table(int m, double h, const Bound *bound, URBG &g, std::uint64_t &trials) const
{
    const unsigned steps = static_cast<unsigned>(nd_ - 2);
    const double *edge = edges_.data() + static_cast<std::size_t>(m) * (steps + 1);
    // Trials counted here and added at the end: through the reference,
    // which might alias the generator, the compiler would store the count
    // and reload the generator's state every trial.
    std::uint64_t t = 0;
    double x;
    for (;;) {
        if (t == options_.max_trials) {
            trials += t;
            too_many_trials(h, false);
        }
        ++t;
        std::uint64_t low;
        const unsigned k = static_cast<unsigned>(detail::piece(detail::bits64(g), nd_, low));
        const std::uint64_t r = detail::bits64(g);
        // Step k (i = k - 1 below Nd_poi - 2; the tails wrap around): x
        // uniform on [p[k], p[k+1]], accepted when v*height < weight.
        const unsigned i = k - 1;
        if (i < steps) {
            const double left = edge[i], width = edge[i + 1] - left;
            x = left + detail::unit(low) * width;
            // The top 8 bits of v put it in [top/256, (top + 1)/256).
            const unsigned top = static_cast<unsigned>(r >> 56);
            if (top < bound[i].lo) break;
            if (top > bound[i].hi) continue;
            if (step_accepts(m, h, x, width, detail::unit(r))) break;
        } else {
            // NaN when rejected.
            x = tail_draw(m, h, k == 0, detail::unit(low), detail::unit(r));
            if (x == x) break;
        }
    }
    trials += t;
    return x;
}

template <class URBG>
double Sampler::draw_fallback(double h, URBG &g, std::uint64_t &trials) const
{
    if (!std::isfinite(h)) not_served(h);
    const detail::GaussEnvelope e = detail::gauss_envelope(landa_, std::fabs(h));
    // The polar method turns a pair of uniforms inside the unit disc into
    // two independent normal deviates: the second serves the next proposal.
    // Every pair and every proposal counts towards the limit.
    double spare = 0;
    bool have_spare = false;
    for (std::uint64_t t = 0; t < options_.max_trials; ++t) {
        double z;
        if (have_spare) {
            z = spare;
            have_spare = false;
        } else {
            const double p = 2 * detail::unit(detail::bits64(g)) - 1;
            const double q = 2 * detail::unit(detail::bits64(g)) - 1;
            const double s = p * p + q * q;
            if (!(s > 0 && s < 1)) continue;
            const double f = std::sqrt(-2 * std::log(s) / s);
            z = p * f;
            spare = q * f;
            have_spare = true;
        }
        ++trials;
        const double x = e.mean + e.sd * z;
        if (e.landa == 0) return h < 0 ? -x : x;
        // x*x - tau as (x - r)(x + r): no overflow of x*x where x is huge.
        const double d = e.r >= 0 ? (x - e.r) * (x + e.r) : x * x - e.tau;
        if (detail::unit(detail::bits64(g)) < std::exp(-e.landa * d * d)) return h < 0 ? -x : x;
    }
    too_many_trials(h, true);
}

}  // namespace o1phi4
