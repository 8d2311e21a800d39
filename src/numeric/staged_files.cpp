#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <sys/stat.h>
#include <unistd.h>

#include "numeric/numeric.h"

// Output files written under a temporary name until the run has succeeded.
constexpr int STAGED_MAX = 4;
// Room for a staged file's temporary name.
constexpr int STAGED_NAME = 256;
// Appended to the final name to make the temporary one.
constexpr char STAGED_SUFFIX[] = ".part";

// Plain arrays, so that the signal handler reads nothing that can be half
// built: an entry counts once Staged_count covers it.
static char Staged_final[STAGED_MAX][STAGED_NAME];
static char Staged_temp[STAGED_MAX][STAGED_NAME];
static volatile sig_atomic_t Staged_count = 0;

static void remove_staged()
{
    for (int i = 0; i < Staged_count; i++) unlink(Staged_temp[i]);
}

// A stop by a signal removes the temporary files too, then ends the
// program as the signal would have.
static void remove_staged_on_signal(int sig)
{
    remove_staged();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

FILE *open_output(const char *file)
{
    static bool hooked = false;
    if (!hooked) {
        std::atexit(remove_staged);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_staged_on_signal);
        hooked = true;
    }
    // Something that is not a file in the way of the final name would only
    // show at the rename, after all the work: refuse it now.
    struct stat st;
    if (stat(file, &st) == 0 && !S_ISREG(st.st_mode)) file_error("cannot create", file);
    if (Staged_count == STAGED_MAX || std::strlen(file) + sizeof STAGED_SUFFIX > STAGED_NAME)
        file_error("cannot stage", file);
    int i = Staged_count;
    std::snprintf(Staged_final[i], STAGED_NAME, "%s", file);
    std::snprintf(Staged_temp[i], STAGED_NAME, "%s%s", file, STAGED_SUFFIX);
    Staged_count = i + 1;
    return open_file(Staged_temp[i], "w");
}

void commit_outputs()
{
    for (int i = 0; i < Staged_count; i++)
        if (std::rename(Staged_temp[i], Staged_final[i]) != 0) file_error("cannot replace", Staged_final[i]);
    Staged_count = 0;
}
