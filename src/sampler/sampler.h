// Reference sampler for the table file O1_Phi4.res: loads the file (header
// constants, field-index map, index table, one block per histogram) and draws
// x from exp(h*(x - X_max) - x*x - Landa*(x*x - 1)*(x*x - 1)) for a field
// value h in [H0, H_max) by rejection under the histogram's majorant.
//
// A histogram of Nd_poi pieces of one common area a: piece 0 is the left tail
// exp(C1L*x + C2L) for x < p[0], pieces k = 1..Nd_poi-2 are the steps
// [p[k], p[k+1]] of height a/(p[k+1] - p[k]), piece Nd_poi-1 is the right
// tail exp(C1R*x + C2R) for x > p[Nd_poi-1] (= X0).  The sampler picks a
// piece uniformly, a point under it, and accepts it against the weight.
//
// Needs only the standard library.  Errors on load throw TableError; errors
// on a draw throw FieldError (field value not served) or std::runtime_error
// (no acceptance within the trial limit).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

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
    // last, the larger of H + 0.4 and H_max.
    double H_upper(int m) const;
    // Whether some index-table entry names histogram m.
    bool used(int m) const { return !std::isnan(served_lo[static_cast<std::size_t>(m)]); }
};

// Last histogram's upper neighbour is at least this far above its field value.
constexpr double H_UPPER_LAST_STEP = 0.4;

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

// Weight at field value h with the shift X_max.
inline double weight(double h, double X_max, double landa, double x)
{
    return std::exp(h * (x - X_max) - x * x - landa * (x * x - 1) * (x * x - 1));
}

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

// Uniform double in [0, 1) from the top 53 bits.
inline double unit(std::uint64_t r) { return static_cast<double>(r >> 11) * 0x1.0p-53; }

// Piece index floor(n*r/2^64) and the low word of the product as the
// position within the piece.
inline int piece(std::uint64_t r, int n, std::uint64_t &low)
{
    __extension__ typedef unsigned __int128 u128;
    const u128 p = static_cast<u128>(r) * static_cast<unsigned>(n);
    low = static_cast<std::uint64_t>(p);
    return static_cast<int>(p >> 64);
}

}  // namespace detail

// ---------------------------------------------------------------- sampler

// Draws from the table for any h in [H0, H_max).  Immutable after
// construction; one Sampler can serve several threads with their own
// generators.
class Sampler {
public:
    // Trials per draw before a draw gives up (the acceptance of a sound
    // table is above one half; this catches broken tables only).
    static constexpr std::uint64_t DEFAULT_MAX_TRIALS = 1000000;

    // Takes the table and the coupling Landa (>= 0; it is not in the file).
    // Throws TableError when a block cannot serve as a majorant at all
    // (non-increasing positions, C1L <= 0, C1R >= 0, a <= 0, wrong counts).
    Sampler(Table table, double landa, std::uint64_t max_trials = DEFAULT_MAX_TRIALS);

    const Table &table() const { return table_; }
    double landa() const { return landa_; }
    double H0() const { return table_.H0; }
    double H_max() const { return table_.H_max; }
    int nd_poi() const { return nd_; }

    // Histogram serving h: field index by the C snippet, then the index
    // table.  Throws FieldError when h is outside [H0, H_max), NaN, or its
    // index is missing from the table.
    int histogram(double h) const;
    // The same without exceptions; returns false and sets *kind on failure.
    bool try_histogram(double h, int &m, FieldError::Kind *kind = nullptr) const noexcept
    {
        // NaN fails the range test.
        if (h >= table_.H0 && h < table_.H_max) {
            for (const FieldInterval &f : map_) {
                if (h < f.upper) {
                    // (int)(h/step) of the C code; the loader has checked
                    // that it fits.
                    const long i = f.offset + static_cast<long>(h / f.step) - j_first_;
                    if (i >= 0 && i < static_cast<long>(index_hist_.size()) && index_hist_[static_cast<std::size_t>(i)] >= 0) {
                        m = index_hist_[static_cast<std::size_t>(i)];
                        return true;
                    }
                    break;
                }
            }
        }
        if (kind) *kind = failure(h);
        return false;
    }

