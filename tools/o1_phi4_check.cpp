// o1_phi4_check TABLE LANDA [options]: checks a table file against the
// weight exp(h*(x - X_max) - x*x - Landa*(x*x - 1)^2) and prints a summary.
// Exit status 0 when every check passes, 1 when one fails or the table
// cannot be loaded, 2 on a usage error.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "check.h"

namespace {

constexpr long DEFAULT_SAMPLES = 1000000;
constexpr int DEFAULT_BINS = 100;
constexpr double DEFAULT_ALPHA = 1e-4;
constexpr long DEFAULT_MAP_POINTS = 200000;
// Default field values of the sampling test, as fractions of [H0, H_max).
constexpr double DEFAULT_FRACTIONS[] = {0.0, 0.2, 0.45, 0.7, 0.95};
// Upper bounds of the count options: beyond any useful run, low enough that
// no count overflows and that each costs at most some thousand times its
// default.
constexpr long MAX_SAMPLES = 1000000000;    // -n
constexpr long MAX_BINS = 100000;           // -k
constexpr long MAX_POINTS_PER_STEP = 1000;  // -p
constexpr long MAX_FIELD_VALUES = 100;      // -f, -r
constexpr long MAX_MAP_POINTS = 1000000000; // -m
// Of these, the ones tested with both signs (the sampler serves -h too).
constexpr double MIRRORED_FRACTIONS[] = {0.2, 0.7};
// Problems of each kind listed without -v.
constexpr std::size_t LISTED_BRIEF = 10;

void usage()
{
    std::fprintf(stderr,
                 "usage: o1_phi4_check TABLE LANDA [options]\n"
                 "  -n N      samples per field value (1 to 1e9, default %ld)\n"
                 "  -H h      field value for the sampling test, of either sign (repeatable; default 5 spread over\n"
                 "            [H0, H_max) and the negatives of two of them)\n"
                 "  -k K      equiprobable bins of the chi-square test (2 to 100000, default %d)\n"
                 "  -a ALPHA  level of the chi-square and acceptance tests (default %g)\n"
                 "  -s SEED   seed of the draws and of the random field values (default 1)\n"
                 "  -p P      x points per step in the majorant check (2 to 1000, default 32)\n"
                 "  -f F      evenly spaced field values inside each histogram's range (0 to 100, default 5)\n"
                 "  -r R      random field values inside each histogram's range (0 to 100, default 3)\n"
                 "  -m M      grid points of the field-index map check (0 to 1e9, default %ld)\n"
                 "  -v        list every problem found\n",
                 DEFAULT_SAMPLES, DEFAULT_BINS, DEFAULT_ALPHA, DEFAULT_MAP_POINTS);
}

bool number(const char *s, double &v)
{
    char *end;
    v = std::strtod(s, &end);
    return end != s && *end == '\0' && std::isfinite(v);
}

bool count(const char *s, long lo, long hi, long &v)
{
    char *end;
    errno = 0;
    v = std::strtol(s, &end, 10);
    return end != s && *end == '\0' && errno != ERANGE && v >= lo && v <= hi;
}

const char *verdict(bool ok) { return ok ? "ok" : "FAIL"; }

// What the command line asks for.
struct Options {
    const char *path = nullptr;
    double landa = 0;
    long n = DEFAULT_SAMPLES, bins = DEFAULT_BINS, map_points = DEFAULT_MAP_POINTS;
    double alpha = DEFAULT_ALPHA;
    std::uint64_t seed = 1;
    bool verbose = false;
    std::vector<double> fields;  // of the sampling test; empty for the default ones
    o1check::MajorantOptions majorant;
    // Problems of each kind listed in the details.
    std::size_t listed() const { return verbose ? static_cast<std::size_t>(-1) : LISTED_BRIEF; }
};

// Reads the command line into o; false (after the message and the usage) on
// a usage error.
bool parse_options(int argc, char **argv, Options &o)
{
    if (argc < 3) {
        usage();
        return false;
    }
    o.path = argv[1];
    if (!number(argv[2], o.landa) || o.landa < 0) {
        std::fprintf(stderr, "o1_phi4_check: LANDA must be a number >= 0, got \"%s\"\n", o1phi4::printable(argv[2]).c_str());
        return false;
    }
    long v;
    o1check::MajorantOptions &mo = o.majorant;
    for (int i = 3; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "-v") {
            o.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage();
            return false;
        }
        const char *val = argv[++i];
        double d;
        bool ok = true;
        if (opt == "-n") ok = count(val, 1, MAX_SAMPLES, o.n);
        else if (opt == "-k") ok = count(val, 2, MAX_BINS, o.bins);
        else if (opt == "-m") ok = count(val, 0, MAX_MAP_POINTS, o.map_points);
        else if (opt == "-s") ok = count(val, 0, LONG_MAX, v), o.seed = static_cast<std::uint64_t>(v);
        else if (opt == "-p") ok = count(val, 2, MAX_POINTS_PER_STEP, v), mo.points_per_step = static_cast<int>(v);
        else if (opt == "-f") ok = count(val, 0, MAX_FIELD_VALUES, v), mo.interior_h = static_cast<int>(v);
        else if (opt == "-r") ok = count(val, 0, MAX_FIELD_VALUES, v), mo.random_h = static_cast<int>(v);
        else if (opt == "-a") ok = number(val, o.alpha) && o.alpha > 0 && o.alpha < 1;
        else if (opt == "-H") ok = number(val, d), o.fields.push_back(d);
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "o1_phi4_check: bad option %s %s\n", o1phi4::printable(opt).c_str(), o1phi4::printable(val).c_str());
            usage();
            return false;
        }
    }
    mo.seed = o.seed;
    mo.max_listed = o.listed();
    return true;
}

