#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "numeric/numeric.h"
#include "plan/plan.h"
#include "sampler/table_format.h"

namespace {

// Longest line of the snippet file that is read whole.
constexpr int SNIPPET_LINE = 512;

bool next_line(FILE *f, char *line)
{
    return std::fgets(line, SNIPPET_LINE, f) != nullptr;
}

// Skips lines up to and including the first one that starts with prefix.
void skip_to(FILE *f, char *line, const char *prefix)
{
    while (next_line(f, line))
        if (std::strncmp(line, prefix, std::strlen(prefix)) == 0) return;
    file_error("cannot find the field-index map in", SNIPPET_FILE);
}

// The C lines "if(h<upper ) j=offset+(int)(h/step);" up to the closing
// "else {printf(...": their number.
int read_c_lines(FILE *f, char *line, o1_table_format::FieldInterval lines[])
{
    int n = 0;
    skip_to(f, line, "--> a. In C");
    while (next_line(f, line)) {
        const char *s = line;
        if (std::strncmp(s, "else ", 5) == 0) s += 5;
        if (std::strncmp(s, "{printf", 7) == 0) return n;
        o1_table_format::FieldInterval c;
        int offset;
        if (n == N_DH_MAX || std::sscanf(s, "if(h<%lf ) j=%d+(int)(h/%lf);", &c.upper, &offset, &c.step) != 3 ||
            !(c.step > 0))
            break;
        c.offset = offset;
        lines[n++] = c;
    }
    file_error("cannot read the C lines of the field-index map from", SNIPPET_FILE);
}

}  // namespace

Plan read_plan(double field_values[])
{
    Plan p{};
    FILE *f = open_file(PLAN_FILE, "r");
    // Counts are read wide, so that an absurd count is refused instead of
    // overflowing an int.
    long long histograms = 0, M = 0;
    if (std::fscanf(f, "%lf %lf\n", &p.h0, &p.h_max) != 2 || std::fscanf(f, "%lld %lf\n", &histograms, &p.factor) != 2)
        file_error("cannot read the parameters from", PLAN_FILE);
    long long N = histograms - 1;
    if (N > N_HISTOGRAM_MAX) {
        std::printf("N_histogram=%lld >= N_histogram_MAX=%d\n", N, N_HISTOGRAM_MAX);
        nrerror("N_histogram must be < N_histogram_MAX\n");
    }
    if (N < 0 || !std::isfinite(p.h0) || !std::isfinite(p.h_max) || !(p.factor > 1.0) || !std::isfinite(p.factor))
        file_error("found impossible parameters in", PLAN_FILE);
    p.N = static_cast<int>(N);
    for (int i = 0; i <= p.N; i++) {
        long long unused;
        if (std::fscanf(f, "%lld %lf\n", &unused, &field_values[i]) != 2 || !std::isfinite(field_values[i]))
            file_error("cannot read the field values from", PLAN_FILE);
    }
    if (std::fscanf(f, "%lld\n", &M) != 1 || M < 0 || M > INDEX_TABLE_MAX)
        file_error("cannot read the size of the index table from", PLAN_FILE);
    p.M = static_cast<int>(M);
    std::fclose(f);
    return p;
}

void read_served_ranges(int N, double h0, double h_max, double lo[], double hi[])
{
    FILE *f = open_file(SNIPPET_FILE, "r");
    char line[SNIPPET_LINE];
    o1_table_format::FieldInterval c[N_DH_MAX];
    int n = read_c_lines(f, line, c);
    skip_to(f, line, "$------------------- end copy");
    int entries;
    if (std::fscanf(f, "%d", &entries) != 1 || entries < 0 || entries > INDEX_TABLE_MAX)
        file_error("cannot read the size of the index table from", SNIPPET_FILE);
    std::vector<long> index_j(static_cast<size_t>(entries));
    std::vector<int> index_m(static_cast<size_t>(entries));
    for (int e = 0; e < entries; e++) {
        int j, m;
        if (std::fscanf(f, "%d %d", &j, &m) != 2) file_error("cannot read the index table from", SNIPPET_FILE);
        if (m < 0 || m > N) file_error("found a histogram number out of range in", SNIPPET_FILE);
        index_j[e] = j;
        index_m[e] = m;
    }
    std::fclose(f);
    o1_table_format::served_ranges(c, static_cast<size_t>(n), index_j.data(), index_m.data(), static_cast<size_t>(entries),
                                   h0, h_max, lo, hi, static_cast<size_t>(N) + 1);
}
