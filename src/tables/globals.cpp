#include "tables/tables.h"

double Acc_interval, Acc_ridders, Acc_a;
double X0, Xlimit;
double C1[TABLE_SIZE], C2[TABLE_SIZE], C3[TABLE_SIZE];
int X_point[TABLE_SIZE];
int Nd_poi;
double Hlist[TABLE_SIZE], x1[TABLE_SIZE], f1[TABLE_SIZE];
bool Strict_right_tail = false;
double Served_lo[TABLE_SIZE], Served_hi[TABLE_SIZE];
