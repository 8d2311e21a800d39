#include <cstdio>
#include <cstdlib>

#include "numeric/numeric.h"

void nrerror(const char *error_text)
{
    // Whatever the program printed so far goes out first, so that a log of
    // both streams keeps its order.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error_text);
    std::fprintf(stderr, "...now exiting to system...\n");
    std::exit(1);
}
