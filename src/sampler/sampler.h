// Reference sampler for the table file O1_Phi4.res: draws x from
// exp(h*(x - X_max) - x*x - Landa*(x*x - 1)*(x*x - 1)) for a field value h by
// rejection under the histogram the table's field-index map and index table
// send h to.  The sampler picks a piece of the histogram uniformly (all have
// the common area a), a point under it, and accepts it against the weight.
//
// Both signs of the field: the weight is symmetric, P(x; -h) = P(-x; h), so a
// field value below the table's range whose mirror -h lies in [H0, H_max) is
// drawn as -x with x drawn for -h.  With H0 >= 0 that is every h with |h| in
// [H0, H_max).  Field values the table serves in neither way (|h| >= H_max,
// |h| < H0, an index missing from the index table) are an error, or, when the
// caller switches the fallback on, drawn exactly without the table.
//
// This header is the sampler's interface; it brings in the rest:
//   table.h         the table model, loading a file, check_table
//   rng.h           Xoshiro256ss and the uniform bits a draw takes
//   weight.h        the weight, its slope and stationary points
//   sampler_draw.h  the draw path, inline: lookup, rejection, fallback
// Needs only the standard library.  Errors on load throw TableError; errors
// on a draw throw FieldError (field value not served) or std::runtime_error
// (no acceptance within the trial limit).
//
// Which draw to call:
//   s(h, g)                  one x, the way std::normal_distribution is called;
//   s.draw(h, g, stats)      the same, counting proposals and fallback draws
//                            in the caller's DrawStats (one per thread): what
//                            a simulation calls for every site;
//   s.draw(h, g, trials)     the same, counting proposals only;
//   s.draw_n(h, g, out, n)   n values for one field value, looked up once;
//   s.draw_from(m, h, g, t)  one x from histogram m = s.histogram(h), for a
//                            caller that looked it up itself (a benchmark at
//                            a fixed field value);
//   s.draw_fallback(h, g, t) one x without the table, whatever h (to compare
//                            with the table, or where no table is at hand).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rng.h"
#include "table.h"
#include "weight.h"

namespace o1phi4 {

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
    bool check = true;                              // refuse a table check_table refuses (off: to sample a damaged table on purpose)
};

// Counts of one caller (one thread): every draw adds to them.
struct DrawStats {
    std::uint64_t trials = 0;    // proposals made (accepted draws / trials is the acceptance rate)
    std::uint64_t fallback = 0;  // draws that used the fallback
};

// What one proposal of a draw decided (Sampler::propose).
enum class Proposal {
    Rejected,   // the draw goes on with the next two numbers
    Accepted,   // the proposal is the draw
    NotServed,  // the table serves no histogram for h: call draw
    Undecided,  // only from propose_by_bounds: the weight decides (propose)
};

// Draws from the table for every h it serves (see the top of this file).
// Immutable after construction; one Sampler can serve several threads, each
// with its own generator and its own DrawStats.  The templates and the
// lookup are defined in sampler_draw.h.
class Sampler {
public:
    // Takes the table and the coupling Landa (0 <= Landa <= MAX_LANDA; it is
    // not in the file).  The table must have the layout load_table checks
    // (counts that agree, histogram numbers in range, increasing field
    // indices): a Table from load_table or parse_table has it, one built or
    // resized by hand must keep it.  Throws TableError when Landa is out of
    // range, when check_table(table, landa) finds a problem (unless
    // options.check is off: then only a block that cannot serve as a
    // majorant at all is refused), or when the index table is far sparser
    // than any the generator writes; std::invalid_argument when
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
    bool try_histogram(double h, int &m, FieldError::Kind *kind = nullptr) const noexcept;

    // One x for field value h; throws as draw does.
    template <class URBG>
    double operator()(double h, URBG &g) const;
    // One x for field value h; adds its proposals to stats.trials, and 1 to
    // stats.fallback when the fallback drew it.  Throws FieldError when the
    // table does not serve h and the fallback is off (or h is not finite),
    // std::runtime_error when no proposal is accepted within max_trials.
    template <class URBG>
    double draw(double h, URBG &g, DrawStats &stats) const;
    // The same, adding the proposals to trials only.
    template <class URBG>
    double draw(double h, URBG &g, std::uint64_t &trials) const;
    // n values for one h into out[0..n-1] (looked up once); returns the
    // proposals made.  Throws as draw does, with out partly written.
    template <class URBG>
    std::uint64_t draw_n(double h, URBG &g, double *out, std::size_t n) const;
    // One x from histogram m = histogram(h) (unchecked) at field value h of
    // either sign: for callers that have looked the histogram up themselves.
    // Adds the proposals to trials.
    template <class URBG>
    double draw_from(int m, double h, URBG &g, std::uint64_t &trials) const;
    // One proposal of draw(h, g, ...) made of the two numbers r0, r1 that
    // its generator would give next: Accepted with x the draw, Rejected, or
    // NotServed (x untouched) when h needs the fallback.  For callers that
    // make the numbers of many independent draws in batches: draw(h, g)
    // returns the x of the first Accepted proposal of the pairs g gives, as
    // long as there are fewer than max_trials proposals before it.
    Proposal propose(double h, std::uint64_t r0, std::uint64_t r1, double &x) const;

