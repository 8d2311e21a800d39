// o1_phi4_plot: the data behind the pictures of scripts/plot_table.sh, from a
// table file in full precision, on standard output for gnuplot.
//
//   o1_phi4_plot histogram TABLE LANDA (-m M | -H h)
//     One histogram against its weight: per x, the majorant and the weight at
//     the lowest and the highest field value the histogram serves (log10),
//     and the ratio majorant/weight at both.
//   o1_phi4_plot loss TABLE LANDA [-n N]
//     The acceptance the table predicts (weight integral over the majorant's
//     area) and the loss 1 - acceptance at N + 1 field values over each
//     histogram's range, across [H0, H_max).
//
// Everything is computed in logarithms: at H = 200 the weight is about 1e-75
// and its tails underflow long before the picture ends.  A table whose
// bookkeeping the validator refuses (an area, a tail, the order of the
// positions, X_max not the mode for LANDA) is refused here too: its picture
// would be meaningless.  A majorant below the weight is drawn, and flagged.
// Exit status 0 on success, 1 when the table cannot be loaded, is refused or
// does not serve h, 2 on a usage error.  The comment lines before the one of
// the column names are the picture's title.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"

namespace {

// The tails are drawn this many decay lengths 1/|slope| beyond their anchor
// (the majorant falls by e^4, about 55, over them) ...
constexpr double DRAWN_TAIL_DECAY_LENGTHS = 4.0;
// ... and at least this fraction of the span of the steps.
constexpr double DRAWN_TAIL_SHARE = 0.1;
// x points per tail and per step (both ends included).
constexpr int TAIL_POINTS = 150;
constexpr int STEP_POINTS = 8;
// Field values per histogram range in the loss picture, less one.
constexpr long DEFAULT_LOSS_INTERVALS = 8;
// ln 10, to print base-10 logarithms of values held as natural ones.
const double LN10 = std::log(10.0);

void usage()
{
    std::fprintf(stderr,
                 "usage: o1_phi4_plot histogram TABLE LANDA (-m M | -H h)\n"
                 "         histogram M, or the histogram the index table sends field value h to\n"
                 "       o1_phi4_plot loss TABLE LANDA [-n N]\n"
                 "         acceptance at N + 1 field values per histogram (default N = %ld)\n",
                 DEFAULT_LOSS_INTERVALS);
}

// A whole argument as a finite number.
bool parse(const char *s, double &v)
{
    char *end;
    v = std::strtod(s, &end);
    return end != s && *end == '\0' && std::isfinite(v);
}

// The field values histogram m serves: the index table's range, or, for a
// histogram no entry names, the range it was built for.
void field_range(const o1phi4::Table &t, int m, double &lo, double &hi)
{
    const std::size_t i = static_cast<std::size_t>(m);
    if (t.used(m)) {
        lo = t.served_lo[i];
        hi = t.served_hi[i];
    } else {
        lo = t.blocks[i].H;
        hi = std::max(lo, t.H_upper(m));
    }
}

// The histogram the index table sends field value h to, as the C snippet
// looks it up; false when h is outside [H0, H_max) or its index is missing.
bool serving(const o1phi4::Table &t, double h, int &m)
{
    long j;
    if (!(h >= t.H0) || !o1phi4::field_index(t, h, j)) return false;
    const auto e = std::lower_bound(t.index_j.begin(), t.index_j.end(), j);
    if (e == t.index_j.end() || *e != j) return false;
    m = t.index_m[static_cast<std::size_t>(e - t.index_j.begin())];
    return true;
}

// Predicted acceptance of histogram m at field value h: integral of the
// weight over the area Nd_poi*a under the majorant.
double acceptance(const o1phi4::Table &t, int m, double landa, double h)
{
    const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
    const o1check::ExactLaw law(h, b.X_max, landa);
    return std::exp(law.log_integral() - std::log(t.nd_poi * b.a));
}

// One x of the histogram picture.
struct Point {
    double x;
    int piece;
    double log_major, log_lo, log_hi;  // natural logarithms
};

struct Curve {
    const o1phi4::Block &b;
    double landa, h_lo, h_hi;
    std::vector<Point> points;

