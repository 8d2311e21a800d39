#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "numeric/numeric.h"

void file_error(const char *what, const char *file)
{
    char msg[300];
    std::snprintf(msg, sizeof msg, "!!! %s the file %s", what, file);
    nrerror(msg);
}

// Stops with "!!! <what> the file <file>: <why>".
[[noreturn]] static void file_error_because(const char *what, const char *file, const char *why)
{
    char msg[400];
    std::snprintf(msg, sizeof msg, "!!! %s the file %s: %s", what, file, why);
    nrerror(msg);
}

// Opens an existing file for reading.  The open does not wait for a writer
// (a FIFO in the file's place would block an ordinary open for ever), and
// anything that is not a regular file is refused.
static int open_for_reading(const char *file)
{
    int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) file_error("cannot open", file);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        file_error_because("cannot open", file, "it is not a regular file");
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Creates the file anew for writing.  A regular file of that name (the
// previous run's) is removed first, so that a second name linked to it
// keeps its content; anything else in its place (a link, a FIFO, a folder)
// is refused.  O_EXCL with O_NOFOLLOW never opens what appears there
// meanwhile, and never follows a link.
static int create_for_writing(const char *file)
{
    struct stat st;
    if (lstat(file, &st) == 0) {
        if (!S_ISREG(st.st_mode)) file_error_because("cannot create", file, "something that is not a regular file is in its place");
        unlink(file);
    }
    int fd = open(file, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) file_error("cannot create", file);
    return fd;
}

FILE *open_file(const char *file, const char *mode)
{
    int fd = (mode[0] == 'r') ? open_for_reading(file) : create_for_writing(file);
    FILE *f = fdopen(fd, mode[0] == 'r' ? "r" : "w");
    if (!f) {
        close(fd);
        file_error(mode[0] == 'r' ? "cannot open" : "cannot create", file);
    }
    return f;
}

void close_file(FILE *f, const char *file)
{
    bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) file_error("cannot write", file);
}
