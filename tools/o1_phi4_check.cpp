// o1_phi4_check TABLE LANDA [options]: checks a table file against the
// weight exp(h*(x - X_max) - x*x - Landa*(x*x - 1)^2) and prints a summary.
// Exit status 0 when every check passes, 1 when one fails or the table
// cannot be loaded, 2 on a usage error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// Of these, the ones tested with both signs (the sampler serves -h too).
constexpr double MIRRORED_FRACTIONS[] = {0.2, 0.7};

void usage()
{
    std::fprintf(stderr,
                 "usage: o1_phi4_check TABLE LANDA [options]\n"
                 "  -n N      samples per field value (default %ld)\n"
                 "  -H h      field value for the sampling test, of either sign (repeatable; default 5 spread over\n"
                 "            [H0, H_max) and the negatives of two of them)\n"
                 "  -k K      equiprobable bins of the chi-square test (default %d)\n"
                 "  -a ALPHA  level of the chi-square and acceptance tests (default %g)\n"
                 "  -s SEED   seed of the draws and of the random field values (default 1)\n"
                 "  -p P      x points per step in the majorant check (default 32)\n"
                 "  -f F      evenly spaced field values inside each histogram's range (default 5)\n"
                 "  -r R      random field values inside each histogram's range (default 3)\n"
                 "  -m M      grid points of the field-index map check (default %ld)\n"
                 "  -v        list every problem found\n",
                 DEFAULT_SAMPLES, DEFAULT_BINS, DEFAULT_ALPHA, DEFAULT_MAP_POINTS);
}

bool number(const char *s, double &v)
{
    char *end;
    v = std::strtod(s, &end);
    return end != s && *end == '\0' && std::isfinite(v);
}

bool count(const char *s, long lo, long &v)
{
    char *end;
    v = std::strtol(s, &end, 10);
    return end != s && *end == '\0' && v >= lo;
}

