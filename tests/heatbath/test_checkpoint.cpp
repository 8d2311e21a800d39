// Checkpoints as a batch queue uses them: a run stopped by a signal at a
// random moment and resumed writes the same series, byte for byte, as the
// run that went through (on another number of threads too); a checkpoint or
// a file that does not fit is refused before any sweep, and nothing is
// overwritten.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "heatbath/checkpoint.h"
#include "heatbath_test_support.h"
#include "test_support.h"

namespace {

const std::string TABLE = O1_HEATBATH_TABLE;

pid_t start(const std::string &dir, const std::string &args) { return start_program(dir, O1_HEATBATH_EXE + (" " + args)); }

int run(const std::string &dir, const std::string &args) { return finish(start(dir, args)); }

off_t file_size(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

TEST(HeatBathCheckpoint, StoppedAtARandomMomentAndResumedGivesTheSameSeries)
{
    const std::string dir = make_scratch_dir("heatbath_checkpoint");
    std::random_device seed;
    std::mt19937 rng(seed());
    struct Case {
        const char *name, *args;
        int sig;                 // the signal that stops the run
        bool in_thermalisation;  // sent during the thermalisation (else among the measured sweeps)
        bool checkpoint;
    };
    const std::string hb = "--landa 1.1 --table " + TABLE + " --dim 3 --size 8 --therm 3000 --sweeps 2000 --seed 3 ";
    for (const Case &c : {
             Case{"heat bath, text, sw", "--update heatbath --sw 1", SIGTERM, false, true},
             Case{"heat bath, binary, sw", "--update heatbath --sw 1 --series-format binary", SIGINT, true, true},
             Case{"metropolis tuned, text, sw", "--update metropolis --hits 2 --sw 1", SIGTERM, true, true},
             Case{"metropolis tuned, binary", "--update metropolis --hits 2 --series-format binary", SIGTERM, false, true},
             // Killed outright: the run goes on from the last of the checkpoints
             // every 300 sweeps, the series cut back to where it was then.
             Case{"heat bath, killed", "--update heatbath --sw 1", SIGKILL, false, true},
             Case{"heat bath, no checkpoint", "--update heatbath", SIGINT, false, false},
         }) {
        const std::string args = hb + c.args;
        ASSERT_EQ(run(dir, args + " --threads 1 --series whole.dat --checkpoint whole.bin --replace"), 0) << c.name << read_file(dir + "/err.txt");
        EXPECT_EQ(read_file(dir + "/err.txt"), "") << c.name << ": no progress lines unless stderr is a terminal";
        const std::string whole = read_file(dir + "/whole.dat");

        // Stopped when the checkpoint of the start is there (thermalisation)
        // or the series has reached a random fraction of its length.
        for (const char *f : {"/ck.bin", "/part.dat"}) std::remove((dir + f).c_str());
        const std::string ck = !c.checkpoint ? "" : c.sig == SIGKILL ? " --checkpoint ck.bin --checkpoint-every 300" : " --checkpoint ck.bin";
        const pid_t pid = start(dir, args + " --threads 2 --series part.dat --replace" + ck);
        const off_t target = static_cast<off_t>(std::uniform_real_distribution<double>(0.1, 0.5)(rng) * static_cast<double>(whole.size()));
        const std::string watched = dir + (c.in_thermalisation && c.checkpoint ? "/ck.bin" : "/part.dat");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (file_size(watched) < (c.in_thermalisation ? 1 : target) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        kill(pid, c.sig);
        const int status = finish(pid);
        const std::string part = read_file(dir + "/part.dat"), err = read_file(dir + "/err.txt");
        SCOPED_TRACE(std::string(c.name) + ", stopped at byte " + std::to_string(part.size()) + " of " + std::to_string(whole.size()));
        EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "the stopped series is no beginning of the whole one";
        if (c.sig == SIGKILL) {
            EXPECT_EQ(status, 128 + SIGKILL);
        } else {
            EXPECT_EQ(status, c.checkpoint ? 0 : 128 + c.sig) << err;
            EXPECT_TRUE(has(err, "stopped by SIG")) << err;
            EXPECT_TRUE(has(err, c.in_thermalisation ? "(thermalisation)" : "(measured sweep")) << err;
            // Whole lines: the next byte of the whole series begins a line.
            EXPECT_TRUE(part.size() < whole.size() && (has(c.args, "binary") || whole[part.size() - 1] == '\n'));
        }
        if (!c.checkpoint) continue;

        // Resumed on one thread: the rest of the same chain.
        ASSERT_EQ(run(dir, args + " --threads 1 --series part.dat --resume ck.bin"), 0) << read_file(dir + "/err.txt");
        EXPECT_TRUE(read_file(dir + "/part.dat") == whole) << "the resumed series differs";
        // The last checkpoints too: the same state and counters, nothing else in them.
        EXPECT_TRUE(read_file(dir + "/ck.bin") == read_file(dir + "/whole.bin")) << "the last checkpoints differ";
        EXPECT_TRUE(has(read_file(dir + "/out.txt"), "resumed from ck.bin after sweep"));
    }
}

TEST(HeatBathCheckpoint, WhatDoesNotFitIsRefusedBeforeAnySweep)
{
    const unsigned char nine[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(o1hb::crc32(0, nine, sizeof nine), 0xCBF43926u);  // the CRC-32 check value

    const std::string dir = make_scratch_dir("heatbath_checkpoint_refused");
    const std::string args = "--landa 1.1 --table " + TABLE + " --size 4 --therm 10 --sweeps 40 --seed 5";
    ASSERT_EQ(run(dir, args + " --series s.dat --checkpoint ck.bin"), 0) << read_file(dir + "/err.txt");
    ASSERT_EQ(run(dir, args + " --series other.dat --sweeps 50"), 0);
    std::string ck = read_file(dir + "/ck.bin");
    std::ofstream(dir + "/flipped.bin", std::ios::binary) << std::string(ck).replace(ck.size() / 2, 1, 1, static_cast<char>(ck[ck.size() / 2] ^ 4));
    std::ofstream(dir + "/cut.bin", std::ios::binary) << ck.substr(0, ck.size() - 8);
    std::ofstream(dir + "/narrow.res", std::ios::binary) << narrow_table_text();
    std::ofstream(dir + "/text.bin", std::ios::binary) << "not a checkpoint\n";
    std::ofstream(dir + "/short.dat", std::ios::binary) << read_file(dir + "/s.dat").substr(0, 300);
    ASSERT_EQ(symlink(TABLE.c_str(), (dir + "/link.res").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const std::string series = read_file(dir + "/s.dat");
    const std::string resume = args + " --series s.dat --resume ";
    struct Case {
        std::string args, message;
    };
    for (const Case &c : {
             Case{resume + "ck.bin --beta 0.3", "the checkpoint is of a run with --beta 0.3750966, not 0.3"},
             Case{resume + "ck.bin --seed 6", "with --seed 5, not 6"},
             Case{resume + "ck.bin --size 6", "with --size 4, not 6"},
             Case{resume + "ck.bin --sweeps 60", "with --sweeps 40, not 60"},
             Case{resume + "ck.bin --update metropolis", "with --update heatbath, not metropolis"},
             Case{resume + "ck.bin --sw 1", "with --sw 0, not 1"},
             Case{resume + "ck.bin --table narrow.res", "another table than narrow.res"},
             Case{resume + "ck.bin --series-format binary", "with --series-format text, not binary"},
             Case{resume + "flipped.bin", "flipped.bin: a damaged checkpoint (its checksum"},
             Case{resume + "cut.bin", "cut.bin: a damaged checkpoint: " + std::to_string(ck.size() - 8) + " bytes"},
             Case{resume + "text.bin", "text.bin: not a checkpoint of o1_phi4_heatbath"},
             Case{resume + "ck.bin --start cold", "--start and --resume exclude each other"},
             Case{args + " --series other.dat --resume ck.bin", "other.dat does not start with this run's header line"},
             Case{args + " --series short.dat --resume ck.bin", "short.dat is shorter (300 bytes) than at the checkpoint"},
             Case{args + " --series s.dat", "the series file s.dat exists: give --replace"},
             Case{args + " --series new.dat --checkpoint ck.bin", "the checkpoint ck.bin exists: give --replace"},
             Case{args + " --series link.res --replace", "the series file link.res is the table"},
             Case{args + " --series new.dat --checkpoint new.dat", "the checkpoint new.dat is the series file new.dat"},
             Case{args + " --series new.dat --start ck.bin --size 6", "--start ck.bin: a configuration of d=3 L=4"},
             Case{args + " --series fifo", "the series file fifo: a FIFO with no reader"},
             Case{args + " --series new.dat --checkpoint-every 5", "--checkpoint-every needs --checkpoint"},
             Case{args + " --series new.dat --checkpoint no/ck.bin", "the checkpoint no/ck.bin cannot be written: its folder no"},
         }) {
        EXPECT_EQ(run(dir, c.args), 2) << c.args;
        const std::string err = read_file(dir + "/err.txt");
        EXPECT_TRUE(has(err, c.message)) << c.args << "\n" << err;
        EXPECT_EQ(read_file(dir + "/out.txt"), "") << c.args;
        EXPECT_TRUE(read_file(dir + "/s.dat") == series && read_file(dir + "/ck.bin") == ck) << c.args << ": a file changed";
        EXPECT_EQ(file_size(dir + "/new.dat"), -1) << c.args << ": a sweep ran";
    }
    // The configuration of a checkpoint starts a run with other parameters.
    EXPECT_EQ(run(dir, args + " --beta 0.38 --series new.dat --start ck.bin"), 0) << read_file(dir + "/err.txt");
    EXPECT_TRUE(has(read_file(dir + "/new.dat"), " start=ck.bin\n"));
}
