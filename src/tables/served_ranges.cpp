#include <cmath>
#include <cstdio>
#include <cstring>

#include "numeric/numeric.h"
#include "run/run.h"
#include "tables/tables.h"

// Longest line of the snippet file that is read whole.
constexpr int SNIPPET_LINE = 512;

// One C line of the snippet: "if(h<upper ) j=offset+(int)(h/step);".
struct CLine {
    double upper, step;
    int offset;
};

static bool next_line(FILE *f, char *line)
{
    return std::fgets(line, SNIPPET_LINE, f) != nullptr;
}

// Skips lines up to and including the first one that starts with prefix.
static void skip_to(FILE *f, char *line, const char *prefix)
{
    while (next_line(f, line))
        if (std::strncmp(line, prefix, std::strlen(prefix)) == 0) return;
    file_error("cannot find the field-index map in", SNIPPET_FILE);
}

// The C lines up to the closing "else {printf(...": their number.
static int read_c_lines(FILE *f, char *line, CLine lines[])
{
    int n = 0;
    skip_to(f, line, "--> a. In C");
    while (next_line(f, line)) {
        const char *s = line;
        if (std::strncmp(s, "else ", 5) == 0) s += 5;
        if (std::strncmp(s, "{printf", 7) == 0) return n;
        CLine c;
        if (n == N_DH_MAX || std::sscanf(s, "if(h<%lf ) j=%d+(int)(h/%lf);", &c.upper, &c.offset, &c.step) != 3 ||
            !(c.step > 0))
            break;
        lines[n++] = c;
    }
    file_error("cannot read the C lines of the field-index map from", SNIPPET_FILE);
}

// The smallest double h >= 0 whose quotient h/step, rounded as the user's
// compiled line rounds it, truncates to q or more.  q*step lies within a
// rounding of it; the quotient is monotone in h, so stepping to neighbouring
// doubles finds it.
static double first_with_quotient(double q, double step)
{
    if (!(q > 0)) return 0.0;
    double h = q * step;
    while (h > 0 && std::trunc(std::nextafter(h, 0.0) / step) >= q) h = std::nextafter(h, 0.0);
    while (std::isfinite(h) && std::trunc(h / step) < q) h = std::nextafter(h, INFINITY);
    return h;
}

// The field values h in [from, to) that "j=offset+(int)(h/step)" sends to
// the index offset + q, as the line computes it: [lo, hi).  Field values are
// never negative, so no value reaches q < 0.  Returns whether it holds one.
static bool line_cell(double q, double step, double from, double to, double &lo, double &hi)
{
    if (q < 0) return false;
    lo = std::fmax(first_with_quotient(q, step), from);
    hi = std::fmin(first_with_quotient(q + 1, step), to);
    return lo < hi;
}

// Widens [Served_lo[m], Served_hi[m]] by [lo, hi).
static void widen(int m, double lo, double hi)
{
    if (std::isnan(Served_lo[m]) || lo < Served_lo[m]) Served_lo[m] = lo;
    if (std::isnan(Served_hi[m]) || hi > Served_hi[m]) Served_hi[m] = hi;
}

void read_served_ranges(int N, double h0, double h_max)
{
    for (int m = 0; m <= N; m++) Served_lo[m] = Served_hi[m] = NAN;
    FILE *f = open_file(SNIPPET_FILE, "r");
    char line[SNIPPET_LINE];
    CLine c[N_DH_MAX];
    int n = read_c_lines(f, line, c);
    skip_to(f, line, "$------------------- end copy");
    int entries;
    if (std::fscanf(f, "%d", &entries) != 1 || entries < 0 || entries > INDEX_TABLE_MAX)
        file_error("cannot read the size of the index table from", SNIPPET_FILE);
    for (int e = 0; e < entries; e++) {
        int j, m;
        if (std::fscanf(f, "%d %d", &j, &m) != 2) file_error("cannot read the index table from", SNIPPET_FILE);
        if (m < 0 || m > N) file_error("found a histogram number out of range in", SNIPPET_FILE);
        // Field values of index j under C line i: those in [lower_i, upper_i)
        // whose quotient h/step_i truncates to j - offset_i.
        double lower = h0;
        for (int i = 0; i < n; i++) {
            double lo, hi;
            if (line_cell(static_cast<double>(j) - c[i].offset, c[i].step, std::fmax(lower, h0),
                          std::fmin(c[i].upper, h_max), lo, hi))
                widen(m, lo, hi);
            lower = c[i].upper;
        }
    }
    std::fclose(f);
}