    // The piece's points over [x0, x1] in increasing order, log majorant
    // c*x + C0: evenly spaced, plus the stationary points of the gap log
    // majorant - log weight inside, where the ratio may be smallest.
    void piece(int k, double x0, double x1, int n, double c, double C0)
    {
        std::vector<double> xs;
        for (int i = 0; i < n; ++i) xs.push_back(i + 1 == n ? x1 : x0 + (x1 - x0) * i / (n - 1));
        for (double h : {h_lo, h_hi})
            for (double x : o1check::stationary_points(landa, h - c))
                if (x > x0 && x < x1) xs.push_back(x);
        std::sort(xs.begin(), xs.end());
        for (double x : xs) points.push_back(Point{x, k, c * x + C0, o1check::log_weight(h_lo, b.X_max, landa, x),
                                             o1check::log_weight(h_hi, b.X_max, landa, x)});
    }
};

// Whether the validator's bookkeeping and mode checks pass t for landa;
// lists their problems on stderr when not.
bool sound_bookkeeping(const o1phi4::Table &t, double landa)
{
    const o1check::Bookkeeping bk = o1check::check_bookkeeping(t);
    const o1check::ModeReport md = o1check::check_modes(t, landa);
    for (const std::string &p : bk.problems) std::fprintf(stderr, "o1_phi4_plot: %s\n", p.c_str());
    for (const std::string &p : md.problems) std::fprintf(stderr, "o1_phi4_plot: %s\n", p.c_str());
    if (bk.problems.empty() && md.problems.empty()) return true;
    std::fprintf(stderr, "o1_phi4_plot: %s is damaged or not made for Landa = %.17g (see o1_phi4_check): no picture\n",
                 o1phi4::printable(t.file).c_str(), landa);
    return false;
}

// Prints the histogram picture's data for histogram m: its title lines
// (range served, loss, smallest ratio), then one line per x over both tails
// and every step, edges shared by neighbouring pieces.
int plot_histogram(const o1phi4::Table &t, double landa, int m)
{
    const o1phi4::Block &b = t.blocks[static_cast<std::size_t>(m)];
    double lo, hi;
    field_range(t, m, lo, hi);
    const int nd = static_cast<int>(b.p.size());
    const double p0 = b.p[0], X0 = b.p[static_cast<std::size_t>(nd) - 1];
    const double span = DRAWN_TAIL_SHARE * (X0 - p0);
    Curve c{b, landa, lo, hi, {}};
    c.piece(0, p0 - std::max(span, DRAWN_TAIL_DECAY_LENGTHS / std::fabs(b.C1L)), p0, TAIL_POINTS, b.C1L, b.C2L);
    for (int k = 1; k + 1 < nd; ++k) {
        const double x0 = b.p[static_cast<std::size_t>(k)], x1 = b.p[static_cast<std::size_t>(k) + 1];
        c.piece(k, x0, x1, STEP_POINTS, 0, std::log(b.a / (x1 - x0)));
    }
    c.piece(nd - 1, X0, X0 + std::max(span, DRAWN_TAIL_DECAY_LENGTHS / std::fabs(b.C1R)), TAIL_POINTS, b.C1R, b.C2R);

    // The smallest ratio drawn, at either end of the field range.
    const Point *w = &c.points.front();
    double gap = INFINITY, w_h = lo;
    for (const Point &q : c.points) {
        const double g[2] = {q.log_major - q.log_lo, q.log_major - q.log_hi};
        for (int e = 0; e < 2; ++e) {
            if (!(g[e] >= gap)) {
                gap = g[e];
                w = &q;
                w_h = e == 0 ? lo : hi;
            }
        }
    }
    const double acc_lo = acceptance(t, m, landa, lo), acc_hi = acceptance(t, m, landa, hi);
    std::printf("# Histogram %d (H = %g) %s [%.6g, %.6g)\n", m, b.H,
                t.used(m) ? "serves h in" : "is named by no index entry; built for h in", lo, hi);
    std::printf("# loss %.2f %% in the file; 1 - acceptance %.1f %% at h = %g, %.1f %% at h = %g\n", b.loss, 100 * (1 - acc_lo), lo,
                100 * (1 - acc_hi), hi);
    std::printf("# smallest ratio majorant/weight %.6f at x = %.6g (piece %d), h = %g%s\n", std::exp(gap), w->x, w->piece, w_h,
                gap < std::log1p(-o1check::RATIO_TOL) ? ": NOT A MAJORANT" : "");
    std::printf("# columns: x piece log10(majorant) log10(weight at h=%.10g) log10(weight at h=%.10g) ratio_lo ratio_hi\n", lo, hi);
    for (const Point &q : c.points)
        std::printf("%.10e %3d %.10e %.10e %.10e %.10e %.10e\n", q.x, q.piece, q.log_major / LN10, q.log_lo / LN10, q.log_hi / LN10,
                    std::exp(q.log_major - q.log_lo), std::exp(q.log_major - q.log_hi));
    return 0;
}

// Prints the loss picture's data: its title lines (largest loss, histograms
// above the loss asked for), then h, histogram, acceptance and loss at n + 1
// field values over each used histogram's range, in increasing h.
int plot_loss(const o1phi4::Table &t, double landa, long n)
{
    std::vector<int> order;
    for (int m = 0; m <= t.n_histogram; ++m)
        if (t.used(m)) order.push_back(m);
    std::sort(order.begin(), order.end(), [&](int i, int j) {
        return t.served_lo[static_cast<std::size_t>(i)] < t.served_lo[static_cast<std::size_t>(j)];
    });
    struct Row {
        double h;
        int m;
        double acc;
    };
    std::vector<Row> rows;
    for (int m : order) {
        double lo, hi;
        field_range(t, m, lo, hi);
        for (long i = 0; i <= n; ++i) {
            // The upper end belongs to the next histogram: there the value is
            // this one's limit from below.
            const double h = i == n ? hi : lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n);
            int served;
            if (i < n && !(serving(t, h, served) && served == m)) continue;  // a gap in the hull of m's cells
            rows.push_back(Row{h, m, acceptance(t, m, landa, h)});
        }
    }

