#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "numeric/numeric.h"
#include "run/run.h"
#include "tables/tables.h"

// Longest confirmation answer read as one token.
constexpr int ANSWER_CHARS = 63;
static const char NOT_AN_ANSWER[] = "!!! a whole number was expected as the answer (1 to continue)";
// The run globals before the first dialogue, which replaces every one that is
// used later.
constexpr double INITIAL_H0 = 0;
constexpr double INITIAL_H_MAX = 200;
constexpr double INITIAL_FACTOR = 0.1;
constexpr int INITIAL_N_DH = 3;
constexpr double INITIAL_HN[INITIAL_N_DH + 1] = {0, 100, 1000, 10000};
constexpr double INITIAL_D_HN[INITIAL_N_DH + 1] = {1, 0.0001, 0.1, 1};
// The size estimate of the table file printed before the confirmation:
// count * SIZE_CHARS_PER_POINT * nd / SIZE_CHARS_PER_MO.
constexpr int SIZE_CHARS_PER_POINT = 30;
constexpr int SIZE_CHARS_PER_MO = 750000;

// The confirmation answer: a number, read as one token so that nothing of it
// is left for the next read.  Only the value 1 goes on ("1.5" does not);
// anything that is not a number, or the end of input, stops the program.
static bool confirmed()
{
    char token[ANSWER_CHARS + 1];
    char *end;
    if (std::scanf("%63s", token) != 1) nrerror(NOT_AN_ANSWER);
    double v = std::strtod(token, &end);
    if (end == token || *end != '\0' || !std::isfinite(v)) nrerror(NOT_AN_ANSWER);
    return v == 1;
}

int main()
{
    precision();
    H0 = INITIAL_H0;
    H_max = INITIAL_H_MAX;
    factor = INITIAL_FACTOR;
    N_DH = INITIAL_N_DH;
    for (int j = 0; j <= INITIAL_N_DH; j++) {
        Hn[j] = INITIAL_HN[j];
        D_Hn[j] = INITIAL_D_HN[j];
    }

    bool go;
    do {
        in_out();
        factor = factor * GRID_LOSS_SHARE + 1;
        if (!(factor > 1)) nrerror("The factor must be > 1. ");
        find_H_all();
        write_planning_files();
        bool capped = false;
        int nd = points_per_histogram(factor, &capped);
        if (capped)
            std::printf("sorry, the number of pts for each histogram must be less than 600 => nd=600 =>losses min=1%% \n");
        std::printf("     -----------------------------------\n\n");
        std::printf("The size of the file \"O1_Phi4.res\" will be of %4.3f Mo\n",
                    static_cast<double>(count) * SIZE_CHARS_PER_POINT * nd / SIZE_CHARS_PER_MO);
        std::printf("if the size of the file is too important, increase the losses or decrease H_max\n\n");
        std::printf("Do you want to continue (0=No, 1=yes)? (1) ->  ");
        go = confirmed();
    } while (!go);
    std::printf("     -----------------------------------\n\n");
    main_2();
    return 0;
}
