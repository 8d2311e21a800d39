#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "density/density.h"
#include "numeric/numeric.h"
#include "run/run.h"

// Lets a value that lies just below a step through rounding keep that step.
constexpr double QUANT_EPS = 1e-8;
// Keeps a boundary that is a whole multiple of the step out of the interval below.
constexpr double BOUNDARY_EPS = 1e-9;
// Start offset and index nudge of the walk over the field axis.
constexpr double WALK_EPS = 1e-7;
// Room for a value printed with "%f" (the largest double has 309 digits).
constexpr int PRINTED_CHARS = 400;

// Upper bound of mapping interval j: the last interval ends at H_max.
static double upper(int j)
{
    return (H_max > Hn[j]) ? Hn[j] : H_max;
}

static void quantise_grid()
{
    for (int i = 0; i <= count; i++) {
        for (int j = 1; j <= N_DH; j++) {
            if (Hn[j - 1] <= H_result[i] && H_result[i] < Hn[j])
                H_result[i] = std::trunc((H_result[i] + QUANT_EPS) / D_Hn[j]) * D_Hn[j];
        }
    }
}

// The user's compiled lines compute with the printed constants, not with ours.
double printed_value(double v)
{
    char text[PRINTED_CHARS];
    std::snprintf(text, sizeof text, "%f", v);
    return std::strtod(text, nullptr);
}

// The interval whose C line takes h: the first whose printed upper bound
// lies above h (N_DH + 1 when none does, and the line stops the program).
static int line_of(double h)
{
    int k = 1;
    while (k <= N_DH && !(h < printed_value(upper(k)))) k++;
    return k;
}

// The field index the C line of interval k gives h, computed as the compiled
// line computes it: h divided by the printed step, truncated.
static int line_index(int k, const int cst[], double h)
{
    return cst[k] + static_cast<int>(h / printed_value(D_Hn[k]));
}

// cst[j]: index offset of interval j, so that H0 has index 0 and each
// interval continues the numbering one past the last step below its start.
// The nudged quotient places an H0 that lies on a step edge in the step above
// it; the user's line, dividing H0 itself by the printed step, can place it
// in the step below, at index -1.  There the offsets are taken from the
// line's own quotient.  (At the boundaries 100, 1000, ... the nudged
// quotients agree with the line's for every loss the dialogue admits.)
static void index_offsets(int cst[])
{
    for (int j = 1; j <= N_DH; j++) {
        cst[j] = -static_cast<int>((Hn[0] + QUANT_EPS) / D_Hn[1]);
        for (int k = 1; k <= j - 1; k++) {
            cst[j] = cst[j] + static_cast<int>((Hn[k] - BOUNDARY_EPS) / D_Hn[k]) -
                     static_cast<int>((Hn[k] + QUANT_EPS) / D_Hn[k + 1]) + 1;
        }
    }
    if (H_max > H0 && line_of(H0) == 1) {
        int shift = -line_index(1, cst, H0);
        for (int j = 1; j <= N_DH; j++) cst[j] += shift;
    }
}

static void write_snippets(FILE *f, const int cst[])
{
    std::fprintf(f, "----> 2. copy these lines at the beginning of the subroutine FA_O1_Phi4 --\n");
    std::fprintf(f, "--> a. In C \n");
    for (int j = 1; j <= N_DH; j++) {
        if (H_max > Hn[j - 1]) {
            if (j >= 2) std::fprintf(f, "else ");
            std::fprintf(f, "if(h<%f ) j=%d+(int)(h/%f);\n", upper(j), cst[j], D_Hn[j]);
        }
    }
    std::fprintf(f, "else {printf(\"H must be < %f\\n\"); exit(-1);}\n", H_max);
    std::fprintf(f, "-\n");
    std::fprintf(f, "--> b. In FORTRAN \n");
    for (int j = 1; j <= N_DH; j++) {
        if (j >= 2 && H_max > Hn[j - 1]) std::fprintf(f, "ELSE ");
        // D0: a default REAL literal would hold the bound and the step only
        // to single precision, and the indices would drift from the C line's.
        std::fprintf(f, "IF(h.LT.%fD0 ) THEN \n\t j=%d+int(h/%fD0)\n", upper(j), cst[j], D_Hn[j]);
    }
    // STOP 1: the program ends with a failure status, as the C line's exit does.
    std::fprintf(f, "ELSE \n\tWRITE(6,*) \"H must be < %f\"\n\tSTOP 1\nENDIF\n", H_max);
    std::fprintf(f, "$------------------- end copy ------------------------\n");
}

