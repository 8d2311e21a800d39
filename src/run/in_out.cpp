#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "density/density.h"
#include "numeric/numeric.h"
#include "run/run.h"

// Reads one number with "%lf"; anything that is not a finite number, or the
// end of input, stops the program: the dialogue never loops on a failed read.
static double read_number(const char *what)
{
    double v;
    if (std::scanf("%lf", &v) != 1 || !std::isfinite(v)) {
        char msg[200];
        std::snprintf(msg, sizeof msg, "!!! a number was expected for %s", what);
        nrerror(msg);
    }
    return v;
}

static void read_landa()
{
    for (;;) {
        std::printf("give Landa;   !Landa>0.5!   example: 1.                       -> Landa=");
        Landa = read_number("Landa");
        if (!(Landa >= LANDA_MIN)) {
            std::printf("!!! Landa must be >= 0.5 (the weight has no maximum to search below)\n");
        } else if (Landa > LANDA_MAX) {
            std::printf("!!! Landa must be <= %g (the weight is too narrow for the integrals beyond)\n", LANDA_MAX);
        } else if (!weight_sound_at(0)) {
            std::printf("!!! Landa is too large: the weight underflows already at H=0\n");
        } else {
            return;
        }
    }
}

static void read_h0(double limit)
{
    for (;;) {
        std::printf("give Hinitial (H0);    example: 0.(normal)                       -> H0=");
        H0 = read_number("H0");
        if (H0 < 0) {
            std::printf("!!! H0 must be >= 0\n");
        } else if (!(H0 < limit)) {
            std::printf("!!! H0 must be < %f for Landa=%f (the weight underflows beyond)\n", limit, Landa);
        } else {
            return;
        }
    }
}

// The largest value with six decimals that is not above v: a limit printed
// so, and typed back, lies within it.
static double six_decimals_below(double v)
{
    double p = printed_value(v);
    return (p > v) ? printed_value(p - RANGE_MIN) : p;
}

static void read_h_max(double limit)
{
    for (;;) {
        std::printf("give Hmaximum (H_max); example: 100.                          -> H_max=");
        H_max = read_number("H_max");
        if (!(H_max > H0)) {
            std::printf("!!! H_max must be > H0\n");
        } else if (!(H_max - H0 >= RANGE_MIN - RANGE_ROUNDING * H_max)) {
            std::printf("!!! H_max must be at least H0 + %f (a narrower range serves no field value)\n", RANGE_MIN);
        } else if (H_max > limit && (H_max > 2 * limit || !weight_sound_at(H_max))) {
            std::printf("!!! H_max must be <= %f for Landa=%f (the weight underflows beyond)\n",
                        six_decimals_below(limit), Landa);
        } else {
            return;
        }
    }
}

// Whether the field step 0.004 p of the first mapping interval survives
// the six decimals of the C and FORTRAN lines: a user's code dividing by a
// rounded step sends field values to histograms not built for them.
static bool step_prints_exactly(double p)
{
    double step = FIRST_STEP_PER_LOSS * p;
    return std::fabs(printed_value(step) - step) <= STEP_PRINT_TOL * step;
}

static void read_loss()
{
    for (;;) {
        std::printf("give the %% of losses to accept (>=1%%); example: 10 for 10%%  -> %%losses=");
        factor = read_number("the % of losses");
        if (factor < 1) {
            std::printf("!!! The loss must be >= 1 %%\n");
        } else if (factor > LOSS_MAX) {
            std::printf("!!! The loss must be <= %g %% (the tables cannot be built beyond)\n", LOSS_MAX);
        } else if (factor > LOSS_MAX_COARSE && H_max > FIRST_BOUNDARY) {
            std::printf("!!! The loss must be <= %g %% when H_max > %g (beyond, some histograms accept ten times "
                        "fewer draws than the loss promises)\n",
                        LOSS_MAX_COARSE, FIRST_BOUNDARY);
        } else if (!step_prints_exactly(factor)) {
            std::printf("!!! The loss must have at most 3 decimals (the field step 0.004 x loss is written with 6)\n");
        } else {
            return;
        }
    }
}

static void print_mapping()
{
    for (int j = 1; j <= N_DH; j++) {
        if (H_max > Hn[j - 1]) {
            double upper = (H_max > Hn[j]) ? Hn[j] : H_max;
            std::printf("\tif(%f<H<%f ) j=cst+(int)(H/%f);\n", Hn[j - 1], upper, D_Hn[j]);
        }
    }
}

void in_out()
{
    std::printf("\n   -----------------------------------------------------------\n");
    std::printf("   | O(1)  random number: P= exp(H.x-x^2-Landa.(x^2-1)^2).dx |\n");
    std::printf("   -----------------------------------------------------------\n");
    std::printf("                                  x -> [-oo,oo[ \n\n");
    read_landa();
    double limit = largest_sound_H_max();
    read_h0(limit);
    read_h_max(limit);
    read_loss();

    double p = factor;
    Hn[0] = H0;
    D_Hn[0] = 0;
    Hn[1] = FIRST_BOUNDARY;
    D_Hn[1] = FIRST_STEP_PER_LOSS * p;
    N_DH = 1;
    while (H_max > Hn[N_DH]) {
        N_DH = N_DH + 1;
        Hn[N_DH] = std::pow(10, N_DH - 2) * SECOND_BOUNDARY;
        D_Hn[N_DH] = std::pow(10, N_DH - 2) * p * COARSE_STEP_PER_LOSS;
    }
    factor = p / 100;

    std::printf("\n");
    std::printf("For the moment H real is mapped to :\n");
    print_mapping();
    std::printf("\nThe calculs will be done for H between\n");
    std::printf("\tH0=%f -> H_max=%f with losses=%f%%\n", H0, H_max, 100 * factor);
    std::printf("The parametrization for H real is: \n");
    print_mapping();
    std::printf("\n\n");
    std::printf("this can take a while ...\n");
}
