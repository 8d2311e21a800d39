#include <cstdio>

#include "numeric/numeric.h"

void file_error(const char *what, const char *file)
{
    char msg[300];
    std::snprintf(msg, sizeof msg, "!!! %s the file %s", what, file);
    nrerror(msg);
}

FILE *open_file(const char *file, const char *mode)
{
    FILE *f = std::fopen(file, mode);
    if (!f) file_error(mode[0] == 'r' ? "cannot open" : "cannot create", file);
    return f;
}

void close_file(FILE *f, const char *file)
{
    bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) file_error("cannot write", file);
}
