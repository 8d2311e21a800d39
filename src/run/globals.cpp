#include "run/run.h"

double H0, H_max, factor;
int N_DH;
double Hn[N_DH_MAX], D_Hn[N_DH_MAX];
int count;
double H_result[GRID_SIZE];
