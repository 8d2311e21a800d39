// The lattice split over processes under mpirun: the same series, byte for
// byte, as one process on threads for any grid; refusals on every process
// before any sweep; a process that fails ends them all; a checkpoint of N
// processes, written when mpirun is told to stop, goes on on M, and starts
// a new run on several.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "heatbath_test_support.h"
#include "test_support.h"

namespace {

const std::string TABLE = O1_HEATBATH_TABLE;

// mpirun with n processes, more than the cores if need be.  (As root,
// Open MPI wants to be told that this is meant.)
std::string mpirun(int n, const std::string &args)
{
#ifdef O1_HEATBATH_MPIEXEC
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 0);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 0);
    return O1_HEATBATH_MPIEXEC " --oversubscribe -np " + std::to_string(n) + " " O1_HEATBATH_EXE " " + args;
#else
    (void)n;
    return args;
#endif
}

int run(const std::string &dir, const std::string &command) { return finish(start_program(dir, command)); }

long count(const std::string &text, const std::string &what)
{
    long n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

#ifndef O1_HEATBATH_MPIEXEC
#define SKIP_WITHOUT_MPI() GTEST_SKIP() << "o1_phi4_heatbath was built without MPI: no runs over processes to test"
#else
#define SKIP_WITHOUT_MPI()
#endif

TEST(HeatBathProcesses, SameSeriesAsOneProcessForAnyGrid)
{
    SKIP_WITHOUT_MPI();
    const std::string dir = make_scratch_dir("heatbath_processes");
    const std::string hb = "--landa 1.1 --table " + TABLE + " --therm 20 --sweeps 80 --seed 7 ";
    struct Case {
        std::string args;
        int processes;
        const char *grid;  // "": as MPI splits them
    };
    for (const Case &c : {
             Case{hb + "--dim 3 --size 8", 1, ""},
             Case{hb + "--dim 3 --size 8", 2, ""},
             Case{hb + "--dim 3 --size 8", 4, "1x2x2"},
             Case{hb + "--dim 2 --size 16", 4, "1x4"},
             Case{hb + "--dim 3 --size 8 --update metropolis", 4, "1x4x1"},
             Case{hb + "--dim 2 --size 16 --update metropolis --series-format binary", 2, ""},
             Case{hb + "--dim 3 --size 8 --sw 2", 4, "1x2x2"},
             Case{hb + "--dim 3 --size 8 --sw 1 --update metropolis", 2, "1x2x1"},
             Case{hb + "--dim 2 --size 16 --sw 1", 4, "1x4"},
             Case{hb + "--dim 2 --size 16 --sw 1 --beta 0.6", 2, ""},  // ordered: clusters span the blocks
         }) {
        const std::string grid = *c.grid ? std::string(" --grid ") + c.grid : "";
        SCOPED_TRACE(c.args + " on " + std::to_string(c.processes) + grid);
        ASSERT_EQ(run(dir, O1_HEATBATH_EXE " " + c.args + " --threads 2 --series one.dat --replace"), 0) << read_file(dir + "/err.txt");
        ASSERT_EQ(run(dir, mpirun(c.processes, c.args + grid + " --threads 1 --series many.dat --replace")), 0)
            << read_file(dir + "/err.txt");
        EXPECT_TRUE(read_file(dir + "/one.dat") == read_file(dir + "/many.dat")) << "the series differ";
        EXPECT_EQ(count(read_file(dir + "/out.txt"), "# o1_phi4_heatbath:"), 1) << "one summary, by process 0";
    }
}

TEST(HeatBathProcesses, RefusedOnEveryProcessBeforeAnySweep)
{
    SKIP_WITHOUT_MPI();
    const std::string dir = make_scratch_dir("heatbath_processes_refused");
    const std::string args = "--landa 1.1 --table " + TABLE + " --dim 3 --size 8 --therm 10 --sweeps 40 --series new.dat";
    struct Case {
        std::string command, message;
    };
    for (const Case &c : {
             Case{mpirun(2, args + " --grid 1x2x2"), "--grid 1x2x2 has 4 blocks for 2 processes"},
             Case{mpirun(2, args + " --grid 2x1x1"), "must not split direction 0"},
             Case{mpirun(2, args + " --grid 1x2"), "--grid needs 3 sizes for d = 3"},
             Case{mpirun(4, args + " --size 6 --grid 1x1x4"), "a process grid of 4 along direction 2 does not split L = 6"},
             Case{mpirun(4, args + " --size 4 --grid 1x1x4"), "into equal blocks at least 2 wide"},
             Case{mpirun(2, args + " --clusters 1"), "the single-cluster update (--clusters) runs on one process"},
             Case{mpirun(2, args + " --order lexicographic"), "needs the checkerboard order"},
             Case{mpirun(2, args + " --landa 1.0"), "is no majorant of the weight for landa = 1"},
             // One process alone cannot load its table.
             Case{mpirun(1, args) + " : -np 1 " O1_HEATBATH_EXE " " + args + " --table missing.res", "missing.res: cannot open"},
             Case{O1_HEATBATH_EXE " " + args + " --grid 1x1x2", "needs as many processes (mpirun -np 2); this run has one"},
         }) {
        EXPECT_EQ(run(dir, c.command), 2) << c.command;
        const std::string err = read_file(dir + "/err.txt");
        EXPECT_EQ(count(err, c.message), 1) << c.command << "\n" << err;
        EXPECT_FALSE(exists(dir + "/new.dat")) << c.command << ": a sweep ran";
    }
}

TEST(HeatBathProcesses, AFailingProcessEndsThemAll)
{
    SKIP_WITHOUT_MPI();
    const std::string dir = make_scratch_dir("heatbath_processes_failed");
    // Process 0 cannot write the series while the others wait for it.
    const int status = run(dir, mpirun(2, "--landa 1.1 --table " + TABLE + " --dim 3 --size 8 --therm 10 --sweeps 5000 --series /dev/full"));
    const std::string err = read_file(dir + "/err.txt");
    EXPECT_NE(status, 0) << err;
    EXPECT_NE(status, -1) << "a process hung";
    EXPECT_TRUE(count(err, "process 0 of 2: the run stopped: writing the series file /dev/full failed") == 1) << err;
}

TEST(HeatBathProcesses, CheckpointOfNProcessesResumesOnM)
{
    SKIP_WITHOUT_MPI();
    const std::string dir = make_scratch_dir("heatbath_processes_checkpoint");
    std::random_device seed;
    std::mt19937 rng(seed());
    const std::string args = "--landa 1.1 --table " + TABLE + " --dim 3 --size 8 --therm 200 --sweeps 40000 --sw 1 --seed 9 --threads 1 --series-format binary";
    ASSERT_EQ(run(dir, O1_HEATBATH_EXE " " + args + " --series whole.dat"), 0) << read_file(dir + "/err.txt");
    const std::string whole = read_file(dir + "/whole.dat");
    struct Case {
        int stopped_on, resumed_on;
        const char *grid;
    };
    for (const Case &c : {Case{4, 2, "1x2x2"}, Case{2, 1, "1x1x2"}}) {
        SCOPED_TRACE(std::to_string(c.stopped_on) + " processes, then " + std::to_string(c.resumed_on));
        for (const char *f : {"/ck.bin", "/part.dat"}) std::remove((dir + f).c_str());
        const pid_t pid = start_program(dir, mpirun(c.stopped_on, args + " --grid " + c.grid + " --series part.dat --checkpoint ck.bin"));
        // SIGTERM to mpirun once the series has reached a random fraction of
        // its length.  Open MPI hands it on to the processes a second later
        // (odls_base_sigkill_timeout) and kills them a second after that: they
        // stop after the same sweep and write the checkpoint, or, killed
        // first, leave the last one whole.
        const off_t target = static_cast<off_t>(std::uniform_real_distribution<double>(0.02, 0.1)(rng) * static_cast<double>(whole.size()));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        struct stat st {};
        while ((::stat((dir + "/part.dat").c_str(), &st) != 0 || st.st_size < target) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, SIGTERM);
        EXPECT_NE(finish(pid), -1) << "a process hung";
        const std::string err = read_file(dir + "/err.txt"), part = read_file(dir + "/part.dat");
        EXPECT_LE(count(err, "stopped by SIGTERM after sweep"), 1) << err;
        EXPECT_LT(part.size(), whole.size()) << "the run was not stopped";
        EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "the stopped series is no beginning of the whole one";
        const std::string resume = args + " --series part.dat --resume ck.bin";
        ASSERT_EQ(run(dir, c.resumed_on > 1 ? mpirun(c.resumed_on, resume) : O1_HEATBATH_EXE " " + resume), 0) << read_file(dir + "/err.txt");
        EXPECT_TRUE(read_file(dir + "/part.dat") == whole) << "the resumed series differs";
    }
    // A new run from the checkpoint's configuration, shared out to the blocks.
    const std::string from = args + " --beta 0.4 --sweeps 50 --start ck.bin --replace";
    ASSERT_EQ(run(dir, O1_HEATBATH_EXE " " + from + " --series one.dat"), 0) << read_file(dir + "/err.txt");
    ASSERT_EQ(run(dir, mpirun(4, from + " --series many.dat")), 0) << read_file(dir + "/err.txt");
    EXPECT_TRUE(read_file(dir + "/one.dat") == read_file(dir + "/many.dat")) << "the series from --start differ";
}