    // What a draw at a field value looks up before its proposals: the
    // histogram, whether through the mirror, and the bounds of the field
    // value's sub-range.  Like an iterator it points into the sampler: valid
    // while the sampler lives and is not assigned to.
    class LookUp;
    // The look-up of a draw at field value h.  Where look_up(h0) ==
    // look_up(h1) for h0 <= h1, that look-up serves every h between them:
    // the same histogram as h's own, and bounds that decide no proposal
    // otherwise (they may decide fewer).  So a caller whose field values lie
    // in a narrow range can keep a map of them.
    LookUp look_up(double h) const noexcept;
    // propose(h, r0, r1, x) with the look-up made: l is served and serves h.
    Proposal propose(const LookUp &l, double h, std::uint64_t r0, std::uint64_t r1, double &x) const;
    // The same as far as the bounds decide it (they do not depend on h):
    // Accepted or Rejected as propose says, or Undecided (x unspecified)
    // where propose needs the weight itself (a few proposals in a hundred,
    // every tail's).  For callers that make those apart, out of the way of
    // the common ones.
    Proposal propose_by_bounds(const LookUp &l, std::uint64_t r0, std::uint64_t r1, double &x) const;
    // One x by the fallback alone (no table): exact for every finite h, up
    // to the rounding of h, by the Gaussian envelope of detail::GaussEnvelope
    // (for h < 0, -x with x drawn for -h).  Adds the proposals to trials.
    // Throws FieldError for h not finite,
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
    const Entry *find(double a) const noexcept;
    // The C line of a: the first whose bound a is below (lines_.size() for
    // none).
    std::size_t line_of(double a) const noexcept;
    // Histogram of a field value a in [H0, H_max); false as find.
    bool lookup(double a, int &m) const noexcept;
    // Bounds for field value a in the sub-range of r holding it, or the ones
    // that decide nothing when a lies outside r.
    const Bound *bounds_at(const Range &r, double a) const;
    // One x from histogram m at a field value a it serves directly, with the
    // bounds for a.
    template <class URBG>
    double draw_table(int m, double a, const Bound *bound, URBG &g, std::uint64_t &trials) const;
    // One proposal of a draw from histogram m (its edges edge) at a field
    // value a it serves, made of the numbers r0 (piece and position) and r1 (the
    // acceptance uniform): whether it is accepted, with x.
    bool proposal(int m, const double *edge, double a, const Bound *bound, std::uint64_t r0, std::uint64_t r1,
                  double &x) const;
    // Its first part: the piece k (0 and Nd_poi - 1 are the tails) and the
    // position low within it; on a step, x and the step's width; what the
    // bounds say: 1 accepted, 0 rejected, -1 the weight decides (always on
    // a tail).
    int by_bounds(const double *edge, const Bound *bound, std::uint64_t r0, std::uint64_t r1, unsigned &k, std::uint64_t &low,
                  double &x, double &width) const;
    // The edges of the steps of histogram m.
    const double *edges_of(int m) const { return edges_.data() + static_cast<std::size_t>(m) * static_cast<std::size_t>(nd_ - 1); }
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

class Sampler::LookUp {
public:
    // Whether the table serves the field value (else its draw is the fallback's).
    bool served() const { return edge_ != nullptr; }
    bool operator==(const LookUp &o) const
    {
        return edge_ == o.edge_ && bound_ == o.bound_ && sign_ == o.sign_ && entry_ == o.entry_ && line_ == o.line_;
    }
    bool operator!=(const LookUp &o) const { return !(*this == o); }

private:
    friend class Sampler;
    const double *edge_ = nullptr;  // the edges of the histogram's steps
    const Bound *bound_ = nullptr;  // the bounds of the sub-range
    std::uint64_t sign_ = 0;        // the sign bit the mirror flips
    int m_ = -1;                    // the histogram
    // The C line and index-table entry that found it: one line's field
    // indices grow with the field value, so equal ones at two field values
    // mean the same entry between them.
    std::size_t line_ = 0;
    const Entry *entry_ = nullptr;
};

}  // namespace o1phi4

#include "sampler_draw.h"