// Number of the first grid value above the field value h (count + 1 when
// none is): the histogram that serves h is the one just before it.
static int first_grid_value_above(double h)
{
    int m = 0;
    while (m <= count && !(H_result[m] > h)) m++;
    return m;
}

// Appends the entry (j, histogram) to the index table; stops through nrerror
// when the table would pass INDEX_TABLE_MAX entries.
static void append_entry(int index[][2], int &entries, int j, int histogram)
{
    if (entries == INDEX_TABLE_MAX)
        nrerror("!!! You must reduce increase D_Hn, the total number of pt must be <100001");
    index[entries][0] = j;
    index[entries][1] = histogram;
    entries++;
}

// Lowest field value of the range in interval k.
static double lower(int k)
{
    return std::fmax(Hn[k - 1], H0);
}

// Gives every field index from `from` to `to`, in interval k, an entry of its
// own.  A walk whose positions are offset from the index steps can step over
// the part-step below a boundary, start above the index the line gives H0,
// or stop before the part-step below H_max: such an index is served from the
// lowest field value of its step in the range, nudged as the walk nudges H0.
static void fill_skipped(int index[][2], int &entries, int from, int to, const int cst[], int k)
{
    for (int i = from; i <= to; i++) {
        double h = std::fmax((i - cst[k]) * D_Hn[k], lower(k)) + WALK_EPS;
        append_entry(index, entries, i, first_grid_value_above(h) - 1);
    }
}

// Walks the field axis from H0 in the steps of the mapping and records, for
// each field index, the histogram whose grid value is the last one not above
// the walk position; indices the walk steps over are filled in, so that
// every index the C line gives a field value from H0 to below H_max has its
// entry.  Returns the number of entries.
static int walk_index_table(const int cst[], int index[][2])
{
    int entries = 0;
    int k_prev = 0;  // interval of the previous walk position
    double h = H0 + WALK_EPS;  // the walk position
    while (H_max > h) {
        int k = 1;
        while (k <= N_DH && !(Hn[k - 1] <= h && h < Hn[k])) k++;
        if (k > N_DH) nrerror("!!! the field value lies in no mapping interval");
        int j = static_cast<int>((h + WALK_EPS) / D_Hn[k]) + cst[k];
        if (entries > 0) {
            fill_skipped(index, entries, index[entries - 1][0] + 1, j - 1, cst, k_prev);
        } else {
            // The table opens with the index the line gives H0 itself.
            int k0 = line_of(H0);
            if (k0 <= N_DH) fill_skipped(index, entries, line_index(k0, cst, H0), j - 1, cst, k0);
        }
        append_entry(index, entries, j, first_grid_value_above(h) - 1);
        k_prev = k;
        h = h + D_Hn[k];
        if (h > Hn[k]) h = Hn[k];
    }
    // The index of the field values just below H_max, as the walk's steps
    // place it and as the line gives it to the last field value it takes.
    if (entries > 0) {
        int last = static_cast<int>((H_max - BOUNDARY_EPS) / D_Hn[k_prev]) + cst[k_prev];
        double top = std::nextafter(std::fmin(H_max, printed_value(upper(N_DH))), 0.0);
        int k_top = line_of(top);
        if (top >= H0 && k_top <= N_DH) last = std::max(last, line_index(k_top, cst, top));
        fill_skipped(index, entries, index[entries - 1][0] + 1, last, cst, k_prev);
    }
    return entries;
}

void write_planning_files()
{
    static int index[INDEX_TABLE_MAX][2];
    int cst[N_DH_MAX];

    quantise_grid();

    FILE *plan = open_file(PLAN_FILE, "w");
    std::fprintf(plan, "%f %f\n", H0, H_max);
    std::fprintf(plan, "%d %f\n", count + 1, factor);
    for (int i = 0; i <= count; i++) std::fprintf(plan, "%d %f\n", i, H_result[i]);

    FILE *snippet = open_file(SNIPPET_FILE, "w");
    index_offsets(cst);
    write_snippets(snippet, cst);

    int entries = walk_index_table(cst, index);
    std::fprintf(snippet, "%d\n", entries);
    for (int e = 0; e < entries; e++) std::fprintf(snippet, "%d %d\n", index[e][0], index[e][1]);
    std::fprintf(plan, "%d\n", entries);

    close_file(snippet, SNIPPET_FILE);
    close_file(plan, PLAN_FILE);
}
