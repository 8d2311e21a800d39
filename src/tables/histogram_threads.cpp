#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "numeric/numeric.h"
#include "tables/tables.h"

int histogram_threads()
{
    const char *text = std::getenv("O1_PHI4_THREADS");
    if (!text || !*text) {
        // The cores available, or 1 when the system does not tell.
        unsigned cores = std::thread::hardware_concurrency();
        if (cores == 0) return 1;
        return cores > static_cast<unsigned>(THREADS_MAX) ? THREADS_MAX : static_cast<int>(cores);
    }
    // Digits only: no sign, no blanks, no suffix.
    bool digits = true;
    for (const char *c = text; *c; c++) digits = digits && *c >= '0' && *c <= '9';
    errno = 0;
    long n = digits ? std::strtol(text, nullptr, 10) : 0;
    if (errno != 0 || n < 1 || n > THREADS_MAX) {
        char msg[200];
        std::snprintf(msg, sizeof msg,
                      "!!! O1_PHI4_THREADS=\"%.40s\": the number of threads must be a whole number from 1 to %d", text,
                      THREADS_MAX);
        nrerror(msg);
    }
    return static_cast<int>(n);
}

namespace {

// Shared by the threads that build histograms and the one that writes them.
struct Schedule {
    int N;
    double h_max;
    int ahead;  // histograms that may be claimed beyond the next one written
    std::mutex lock;
    std::condition_variable claimable;  // next, written or cancel changed
    std::condition_variable finished;   // a histogram is finished
    int next = 0;                       // the next histogram to claim
    int written = 0;                    // histograms written so far
    bool cancel = false;                // a stop is being written: claim no more
    std::vector<HistogramOutput> outputs;
    std::vector<char> done;
    // f1[Nd_poi - 2] as each histogram left it: the last step height that
    // the next histogram's debug lines show.
    std::vector<double> last_height;
};

// The claimed histogram j, or -1 when there is none left to build.
int claim(Schedule &s)
{
    std::unique_lock<std::mutex> hold(s.lock);
    s.claimable.wait(hold, [&] { return s.cancel || s.next > s.N || s.next < s.written + s.ahead; });
    if (s.cancel || s.next > s.N) return -1;
    return s.next++;
}

// What histogram j - 1 left in f1[Nd_poi - 2], waiting for it if needed (it
// was claimed before j, so it is being built).  Only the debug lines of
// H = 1.6 read it.
double previous_last_height(Schedule &s, int j)
{
    if (j == 0 || Hlist[j] != DEBUG_H) return 0.0;
    std::unique_lock<std::mutex> hold(s.lock);
    s.finished.wait(hold, [&] { return s.done[j - 1] != 0; });
    return s.last_height[j - 1];
}

// One building thread: claims histograms in order and builds each in its
// own state, capturing its console text and its stop.
void build_histograms(Schedule &s)
{
    // As main_2 does for its own thread: only the two tail flags are ever set.
    for (int k = 0; k < TABLE_SIZE; k++) X_point[k] = 0;
    for (int j = claim(s); j >= 0; j = claim(s)) {
        HistogramOutput out;
        f1[Nd_poi - 2] = previous_last_height(s, j);
        Console_capture = &out.console;
        try {
            make_histogram(j, s.N, s.h_max, out);
        } catch (const StopRequested &) {
            // Recorded in out.console; the writer ends the program.
        }
        Console_capture = nullptr;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            s.outputs[j] = std::move(out);
            s.last_height[j] = f1[Nd_poi - 2];
            s.done[j] = 1;
        }
        s.finished.notify_all();
    }
}

}  // namespace

std::string make_histograms_in_threads(int N, double h_max, int threads, FILE *out)
{
    Schedule s;
    s.N = N;
    s.h_max = h_max;
    s.ahead = AHEAD_PER_THREAD * threads;
    s.outputs.resize(static_cast<size_t>(N) + 1);
    s.done.assign(static_cast<size_t>(N) + 1, 0);
    s.last_height.assign(static_cast<size_t>(N) + 1, 0.0);

    std::vector<std::thread> pool;
    try {
        for (int t = 0; t < threads && t <= N; t++) pool.emplace_back(build_histograms, std::ref(s));
    } catch (const std::system_error &) {
        // The system refused a thread: those started do the work (the
        // output does not depend on their number).
        if (pool.empty()) nrerror("!!! cannot start a thread to build the histograms: set O1_PHI4_THREADS=1");
    }
    auto join_all = [&] {
        for (std::thread &t : pool) t.join();
    };

    // This thread writes: each histogram in turn, once it is finished.
    std::string curve;
    for (int j = 0; j <= N; j++) {
        HistogramOutput h;
        {
            std::unique_lock<std::mutex> hold(s.lock);
            s.finished.wait(hold, [&] { return s.done[j] != 0; });
            h = std::move(s.outputs[j]);
        }
        replay_console(h.console);
        if (h.console.stopped) {
            // No more histograms are claimed; those being built finish
            // before the program ends with the stop's status.
            {
                std::lock_guard<std::mutex> hold(s.lock);
                s.cancel = true;
            }
            s.claimable.notify_all();
            join_all();
            stop_program(h.console.status);
        }
        std::fwrite(h.block.data(), 1, h.block.size(), out);
        if (j == N) curve.swap(h.curve);
        {
            std::lock_guard<std::mutex> hold(s.lock);
            s.written = j + 1;
        }
        s.claimable.notify_all();
    }
    join_all();
    return curve;
}
