#include <cmath>
#include <cstdio>
#include <string>

#include "density/density.h"
#include "numeric/numeric.h"
#include "plan/plan.h"
#include "sampler/table_format.h"
#include "sampler/weight.h"
#include "tables/tables.h"

static const char TABLE_FILE[] = "O1_Phi4.res";
static const char CURVE_FILE[] = "O1_g1_f1_Phi4.res";
// Points of the diagnostic curve beyond the first.
constexpr int CURVE_STEPS = 10000;
// A correction ratio above this is reported on the console.
constexpr double CORRECTION_REPORTED = 1.1;
// The loss printed for a histogram: the growth of its area over the first
// estimate (the integral over Nd_poi), times this, in per cent.
constexpr double LOSS_PER_AREA_GROWTH = 1.5;
constexpr double PERCENT = 100;

static void write_header(FILE *out, const Plan &p)
{
    std::fprintf(out, "-> O(1) with H0=%f -> H_max=%f and loss=%f%%\n", p.h0, p.h_max, (p.factor - 1) * LOSS_PERCENT_PER_FACTOR);
    std::fprintf(out, "------------------------------------------------------\n");
    std::fprintf(out, "----> 1. copy these lines (do not remove!) -----------------\n");
    std::fprintf(out, "--> a. in C: at the beginning of the main program \n");
    std::fprintf(out, "#define Nd_poi                   %d    // nb of points of each histogram\n", Nd_poi);
    std::fprintf(out, "#define N_histogram              %d    // nb of histograms\n", p.N);
    std::fprintf(out, "#define N_H_max                 %d    // real H -> (int) -> value of H of histogram \n",
                 p.M + 5);
    std::fprintf(out, "-\n");
    std::fprintf(out, "--> b. in FORTRAN: replace everywhere  \n");
    std::fprintf(out, "PARAMETER(Nd_poi=%d,N_hist=%d,N_O_m=%d)\n", Nd_poi, p.N, p.M + 5);
    std::fprintf(out, "-\n");
    FILE *snippet = open_file(SNIPPET_FILE, "rb");
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, snippet)) > 0) std::fwrite(buf, 1, got, out);
    if (std::ferror(snippet)) file_error("cannot read", SNIPPET_FILE);
    std::fclose(snippet);
    std::fprintf(out, "%d\n", p.N);
}

// Steps 3 to 6 of one histogram: integral, area search, corrections.
// Returns the correction ratio; *a0 and *a receive the initial and final area.
static double build_histogram(double *a0, double *a)
{
    x1[Nd_poi] = X_RIGHT;
    double integral = qromb(g1, X_LEFT, X_RIGHT);
    *a0 = integral / Nd_poi;
    *a = find_a(*a0, x1, Nd_poi);
    return corrections(x1, f1, a, Nd_poi);
}

// True when the right tail lies below log g2 at its own anchor X0.
static bool right_tail_below_weight()
{
    int last = Nd_poi - 1;
    double x = C3[last];
    double F = o1phi4::log_weight(Hsup, X_max, Landa, x);
    return C1[last] * x + C2[last] < F;
}

static bool histogram_finite(double loss, double a)
{
    bool ok = std::isfinite(H) && std::isfinite(loss) && std::isfinite(X_max) && std::isfinite(a);
    ok = ok && std::isfinite(C1[0]) && std::isfinite(C2[0]);
    ok = ok && std::isfinite(C1[Nd_poi - 1]) && std::isfinite(C2[Nd_poi - 1]);
    for (int k = 0; k < Nd_poi; k++) ok = ok && std::isfinite(X_point[k] != 0 ? C3[k] : x1[k]);
    return ok;
}

[[noreturn]] static void histogram_error(const char *what, int j)
{
    char msg[300];
    std::snprintf(msg, sizeof msg, "!!! Histogram=%d, H=%f: %s", j, H, what);
    nrerror(msg);
}

static void write_block(std::string &out, int j, double loss, double a)
{
    append_format(out, "%d %f %d %f %20.16e %20.16e\n", j, H, Nd_poi, loss, X_max, a);
    append_format(out, "%20.16e %20.16e %20.16e %20.16e\n", C1[0], C2[0], C1[Nd_poi - 1], C2[Nd_poi - 1]);
    for (int k = 0; k < Nd_poi; k++)
        append_format(out, "%20.16e %d\n", X_point[k] != 0 ? C3[k] : x1[k], X_point[k]);
    append_format(out, "%20.16e %d\n", 0.0, 0);
}