// The reports of the checks that need no sampling.
struct Reports {
    o1check::Bookkeeping bookkeeping;
    o1check::ModeReport modes;
    o1check::MajorantReport majorant;
    o1check::AcceptanceReport acceptance;
    o1check::MapReport map;
};

// Runs the checks that need no sampling and prints a line of the summary
// for each (with its notes); returns whether all passed.
bool run_checks(const o1phi4::Table &t, const Options &o, Reports &r)
{
    bool pass = true;
    char line[256];
    std::printf("%-28s %-44s %s\n", "check", "extent and worst case", "result");

    // Bookkeeping.
    const o1check::Bookkeeping &bk = r.bookkeeping = o1check::check_bookkeeping(t);
    std::snprintf(line, sizeof line, "%ld blocks, %zu problems, max |tail area/a-1| %.1e", bk.blocks, bk.problems.size(),
                  bk.worst_area_error);
    std::printf("%-28s %-44s %s\n", "bookkeeping", line, verdict(bk.problems.empty()));
    pass = pass && bk.problems.empty();

    // X_max as the mode: the witness of Landa in the file.
    const o1check::ModeReport &md = r.modes = o1check::check_modes(t, o.landa);
    std::snprintf(line, sizeof line, "%ld blocks, max |slope|/max(1,H) %.1e", md.blocks, md.worst_slope);
    std::printf("%-28s %-44s %s\n", "X_max is the mode at H", line, verdict(md.problems.empty()));
    if (!md.problems.empty())
        std::printf("%-28s   %zu blocks whose X_max is no mode for this Landa: was the table made with another Landa?\n", "",
                    md.problems.size());
    pass = pass && md.problems.empty();

    // Majorant >= weight.
    const o1check::MajorantReport &mr = r.majorant = o1check::check_majorant(t, o.landa, o.majorant);
    std::snprintf(line, sizeof line, "%ld hist, %ld h, %.2e x; min ratio %.6f", mr.histograms, mr.field_values,
                  static_cast<double>(mr.points), mr.worst.ratio);
    std::printf("%-28s %-44s %s\n", "majorant >= weight", line, verdict(mr.failed_points == 0));
    std::printf("%-28s   smallest ratio at histogram %d, h=%.10g, x=%.10g (piece %d)\n", "", mr.worst.m, mr.worst.h, mr.worst.x,
                mr.worst.piece);
    if (!mr.unused.empty())
        std::printf("%-28s   %zu histograms unused: no field index leads to them (first: %d)\n", "", mr.unused.size(),
                    mr.unused.front());
    if (mr.failed_points > 0)
        std::printf("%-28s   %ld points below the weight in %ld histograms\n", "", mr.failed_points, mr.failed_histograms);
    pass = pass && mr.failed_points == 0;

    // Predicted acceptance against the header's loss.
    const o1check::AcceptanceReport &ac = r.acceptance = o1check::check_acceptance(t, o.landa);
    std::snprintf(line, sizeof line, "%ld hist, %ld h: %.4f to %.4f, floor %.4f", ac.histograms, ac.field_values,
                  ac.lowest.ratio, ac.highest.ratio, ac.floor);
    std::printf("%-28s %-44s %s\n", "predicted acceptance", line, verdict(ac.failed == 0));
    if (ac.lowest.m >= 0)
        std::printf("%-28s   lowest at histogram %d, h=%.10g; the header's loss of %g%% claims %.4f\n", "", ac.lowest.m,
                    ac.lowest.h, t.loss_header, 1 / (1 + std::fmax(t.loss_header, 0.0) / 100));
    if (ac.failed > 0) std::printf("%-28s   %ld histograms outside [floor, 1]\n", "", ac.failed);
    pass = pass && ac.failed == 0;

    // Field-index map.
    const o1check::MapReport &fm = r.map = o1check::check_field_map(t, o.landa, o.map_points, o.seed);
    const bool map_ok = fm.missing == 0 && fm.outside == 0 && fm.c_fortran_differ == 0;
    std::snprintf(line, sizeof line, "%ld h: %ld missing index, %ld outside [H_m,H_m+1]", fm.points, fm.missing, fm.outside);
    std::printf("%-28s %-44s %s\n", "field-index map", line, verdict(map_ok));
    if (fm.rounding > 0)
        std::printf("%-28s   %ld h outside by rounding only (h/step rounded up at a cell boundary)\n", "", fm.rounding);
    if (fm.outside > 0)
        std::printf("%-28s   largest distance outside %.3g; smallest ratio there %.6f (histogram %d, h=%.10g, x=%.10g)\n", "",
                    fm.worst_excess, fm.outside_worst.ratio, fm.outside_worst.m, fm.outside_worst.h, fm.outside_worst.x);
    return pass && map_ok;
}