    const double asked = t.loss_header / 100;
    Row worst{NAN, -1, INFINITY};
    std::vector<int> over;  // histograms whose loss exceeds the one asked for somewhere
    for (const Row &r : rows) {
        if (!(r.acc >= worst.acc)) worst = r;
        if (1 - r.acc > asked && (over.empty() || over.back() != r.m)) over.push_back(r.m);
    }
    std::printf("# Loss across the table: H in [%g, %g), Landa = %g, %d histograms (%zu in use) of %d points\n", t.H0, t.H_max, landa,
                t.n_histogram + 1, order.size(), t.nd_poi);
    std::printf("# largest loss %.1f %% at h = %g (histogram %d); above the %g %% asked for in %zu of the %zu histograms in use\n",
                100 * (1 - worst.acc), worst.h, worst.m, t.loss_header, over.size(), order.size());
    std::printf("# loss asked for: %g\n", t.loss_header);
    std::printf("# columns: h histogram acceptance loss_percent\n");
    for (const Row &r : rows) std::printf("%.10e %4d %.10e %.6f\n", r.h, r.m, r.acc, 100 * (1 - r.acc));
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || (std::strcmp(argv[1], "histogram") != 0 && std::strcmp(argv[1], "loss") != 0)) {
        usage();
        return 2;
    }
    const bool histogram = std::strcmp(argv[1], "histogram") == 0;
    double landa;
    if (!parse(argv[3], landa) || landa < 0) {
        std::fprintf(stderr, "o1_phi4_plot: LANDA must be a number >= 0, got \"%s\"\n", argv[3]);
        return 2;
    }
    double m_arg = -1, h = NAN, n = DEFAULT_LOSS_INTERVALS;
    for (int i = 4; i < argc; i += 2) {
        const std::string o = argv[i];
        const bool known = histogram ? o == "-m" || o == "-H" : o == "-n";
        double v;
        if (!known || i + 1 >= argc || !parse(argv[i + 1], v) || (o != "-H" && (v != std::floor(v) || v < 0 || v > 1e6))) {
            std::fprintf(stderr, "o1_phi4_plot: bad option %s%s%s\n", o.c_str(), i + 1 < argc ? " " : "", i + 1 < argc ? argv[i + 1] : "");
            usage();
            return 2;
        }
        (o == "-m" ? m_arg : o == "-H" ? h : n) = v;
    }
    if (histogram && (m_arg >= 0) == !std::isnan(h)) {
        std::fprintf(stderr, "o1_phi4_plot: give either -m M or -H h\n");
        usage();
        return 2;
    }

    try {
        const o1phi4::Table t = o1phi4::load_table(argv[2]);
        if (!sound_bookkeeping(t, landa)) return 1;
        if (!histogram) return plot_loss(t, landa, std::max(1L, static_cast<long>(n)));
        int m = static_cast<int>(m_arg);
        if (!std::isnan(h) && !serving(t, h, m)) {
            std::fprintf(stderr, "o1_phi4_plot: the table does not serve h = %.17g (it serves [%g, %g))\n", h, t.H0, t.H_max);
            return 1;
        }
        if (std::isnan(h) && m > t.n_histogram) {
            std::fprintf(stderr, "o1_phi4_plot: the table has histograms 0 to %d, not %d\n", t.n_histogram, m);
            return 1;
        }
        return plot_histogram(t, landa, m);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "o1_phi4_plot: %s\n", e.what());
        return 1;
    }
}
