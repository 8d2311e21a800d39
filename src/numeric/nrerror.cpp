#include "numeric/numeric.h"

void nrerror(const char *error_text)
{
    console_error("%s\n", error_text);
    console_error("...now exiting to system...\n");
    stop_program(1);
}