// The diagnostic file's text, from the histogram just built.
static void write_curve(std::string &out)
{
    append_format(out, "#   H=%f, Hsup=%f, x0=%f, X0=%f \n", H, Hsup, X_max, X0);
    append_format(out, "#   x       P(x)      f(x)\n");
    int k = 0;
    int n = Nd_poi;
    double x = X_LEFT;
    while (x <= X_RIGHT) {
        if (x > x1[k + 1]) k = k + 1;
        double v = xo_xnd_change(XO_EVALUATE, x, &k, f1, nullptr, &n);
        append_format(out, "%f %f %f\n", x, g1(x), v);
        x = x + (X_RIGHT - X_LEFT) / CURVE_STEPS;
    }
}

void make_histogram(int j, int N, double h_max, HistogramOutput &out)
{
    H = Hlist[j];
    // The last histogram serves every field value from its own up to
    // H_max, which quantisation can put more than 0.4 above it.
    Hsup = (j < N) ? Hlist[j + 1] : std::fmax(H + o1_table_format::LAST_HISTOGRAM_REACH, h_max);
    X_min = g1_Deltax_xmaximum_4(H);
    X_max = g1_Deltax_xmaximum_3(H);
    X_max_sup = g1_Deltax_xmaximum_3(Hsup);

    double a0, a;
    Strict_right_tail = false;
    double r = build_histogram(&a0, &a);
    if (right_tail_below_weight()) {
        // The tail iteration stopped while its tangent still held more
        // than the area right of X0, and the rescaling pushed the tail
        // under the weight: build again with the strict stop.
        Strict_right_tail = true;
        r = build_histogram(&a0, &a);
        Strict_right_tail = false;
        if (right_tail_below_weight()) histogram_error("the right tail stays below the weight", j);
    }
    if (r > CORRECTION_REPORTED) console_printf("!!! H=%f, factor=%f\n", H, r);
    double loss = (a / a0 - 1) * LOSS_PER_AREA_GROWTH * PERCENT;
    if (!histogram_finite(loss, a)) histogram_error("the histogram is not finite", j);
    if (!std::isnan(Served_lo[j])) prove_majorant(j, a, Served_lo[j], Served_hi[j]);
    console_printf("Histogram=%d, H=%f, number of pts=%d, loss=%f%%\n", j, H, Nd_poi, loss);
    write_block(out.block, j, loss, a);
    if (j == N) write_curve(out.curve);
}

static void write_text(FILE *out, const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), out);
}

int main_2()
{
    precision();
    Acc_interval = ACC_INTERVAL;
    Acc_ridders = ACC_RIDDERS;
    Acc_a = ACC_A;
    for (int i = 0; i < TABLE_SIZE; i++) X_point[i] = 0;
    // Zero once, never cleared between histograms: the last debug line of
    // the tails shows what the previous histogram left in f1.
    for (int i = 0; i < TABLE_SIZE; i++) f1[i] = 0.0;
    int threads = histogram_threads();

    Plan p = read_plan(Hlist);
    Nd_poi = points_per_histogram(p.factor, nullptr);
    if (Nd_poi < o1_table_format::ND_POI_MIN) {
        char msg[200];
        std::snprintf(msg, sizeof msg, "!!! Nd_poi=%d: a histogram needs at least %d points, decrease the losses",
                      Nd_poi, o1_table_format::ND_POI_MIN);
        nrerror(msg);
    }

    read_served_ranges(p.N, p.h0, p.h_max, Served_lo, Served_hi);
    // Both output files replace the previous ones only once the run has
    // succeeded; a stop leaves those untouched.
    FILE *out = open_output(TABLE_FILE);
    write_header(out, p);

    std::string curve;
    if (threads == 1) {
        for (int j = 0; j <= p.N; j++) {
            HistogramOutput h;
            make_histogram(j, p.N, p.h_max, h);
            write_text(out, h.block);
            if (j == p.N) curve.swap(h.curve);
        }
    } else {
        curve = make_histograms_in_threads(p.N, p.h_max, threads, out);
    }
    close_file(out, TABLE_FILE);
    FILE *curve_file = open_output(CURVE_FILE);
    write_text(curve_file, curve);
    close_file(curve_file, CURVE_FILE);
    commit_outputs();

    std::printf("\n     ---------------------------------------------------\n");
    std::printf("You must COPY THE FILE \"O1_Phi4.res\" IN YOUR WORKING DIRECTORY\n");
    std::printf("You must COPY THE FIRST LINES of O1_Phi4.res in your program\n");
    std::printf("You can remove the files temp1.tmp and temp2.tmp\n");
    std::printf("     ---------------------------------------------------\n\n");
    return 0;
}
