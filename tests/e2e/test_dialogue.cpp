// The dialogue of the built program: unreadable input, refused values asked
// again, the mapping lines, and files that cannot be created.  Each run ends
// early, at a bad read or after a small grid.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include "test_support.h"

namespace {

const std::string EXITING = "\n...now exiting to system...\n";

// A run that stops with status 1, printing 'out' on stdout and 'err' on stderr.
struct Stop {
    const char *input, *out, *err;
};

void expect_stops(std::initializer_list<Stop> cases)
{
    for (const Stop &c : cases) {
        SCOPED_TRACE("input " + ::testing::PrintToString(std::string(c.input)));
        RunResult r = run_program(c.input, 30);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(has(r.out, c.out)) << r.out;
        EXPECT_TRUE(has(r.err, c.err)) << r.err;
    }
}

TEST(Dialogue, UnreadableInputStopsNamingTheExpectedValue)
{
    const std::string landa = "!!! a number was expected for Landa" + EXITING;
    const std::string answer = "!!! a whole number was expected as the answer (1 to continue)" + EXITING;
    expect_stops({{"one\n", "", landa.c_str()},
                  {"", "", landa.c_str()},
                  {"1\nzero\n", "", "!!! a number was expected for H0\n"},
                  {"1\nnan\n", "", "!!! a number was expected for H0\n"},
                  {"1\n0\n", "", "!!! a number was expected for H_max\n"},
                  {"1\n0\ninf\n", "", "!!! a number was expected for H_max\n"},
                  {"1\n0\n5\nten\n", "", "!!! a number was expected for the % of losses\n"},
                  {"1\n0\n5\n10\nyes\n", "", answer.c_str()},
                  // Only the answer 1 goes on: 1.5 starts a new attempt.
                  {"1\n0\n5\n10\n1.5\n", "", landa.c_str()},
                  {"1\n0\n5\n10\n", "", answer.c_str()}});
}

// The accepted value is shown by the read that follows it.
TEST(Dialogue, RefusedValueIsAskedAgain)
{
    expect_stops({
        {"0.4\n0.5\nq\n", "!!! Landa must be >= 0.5 (the weight has no maximum to search below)\ngive Landa;",
         "for H0"},
        {"1\n-0.5\n0\nq\n", "!!! H0 must be >= 0\ngive Hinitial", "for H_max"},
        {"1\n308\n0\nq\n",
         "!!! H0 must be < 307.985625 for Landa=1.000000 (the weight underflows beyond)\ngive Hinitial", "for H_max"},
        {"1\n5\n5\n6\nq\n", "!!! H_max must be > H0\ngive Hmaximum", "for the % of losses"},
        {"1\n0\n1e-9\n6\nq\n", "!!! H_max must be at least H0 + 0.000001 (a narrower range serves no field value)\n",
         "for the % of losses"},
        {"1\n50\n50.0000001\n60\nq\n", "!!! H_max must be at least H0 + 0.000001", "for the % of losses"},
        {"1\n0\n308\n307.9\nq\n",
         "!!! H_max must be <= 307.985624 for Landa=1.000000 (the weight underflows beyond)\ngive Hmaximum",
         "for the % of losses"},
        {"2\n0\n372\n371\nq\n", "!!! H_max must be <= 371.", "for the % of losses"},
        {"0.5\n0\n256\n255\nq\n", "!!! H_max must be <= 255.", "for the % of losses"},
        // Beyond it the first samples of phase 2's integral all underflow.
        {"1000\n0\n2389\n2388\nq\n", "!!! H_max must be <= 2388.", "for the % of losses"},
        // Beyond these losses phase 2 stops or builds histograms that hardly accept.
        {"1\n0\n5\n76\n75\nq\n", "!!! The loss must be <= 75 % (the tables cannot be built beyond)\ngive the %",
         "as the answer"},
        {"1\n0\n100.5\n21\n20\nq\n", "!!! The loss must be <= 20 % when H_max > 100 (beyond, some histograms", "as the answer"},
        {"10001\n10000\n0\nq\n", "!!! Landa must be <= 10000 (the weight is too narrow for the integrals beyond)\ngive Landa",
         "for H_max"},
        {"1\n4.9\n5\n0.99\n1\nq\n", "!!! The loss must be >= 1 %\ngive the %", "as the answer"},
        // A step the lines would print rounded (0.00493824 as 0.004938).
        {"1\n4.9\n5\n1.23456\n1.235\nq\n",
         "!!! The loss must have at most 3 decimals (the field step 0.004 x loss is written with 6)\ngive the %",
         "as the answer"},
    });
}

// A limit the dialogue names is accepted when typed back: the largest H_max
// (for Landa 1 and 2 the limit rounded to six decimals lies above it) and
// the narrowest range (H0 + 0.000001 comes out a few ulps narrower for 2.7).
TEST(Dialogue, PrintedLimitIsAcceptedWhenTypedBack)
{
    for (const char *landa : {"1", "2", "1000"}) {
        RunResult r = run_program(std::string(landa) + "\n0\n1e9\nq\n", 30);
        const std::string head = "!!! H_max must be <= ";
        const size_t at = r.out.find(head);
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string limit = r.out.substr(at + head.size(), r.out.find(' ', at + head.size()) - at - head.size());
        r = run_program(std::string(landa) + "\n0\n1e9\n" + limit + "\nq\n", 30);
        EXPECT_EQ(r.out.find(head), r.out.rfind(head)) << "Landa " << landa << ": " << limit << " refused";
        EXPECT_TRUE(has(r.err, "for the % of losses")) << r.err;
    }
    for (const char *range : {"2.7\n2.700001", "1.1\n1.100001", "50.2\n50.200001", "150.35\n150.350001"}) {
        RunResult r = run_program(std::string("1\n") + range + "\nq\n", 30);
        EXPECT_FALSE(has(r.out, "at least H0")) << range;
        EXPECT_TRUE(has(r.err, "for the % of losses")) << range << ": " << r.err;
    }
}

// One line per interval that H_max reaches, the same list printed twice.
TEST(Dialogue, MappingLinesListTheIntervalsUpToHMax)
{
    const char *L1 = "\tif(99.000000<H<100.000000 ) j=cst+(int)(H/0.040000);\n";
    const char *L1000 = "\tif(999.000000<H<100.000000 ) j=cst+(int)(H/0.040000);\n"
                        "\tif(100.000000<H<1000.000000 ) j=cst+(int)(H/5.000000);\n";
    const std::pair<const char *, std::string> cases[] = {
        {"1\n99\n100\n10\nq\n", L1},
        {"1\n99\n100.5\n10\nq\n", L1 + std::string("\tif(100.000000<H<100.500000 ) j=cst+(int)(H/5.000000);\n")},
        {"1000\n999\n1000\n10\nq\n", L1000},
        {"1000\n999\n1000.001\n10\nq\n",
         L1000 + std::string("\tif(1000.000000<H<1000.001000 ) j=cst+(int)(H/50.000000);\n")},
        {"1\n99\n101\n1\nq\n", "\tif(99.000000<H<100.000000 ) j=cst+(int)(H/0.004000);\n"
                               "\tif(100.000000<H<101.000000 ) j=cst+(int)(H/0.500000);\n"},
        {"1\n99\n101\n20\nq\n", "\tif(99.000000<H<100.000000 ) j=cst+(int)(H/0.080000);\n"
                                "\tif(100.000000<H<101.000000 ) j=cst+(int)(H/10.000000);\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run_program(c.first, 30);
        EXPECT_TRUE(has(r.out, "mapped to :\n" + c.second + "\nThe calculs will be done")) << r.out;
        EXPECT_TRUE(has(r.out, "H real is: \n" + c.second + "\n\nthis can take a while ...\n")) << r.out;
        EXPECT_TRUE(has(r.err, "as the answer")) << r.err;
    }
}

// Something other than a regular file where the program writes a file: a
// folder, a FIFO (which an open for writing would wait on for ever), a link
// (which it would follow).  The run stops at once naming the file, and a
// link's target is left alone; a stale temporary file linked to another
// file is replaced, never written through.
TEST(BlockedFile, StopsTheRunNamingTheFile)
{
    const std::string in_place = ": something that is not a regular file is in its place" + EXITING;
    struct Case {
        const char *name;
        char kind;  // 'd' folder, 'p' FIFO, 'l' symbolic link, 'h' hard link, each to or beside "victim"
        std::string err;
    };
    const Case cases[] = {
        {"temp2.tmp", 'd', "!!! cannot create the file temp2.tmp" + in_place},
        {"temp1.tmp", 'd', "!!! cannot create the file temp1.tmp" + in_place},
        {"O1_Phi4.res", 'd', "!!! cannot create the file O1_Phi4.res" + EXITING},
        {"O1_g1_f1_Phi4.res", 'd', "!!! cannot create the file O1_g1_f1_Phi4.res" + EXITING},
        {"temp2.tmp", 'p', "!!! cannot create the file temp2.tmp" + in_place},
        {"O1_Phi4.res.part", 'p', "!!! cannot create the file O1_Phi4.res.part" + in_place},
        {"O1_g1_f1_Phi4.res.part", 'p', "!!! cannot create the file O1_g1_f1_Phi4.res.part" + in_place},
        {"O1_Phi4.res.part", 'l', "!!! cannot create the file O1_Phi4.res.part" + in_place},
        {"temp1.tmp", 'l', "!!! cannot create the file temp1.tmp" + in_place},
        {"O1_Phi4.res.part", 'h', ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " as " + c.kind);
        std::string dir = make_scratch_dir("blocked");
        const std::string path = dir + "/" + c.name, victim = dir + "/victim";
        std::ofstream(victim) << "keep";
        int made = c.kind == 'd'   ? mkdir(path.c_str(), 0755)
                   : c.kind == 'p' ? mkfifo(path.c_str(), 0644)
                   : c.kind == 'l' ? symlink("victim", path.c_str())
                                   : link(victim.c_str(), path.c_str());
        ASSERT_EQ(made, 0);
        RunResult r = run_program("1\n0\n5\n10\n1\n", 20, dir);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, c.err.empty() ? 0 : 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_file(victim), "keep");
    }
}

}  // namespace