// Samples at the field values asked for (or spread over [H0, H_max) and two
// of their mirrors) and prints a line for each; returns whether all passed.
bool run_sampling(const o1phi4::Table &t, const Options &o)
{
    std::vector<double> fields = o.fields;
    if (fields.empty()) {
        for (double f : DEFAULT_FRACTIONS) fields.push_back(t.H0 + f * (t.H_max - t.H0));
        for (double f : MIRRORED_FRACTIONS) fields.push_back(-(t.H0 + f * (t.H_max - t.H0)));
    }
    std::printf("\nsampling: %ld draws per field value, %ld equiprobable bins, level %g\n", o.n, o.bins, o.alpha);
    std::printf("%12s %6s %10s %8s %10s %10s %10s %8s  %s\n", "h", "hist", "chi2", "dof", "p-value", "acc.meas", "acc.pred", "z",
                "result");
    bool pass = true;
    try {
        // Sampled without the library's own load-time check, which would
        // refuse a damaged table before its samples could show the damage:
        // the checks above are the validator's, and independent of it.
        o1phi4::SamplerOptions so;
        so.check = false;
        const o1phi4::Sampler s(t, o.landa, so);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const double h = fields[i];
            const o1check::SampleReport r = o1check::check_samples(s, h, o.n, static_cast<int>(o.bins), o.alpha, o.seed + i);
            if (!r.error.empty()) {
                std::printf("%12.6f %6s  FAIL: %s\n", h, "-", r.error.c_str());
                pass = false;
                continue;
            }
            const bool ok = r.chi2_ok && r.acc_ok;
            std::printf("%12.6f %6d %10.2f %8ld %10.3g %10.6f %10.6f %8.2f  %s%s%s\n", h, r.m, r.chi2, o.bins - 1, r.p_value,
                        r.acc_measured, r.acc_predicted, r.acc_z, verdict(ok), r.chi2_ok ? "" : " chi2",
                        r.acc_ok ? "" : " acceptance");
            pass = pass && ok;
        }
    } catch (const o1phi4::TableError &e) {
        std::printf("  FAIL: the sampler refuses the table: %s\n", e.what());
        pass = false;
    }
    return pass;
}