    // One x for field value h.
    template <class URBG>
    double operator()(double h, URBG &g) const
    {
        std::uint64_t trials = 0;
        return draw(h, g, trials);
    }
    // One x; adds the number of proposals made to trials.
    template <class URBG>
    double draw(double h, URBG &g, std::uint64_t &trials) const
    {
        int m;
        if (!try_histogram(h, m)) m = histogram(h);  // throws
        return draw_from(m, h, g, trials);
    }
    // n values for one h into out[0..n-1]; returns the proposals made.
    template <class URBG>
    std::uint64_t draw_n(double h, URBG &g, double *out, std::size_t n) const
    {
        const int m = histogram(h);
        std::uint64_t trials = 0;
        for (std::size_t i = 0; i < n; ++i) out[i] = draw_from(m, h, g, trials);
        return trials;
    }
    // One x from histogram m (0..N, unchecked) at field value h: for callers
    // that have looked the histogram up themselves.
    template <class URBG>
    double draw_from(int m, double h, URBG &g, std::uint64_t &trials) const;

private:
    // A step: left edge, width, height, squeeze (a lower bound of
    // weight/height over the step for every field value of the histogram's
    // range, so that u below it accepts without the exponential).
    struct Step {
        double left, width, height, squeeze;
    };
    struct Hist {
        double X_max, H_lo, H_hi;      // shift; range where the squeeze holds
        double pL, C1L, C2L, invC1L;   // left tail
        double pR, C1R, C2R, invC1R;   // right tail
    };
    [[noreturn]] void too_many_trials(double h) const;
    FieldError::Kind failure(double h) const noexcept;
    double exponent(double h, double X_max, double x) const
    {
        return h * (x - X_max) - x * x - landa_ * (x * x - 1) * (x * x - 1);
    }

    Table table_;
    double landa_;
    std::uint64_t max_trials_;
    int nd_;
    std::vector<FieldInterval> map_;  // the C snippet's intervals
    long j_first_;             // field index of index_hist_[0]
    std::vector<int> index_hist_;  // histogram per field index, -1 when missing
    std::vector<Hist> hist_;
    std::vector<Step> steps_;  // (Nd_poi - 2) per histogram
};

template <class URBG>
double Sampler::draw_from(int m, double h, URBG &g, std::uint64_t &trials) const
{
    const Hist &hs = hist_[static_cast<std::size_t>(m)];
    const Step *st = steps_.data() + static_cast<std::size_t>(m) * static_cast<std::size_t>(nd_ - 2);
    const bool squeeze = h >= hs.H_lo && h <= hs.H_hi;
    for (std::uint64_t t = 0; t < max_trials_; ++t) {
        ++trials;
        std::uint64_t low;
        const int k = detail::piece(detail::bits64(g), nd_, low);
        const double u = detail::unit(low);
        const double v = detail::unit(detail::bits64(g));
        if (k > 0 && k < nd_ - 1) {
            const Step &s = st[k - 1];
            const double x = s.left + u * s.width;
            if (squeeze && v < s.squeeze) return x;
            if (v * s.height < std::exp(exponent(h, hs.X_max, x))) return x;
        } else if (k == 0) {
            // Inversion of the left tail: x = p0 + log(1 - u)/C1L, 1 - u in (0, 1].
            const double x = hs.pL + std::log(1.0 - u) * hs.invC1L;
            if (v < std::exp(exponent(h, hs.X_max, x) - hs.C1L * x - hs.C2L)) return x;
        } else {
            const double x = hs.pR + std::log(1.0 - u) * hs.invC1R;
            if (v < std::exp(exponent(h, hs.X_max, x) - hs.C1R * x - hs.C2R)) return x;
        }
    }
    too_many_trials(h);
}

}  // namespace o1phi4
