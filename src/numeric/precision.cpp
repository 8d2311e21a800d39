#include "numeric/numeric.h"

void precision() {}
