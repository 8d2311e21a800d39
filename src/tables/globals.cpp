#include "tables/tables.h"

double Acc_interval, Acc_ridders, Acc_a;
int Nd_poi;
double Hlist[GRID_SIZE];
thread_local double X0, Xlimit;
thread_local double C1[TABLE_SIZE], C2[TABLE_SIZE], C3[TABLE_SIZE];
thread_local int X_point[TABLE_SIZE];
thread_local double x1[TABLE_SIZE], f1[TABLE_SIZE];
thread_local bool Strict_right_tail = false;
double Served_lo[GRID_SIZE], Served_hi[GRID_SIZE];