// The problems behind the summary, up to `listed` of each kind.
void print_details(const o1phi4::Table &t, const Reports &r, std::size_t listed)
{
    const o1check::Bookkeeping &bk = r.bookkeeping;
    const o1check::ModeReport &md = r.modes;
    const o1check::MajorantReport &mr = r.majorant;
    const o1check::AcceptanceReport &ac = r.acceptance;
    const o1check::MapReport &fm = r.map;
    if (!bk.problems.empty() || !bk.notes.empty() || !md.problems.empty() || !mr.violations.empty() || !ac.problems.empty() ||
        !fm.examples.empty())
        std::printf("\n");
    for (std::size_t i = 0; i < bk.problems.size() && i < listed; ++i) std::printf("bookkeeping: %s\n", bk.problems[i].c_str());
    for (std::size_t i = 0; i < bk.notes.size() && i < listed; ++i) std::printf("note: %s\n", bk.notes[i].c_str());
    for (std::size_t i = 0; i < md.problems.size() && i < listed; ++i) std::printf("mode: %s\n", md.problems[i].c_str());
    char line[256];
    for (const o1check::Violation &w : mr.violations) {
        std::snprintf(line, sizeof line, "histogram %d, h=%.10g: ratio %.6f at x=%.10g (piece %d)", w.m, w.h, w.ratio, w.x, w.piece);
        std::printf("majorant: %s\n", o1check::at_line(t, t.blocks[static_cast<std::size_t>(w.m)].first_line, line).c_str());
    }
    for (std::size_t i = 0; i < ac.problems.size() && i < listed; ++i) std::printf("acceptance: %s\n", ac.problems[i].c_str());
    for (const o1check::MapProblem &p : fm.examples) {
        if (p.m < 0)
            std::printf("field map: h=%.17g has field index %ld, missing from the index table\n", p.h, p.index);
        else
            std::printf("field map: h=%.17g -> index %ld -> histogram %d serving [%.6f, %.6f]\n", p.h, p.index, p.m, p.H_lo, p.H_hi);
    }
    if (fm.c_fortran_differ) std::printf("field map: the C and FORTRAN snippets differ\n");
}

}  // namespace

int main(int argc, char **argv)
{
    // Each line as it is done, also into a pipe or a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    if (!parse_options(argc, argv, o)) return 2;

    o1phi4::Table t;
    try {
        t = o1phi4::load_table(o.path);
    } catch (const o1phi4::TableError &e) {
        std::printf("load: FAIL: %s\nRESULT: FAIL\n", e.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::printf("load: FAIL: %s: out of memory\nRESULT: FAIL\n", o1phi4::printable(o.path).c_str());
        return 1;
    }
    std::printf("table %s, Landa=%g: Nd_poi=%d, %d histograms, %zu index entries, H in [%f, %f), %zu map intervals\n\n",
                o1phi4::printable(o.path).c_str(), o.landa, t.nd_poi, t.n_histogram + 1, t.index_j.size(), t.H0, t.H_max,
                t.c_map.size());
    Reports r;
    bool pass = run_checks(t, o, r);
    pass = run_sampling(t, o) && pass;
    print_details(t, r, o.listed());
    std::printf("\nRESULT: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
