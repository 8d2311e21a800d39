#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "numeric/numeric.h"

// Output files written under a temporary name until the run has succeeded.
constexpr int STAGED_MAX = 4;
// Room for a staged file's temporary name.
constexpr int STAGED_NAME = 256;
// Appended to the final name to make the temporary one.
constexpr char STAGED_SUFFIX[] = ".part";
// Appended to the final name for the previous file while the outputs are
// replaced (shorter than STAGED_SUFFIX, so it fits wherever that does).
constexpr char KEPT_SUFFIX[] = ".old";

int (*Rename_file)(const char *from, const char *to) = std::rename;

// Plain arrays, so that the signal handler reads nothing that can be half
// built: an entry counts once Staged_count covers it.
static char Staged_final[STAGED_MAX][STAGED_NAME];
static char Staged_temp[STAGED_MAX][STAGED_NAME];
static char Staged_kept[STAGED_MAX][STAGED_NAME];
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
    std::snprintf(Staged_kept[i], STAGED_NAME, "%s%s", file, KEPT_SUFFIX);
    Staged_count = i + 1;
    return open_file(Staged_temp[i], "w");
}

// Keeps the previous file of output i under its kept name: a second link
// to it, or, where the file system has no links, the file itself moved
// there.  *had tells whether there was one.  False when it cannot be kept
// (nothing has changed then).
static bool keep_previous(int i, bool *had)
{
    struct stat st;
    *had = lstat(Staged_final[i], &st) == 0;
    if (!*had) return errno == ENOENT;
    unlink(Staged_kept[i]);  // left by a run that was killed here
    return link(Staged_final[i], Staged_kept[i]) == 0 || Rename_file(Staged_final[i], Staged_kept[i]) == 0;
}

// Puts the previous file of output i back in its place (over the new one,
// or where a failed rename left none), or removes the new one when there
// was none before.
static bool put_back(int i, bool had)
{
    if (!had) return unlink(Staged_final[i]) == 0 || errno == ENOENT;
    if (Rename_file(Staged_kept[i], Staged_final[i]) != 0) return false;
    unlink(Staged_kept[i]);  // the second link, when rename found both names on one file
    return true;
}

[[noreturn]] static void not_put_back(const char *failed, int i)
{
    char msg[3 * STAGED_NAME + 100];
    std::snprintf(msg, sizeof msg, "!!! cannot replace the file %s, and the previous %s could not be put back: it is %s",
                  failed, Staged_final[i], Staged_kept[i]);
    nrerror(msg);
}

// The outputs are replaced in the reverse order of their opening, so that
// the first one opened (the table) is replaced last, when every other is in
// place; each other one's previous file is kept until then.  A failure puts
// back what was replaced: the user sees all outputs new or all as before.
void commit_outputs()
{
    // A signal between two renames would leave a new file beside an old one.
    sigset_t blocked, before;
    sigemptyset(&blocked);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, sig);
    pthread_sigmask(SIG_BLOCK, &blocked, &before);

    const int n = Staged_count;
    bool had[STAGED_MAX] = {};
    for (int i = n - 1; i >= 0; i--) {
        bool kept = (i == 0) || keep_previous(i, &had[i]);
        if (!kept || Rename_file(Staged_temp[i], Staged_final[i]) != 0) {
            if (kept && i > 0 && !put_back(i, had[i])) not_put_back(Staged_final[i], i);
            for (int r = i + 1; r < n; r++)
                if (!put_back(r, had[r])) not_put_back(Staged_final[i], r);
            file_error("cannot replace", Staged_final[i]);
        }
    }
    for (int i = 1; i < n; i++)
        if (had[i]) unlink(Staged_kept[i]);
    Staged_count = 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}
