// A run that stops in phase 2 leaves the tables of the previous run as they
// were and no temporary file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

bool has_part_file(const std::string &dir)
{
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".part") return true;
    return false;
}

TEST(FailedRun, LeavesThePreviousTablesUntouched)
{
    const std::string dir = make_scratch_dir("failed");
    ASSERT_EQ(run_program("1\n0\n5\n10\n1\n", 60, dir).status, 0);
    const std::string table = read_file(dir + "/O1_Phi4.res"), curve = read_file(dir + "/O1_g1_f1_Phi4.res");
    ASSERT_FALSE(table.empty());

    // Stopped by nrerror after the new table was complete (the diagnostic
    // file's temporary name is taken by a folder), and by SIGTERM in the
    // middle of a long phase 2.
    const std::string blocker = dir + "/O1_g1_f1_Phi4.res.part";
    ASSERT_EQ(mkdir(blocker.c_str(), 0755), 0);
    RunResult r = run_program("1\n0\n6\n10\n1\n", 60, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create the file O1_g1_f1_Phi4.res.part"), std::string::npos) << r.err;
    std::filesystem::remove(blocker);
    EXPECT_FALSE(has_part_file(dir));
    EXPECT_EQ(read_file(dir + "/O1_Phi4.res"), table);
    EXPECT_EQ(read_file(dir + "/O1_g1_f1_Phi4.res"), curve);

    // One thread keeps phase 2 of the heaviest plan well beyond the second.
    setenv("O1_PHI4_THREADS", "1", 1);
    r = run_program("1\n0\n100\n1\n1\n", 1, dir);
    unsetenv("O1_PHI4_THREADS");
    EXPECT_TRUE(r.timed_out);
    EXPECT_FALSE(has_part_file(dir));
    EXPECT_EQ(read_file(dir + "/O1_Phi4.res"), table);
    EXPECT_EQ(read_file(dir + "/O1_g1_f1_Phi4.res"), curve);
}

}  // namespace