const char *verdict(bool ok) { return ok ? "ok" : "FAIL"; }

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        usage();
        return 2;
    }
    const char *path = argv[1];
    double landa;
    if (!number(argv[2], landa) || landa < 0) {
        std::fprintf(stderr, "o1_phi4_check: LANDA must be a number >= 0, got \"%s\"\n", argv[2]);
        return 2;
    }
    long n = DEFAULT_SAMPLES, bins = DEFAULT_BINS, map_points = DEFAULT_MAP_POINTS, v;
    double alpha = DEFAULT_ALPHA;
    std::uint64_t seed = 1;
    bool verbose = false;
    std::vector<double> fields;
    o1check::MajorantOptions mo;
    for (int i = 3; i < argc; ++i) {
        const std::string o = argv[i];
        if (o == "-v") {
            verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        const char *val = argv[++i];
        double d;
        bool ok = true;
        if (o == "-n") ok = count(val, 1, n);
        else if (o == "-k") ok = count(val, 2, bins);
        else if (o == "-m") ok = count(val, 0, map_points);
        else if (o == "-s") ok = count(val, 0, v), seed = static_cast<std::uint64_t>(v);
        else if (o == "-p") ok = count(val, 2, v), mo.points_per_step = static_cast<int>(v);
        else if (o == "-f") ok = count(val, 0, v), mo.interior_h = static_cast<int>(v);
        else if (o == "-r") ok = count(val, 0, v), mo.random_h = static_cast<int>(v);
        else if (o == "-a") ok = number(val, alpha) && alpha > 0 && alpha < 1;
        else if (o == "-H") ok = number(val, d), fields.push_back(d);
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "o1_phi4_check: bad option %s %s\n", o.c_str(), val);
            usage();
            return 2;
        }
    }
    mo.seed = seed;
    mo.max_listed = verbose ? static_cast<std::size_t>(-1) : 10;

    o1phi4::Table t;
    try {
        t = o1phi4::load_table(path);
    } catch (const o1phi4::TableError &e) {
        std::printf("load: FAIL: %s\nRESULT: FAIL\n", e.what());
        return 1;
    }
    bool pass = true;
    std::printf("table %s, Landa=%g: Nd_poi=%d, %d histograms, %zu index entries, H in [%f, %f), %zu map intervals\n\n", path,
                landa, t.nd_poi, t.n_histogram + 1, t.index_j.size(), t.H0, t.H_max, t.c_map.size());

    // Bookkeeping.
    const o1check::Bookkeeping bk = o1check::check_bookkeeping(t);
    std::printf("%-28s %-44s %s\n", "check", "extent and worst case", "result");
    char line[256];
    std::snprintf(line, sizeof line, "%ld blocks, %zu problems, max |tail area/a-1| %.1e", bk.blocks, bk.problems.size(),
                  bk.worst_area_error);
    std::printf("%-28s %-44s %s\n", "bookkeeping", line, verdict(bk.problems.empty()));
    pass = pass && bk.problems.empty();

    // Majorant >= weight.
    const o1check::MajorantReport mr = o1check::check_majorant(t, landa, mo);
    std::snprintf(line, sizeof line, "%ld hist, %ld h, %.2e x; min ratio %.6f", mr.histograms, mr.field_values,
                  static_cast<double>(mr.points), mr.worst.ratio);
    std::printf("%-28s %-44s %s\n", "majorant >= weight", line, verdict(mr.failed_points == 0));
    std::printf("%-28s   smallest ratio at histogram %d, h=%.10g, x=%.10g (piece %d)\n", "", mr.worst.m, mr.worst.h, mr.worst.x,
                mr.worst.piece);
    if (!mr.reversed.empty())
        std::printf("%-28s   %zu histograms whose next field value lies below their own, checked at H_m only (first: %d)\n", "",
                    mr.reversed.size(), mr.reversed.front());
    if (mr.failed_points > 0)
        std::printf("%-28s   %ld points below the weight in %ld histograms\n", "", mr.failed_points, mr.failed_histograms);
    pass = pass && mr.failed_points == 0;

    // Field-index map.
    const o1check::MapReport fm = o1check::check_field_map(t, landa, map_points, seed);
    const bool map_ok = fm.missing == 0 && fm.outside == 0 && fm.c_fortran_differ == 0;
    std::snprintf(line, sizeof line, "%ld h: %ld missing index, %ld outside [H_m,H_m+1]", fm.points, fm.missing, fm.outside);
    std::printf("%-28s %-44s %s\n", "field-index map", line, verdict(map_ok));
    if (fm.rounding > 0)
        std::printf("%-28s   %ld h outside by rounding only (h/step rounded up at a cell boundary)\n", "", fm.rounding);
    if (fm.outside > 0)
        std::printf("%-28s   largest distance outside %.3g; smallest ratio there %.6f (histogram %d, h=%.10g, x=%.10g)\n", "",
                    fm.worst_excess, fm.outside_worst.ratio, fm.outside_worst.m, fm.outside_worst.h, fm.outside_worst.x);
    pass = pass && map_ok;

    // Sampling.
    if (fields.empty()) {
        for (double f : DEFAULT_FRACTIONS) fields.push_back(t.H0 + f * (t.H_max - t.H0));
        for (double f : MIRRORED_FRACTIONS) fields.push_back(-(t.H0 + f * (t.H_max - t.H0)));
    }
    std::printf("\nsampling: %ld draws per field value, %ld equiprobable bins, level %g\n", n, bins, alpha);
    std::printf("%12s %6s %10s %8s %10s %10s %10s %8s  %s\n", "h", "hist", "chi2", "dof", "p-value", "acc.meas", "acc.pred", "z",
                "result");
    try {
        const o1phi4::Sampler s(t, landa);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const double h = fields[i];
            const o1check::SampleReport r = o1check::check_samples(s, h, n, static_cast<int>(bins), alpha, seed + i);
            if (!r.error.empty()) {
                std::printf("%12.6f %6s  FAIL: %s\n", h, "-", r.error.c_str());
                pass = false;
                continue;
            }
            const bool ok = r.chi2_ok && r.acc_ok;
            std::printf("%12.6f %6d %10.2f %8ld %10.3g %10.6f %10.6f %8.2f  %s%s%s\n", h, r.m, r.chi2, bins - 1, r.p_value,
                        r.acc_measured, r.acc_predicted, r.acc_z, verdict(ok), r.chi2_ok ? "" : " chi2",
                        r.acc_ok ? "" : " acceptance");
            pass = pass && ok;
        }
    } catch (const o1phi4::TableError &e) {
        std::printf("  FAIL: the sampler refuses the table: %s\n", e.what());
        pass = false;
    }

    // Details of what failed.
    if (!bk.problems.empty() || !bk.notes.empty() || !mr.violations.empty() || !fm.examples.empty()) std::printf("\n");
    const std::size_t listed = verbose ? static_cast<std::size_t>(-1) : 10;
    for (std::size_t i = 0; i < bk.problems.size() && i < listed; ++i) std::printf("bookkeeping: %s\n", bk.problems[i].c_str());
    for (std::size_t i = 0; i < bk.notes.size() && i < listed; ++i) std::printf("note: %s\n", bk.notes[i].c_str());
    for (const o1check::Violation &w : mr.violations)
        std::printf("majorant: histogram %d, h=%.10g: ratio %.6f at x=%.10g (piece %d)\n", w.m, w.h, w.ratio, w.x, w.piece);
    for (const o1check::MapProblem &p : fm.examples) {
        if (p.m < 0)
            std::printf("field map: h=%.17g has field index %ld, missing from the index table\n", p.h, p.index);
        else
            std::printf("field map: h=%.17g -> index %ld -> histogram %d serving [%.6f, %.6f]\n", p.h, p.index, p.m, p.H_lo, p.H_hi);
    }
    if (fm.c_fortran_differ) std::printf("field map: the C and FORTRAN snippets differ\n");
    std::printf("\nRESULT: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
