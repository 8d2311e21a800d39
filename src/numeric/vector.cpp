#include <cstdlib>

#include "numeric/numeric.h"

// One spare entry ahead of index nl: the block starts at index nl - 1.
double *vector(long nl, long nh)
{
    double *v = static_cast<double *>(std::malloc(static_cast<size_t>(nh - nl + 2) * sizeof(double)));
    if (!v) nrerror("allocation failure in vector()");
    return v + 1 - nl;
}

void free_vector(double *v, long nl, long /*nh*/)
{
    std::free(v + nl - 1);
}
