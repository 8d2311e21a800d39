// Phase 2 on several threads: every byte the program writes (console,
// status, table file, diagnostic file) is what one thread writes, for a
// whole run and for runs that stop in the middle of phase 2; the thread
// count from the environment; the captured console and stop of a thread;
// and the weights the interval maximum keeps between calls.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "density/density.h"
#include "numeric/numeric.h"
#include "tables/tables.h"
#include "test_support.h"

namespace {

bool ends(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// What a run leaves: status, both streams and both output files.
struct Outcome {
    int status;
    std::string out, err, table, curve;
};

// Waits until phase 1 of the typical run has written both planning files
// whole (their last lines are known); false after a minute.
bool plan_written(const std::string &dir)
{
    for (int i = 0; i < 1200; i++) {
        if (ends(read_file(dir + "/temp2.tmp"), "\n386 200.000000\n2520\n") &&
            ends(read_file(dir + "/temp1.tmp"), "\n2519 385\n"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Gives histogram j the field value h in the planning file.
void set_field(const std::string &dir, int j, const char *h)
{
    std::vector<std::string> lines = split_lines(read_file(dir + "/temp2.tmp"));
    lines[2 + j] = std::to_string(j) + " " + h;
    std::ofstream plan(dir + "/temp2.tmp", std::ios::binary | std::ios::trunc);
    for (const std::string &l : lines) plan << l << "\n";
}

// The typical run (Landa 1, H from 0 to 200, 10 %) on the given number of
// threads; between the phases the field values of edits replace those of
// the plan.
Outcome typical_run(int threads, const std::vector<std::pair<int, const char *>> &edits)
{
    const std::string dir = make_scratch_dir("threads");
    const std::string cmd = "cd '" + dir + "' && O1_PHI4_THREADS=" + std::to_string(threads) + " timeout 300 '" +
                            O1_PHI4_EXE + "' > stdout.txt 2> stderr.txt";
    std::signal(SIGPIPE, SIG_IGN);
    FILE *in = popen(cmd.c_str(), "w");
    if (!in) return Outcome{-2, "", "cannot start the program", "", ""};
    std::fputs("1\n0\n200\n10\n", in);
    std::fflush(in);
    if (!edits.empty()) {
        if (!plan_written(dir)) ADD_FAILURE() << "phase 1 did not write the plan";
        for (const auto &e : edits) set_field(dir, e.first, e.second);
    }
    std::fputs("1\n", in);
    int raw = pclose(in);
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir + "/stdout.txt"),
                   read_file(dir + "/stderr.txt"), read_file(dir + "/O1_Phi4.res"),
                   read_file(dir + "/O1_g1_f1_Phi4.res")};
}

// The typical plan holds the H = 1.6 histogram (number 23), whose debug
// lines show the previous histogram's last step height, and 27 histograms
// whose right tail is built twice.  Edited, it stops in the middle of phase
// 2: histogram 100 moved 3 above its range fails the majorant proof, while
// histogram 102 moved to 10000 makes 101 stop in the interval maximum
// (status -1, on standard output) and fails itself at once, so with
// threads a later histogram stops before the earlier one.
TEST(PhaseTwoThreads, EveryByteMatchesOneThread)
{
    struct Case {
        const char *name;
        std::vector<std::pair<int, const char *>> edits;
        int status;
        const char *stop;  // the end of standard output, or of standard error for status 1
    };
    const Case cases[] = {
        {"whole run", {}, 0, "You can remove the files temp1.tmp and temp2.tmp\n"
                             "     ---------------------------------------------------\n\n"},
        {"majorant proof stops histogram 100", {{100, "23.480000"}, {102, "10000.000000"}}, 1,
         "(majorant/weight=0.000206715), change the % of losses\n...now exiting to system...\n"},
        {"interval maximum stops histogram 101", {{102, "10000.000000"}}, 255,
         "Histogram=100, H=20.480000, number of pts=104, loss=10.340845%\nproblem in g1_Deltax_max => exit\n"},
    };
    for (const Case &c : cases) {
        const Outcome one = typical_run(1, c.edits);
        ASSERT_EQ(one.status, c.status) << c.name << "\n" << one.err;
        EXPECT_TRUE(ends(c.status == 1 ? one.err : one.out, c.stop)) << c.name << "\n" << one.err;
        if (c.status == 1) {
            EXPECT_TRUE(ends(one.out, "\nHistogram=99, H=20.080000, number of pts=104, loss=51.374024%\n"));
            EXPECT_EQ(one.err.rfind("!!! Histogram=100, H=23.480000: the majorant lies below the weight", 0), 0u);
        }
        if (c.edits.empty()) {
            EXPECT_NE(one.out.find("\nXlimit="), std::string::npos) << "no H = 1.6 histogram";
        }
        for (int threads : {2, 3}) {
            const Outcome many = typical_run(threads, c.edits);
            EXPECT_EQ(many.status, one.status) << c.name << ", " << threads << " threads";
            EXPECT_TRUE(many.out == one.out) << c.name << ", " << threads << " threads: standard output differs";
            EXPECT_EQ(many.err, one.err) << c.name << ", " << threads << " threads";
            EXPECT_TRUE(many.table == one.table) << c.name << ", " << threads << " threads: table file differs";
            EXPECT_TRUE(many.curve == one.curve) << c.name << ", " << threads << " threads: diagnostic file differs";
        }
    }
}

// Decision: a value of O1_PHI4_THREADS that is not a whole number from 1
// to THREADS_MAX stops the run before the table file is started; unset or
// empty means the cores available.
TEST(PhaseTwoThreadsDeathTest, ThreadCountComesFromTheEnvironment)
{
    const char *saved = std::getenv("O1_PHI4_THREADS");
    const std::string keep = saved ? saved : "";
    for (const char *bad : {"0", "-2", "abc", "2x", " 2", "+2", "1025", "99999999999999999999"}) {
        setenv("O1_PHI4_THREADS", bad, 1);
        EXPECT_EXIT(histogram_threads(), ::testing::ExitedWithCode(1),
                    "O1_PHI4_THREADS=.*the number of threads must be a whole number from 1 to 1024")
            << "\"" << bad << "\"";
    }
    struct Case { const char *value; int want; };
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    for (const Case &c : {Case{"1", 1}, Case{"3", 3}, Case{"1024", 1024}, Case{"", cores}}) {
        setenv("O1_PHI4_THREADS", c.value, 1);
        EXPECT_EQ(histogram_threads(), c.want) << "\"" << c.value << "\"";
    }
    unsetenv("O1_PHI4_THREADS");
    EXPECT_EQ(histogram_threads(), cores);
    if (saved) setenv("O1_PHI4_THREADS", keep.c_str(), 1);
}

// A thread with a capture keeps what it would have printed and how it
// would have stopped, in order; the stop is thrown, not taken.
TEST(PhaseTwoThreads, CapturedStopRecordsTextAndStatus)
{
    struct Case {
        void (*stop)();
        const char *out, *err;
        int status;
    };
    const Case cases[] = {
        {[] { console_printf("x=%d\n", 7), nrerror("bad"); }, "x=7\n", "bad\n...now exiting to system...\n", 1},
        {[] {
             Landa = 1, H = 0, Hsup = 0.4, X_min = g1_Deltax_xmaximum_4(H), X_max = g1_Deltax_xmaximum_3(H);
             X_max_sup = g1_Deltax_xmaximum_3(Hsup);
             g1_Deltax_max(0.75, X_max_sup);
         },
         "problem in g1_Deltax_max => exit\n", "", -1},
    };
    for (const Case &c : cases) {
        ConsoleCapture capture;
        Console_capture = &capture;
        EXPECT_THROW(c.stop(), StopRequested);
        Console_capture = nullptr;
        EXPECT_EQ(capture.out, c.out);
        EXPECT_EQ(capture.err, c.err);
        EXPECT_TRUE(capture.stopped);
        EXPECT_EQ(capture.status, c.status);
    }
}

// The interval maximum keeps the weights at a bin's left end and at the
// modes between calls: a change of any global they depend on must give the
// value computed afresh.
TEST(IntervalMaximum, KeptWeightsFollowEveryGlobalTheyDependOn)
{
    auto reset = [] {
        Landa = 1, H = 0, Hsup = 0.4;
        X_min = g1_Deltax_xmaximum_4(H), X_max = g1_Deltax_xmaximum_3(H), X_max_sup = g1_Deltax_xmaximum_3(Hsup);
    };
    // One interval per kept weight: the left mode, the left end left of
    // X_max, the mode of g2, the left end right of it.
    const double intervals[][2] = {{-1, 0}, {-0.6, 0.3}, {0.7, 0.9}, {0.9, 1.2}};
    auto afresh = [](double x1, double x2) {
        if (x1 < X_min) return MODE_SAFETY * std::max(g1(X_min), g1(x2));
        if (x2 < X_max) return std::max(g1(x1), g1(x2));
        if (x1 < X_max_sup) return MODE_SAFETY * g2(X_max_sup);
        return g2(x1);
    };
    struct Global { const char *name; double *value; };
    for (const Global &g : {Global{"Landa", &Landa}, Global{"H", &H}, Global{"Hsup", &Hsup}, Global{"X_max", &X_max}}) {
        for (const auto &iv : intervals) {
            reset();
            ASSERT_EQ(g1_Deltax_max(iv[0], iv[1]), afresh(iv[0], iv[1]));
            *g.value += 0.01;
            EXPECT_EQ(g1_Deltax_max(iv[0], iv[1]), afresh(iv[0], iv[1]))
                << "[" << iv[0] << ", " << iv[1] << "] after a change of " << g.name;
        }
    }
    reset();
}

}  // namespace
