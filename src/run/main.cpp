#include <cstdio>

#include "numeric/numeric.h"
#include "run/run.h"
#include "tables/tables.h"

int main()
{
    precision();
    H0 = 0;
    H_max = 200;
    factor = 0.1;
    N_DH = 3;
    Hn[0] = 0;
    Hn[1] = 100;
    Hn[2] = 1000;
    Hn[3] = 10000;
    D_Hn[0] = 1;
    D_Hn[1] = 0.0001;
    D_Hn[2] = 0.1;
    D_Hn[3] = 1;

    int answer;
    do {
        in_out();
        factor = factor * 0.5 + 1;
        if (!(factor > 1)) nrerror("The factor must be > 1. ");
        find_H_all();
        write_planning_files();
        bool capped = false;
        int nd = points_per_histogram(factor, &capped);
        if (capped)
            std::printf("sorry, the number of pts for each histogram must be less than 600 => nd=600 =>losses min=1%% \n");
        std::printf("     -----------------------------------\n\n");
        std::printf("The size of the file \"O1_Phi4.res\" will be of %4.3f Mo\n",
                    static_cast<double>(count) * 30 * nd / 750000);
        std::printf("if the size of the file is too important, increase the losses or decrease H_max\n\n");
        std::printf("Do you want to continue (0=No, 1=yes)? (1) ->  ");
        if (std::scanf("%d", &answer) != 1) nrerror("!!! a whole number was expected as the answer (1 to continue)");
    } while (answer != 1);
    std::printf("     -----------------------------------\n\n");
    main_2();
    return 0;
}
