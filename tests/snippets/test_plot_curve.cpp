// The plot script turns the diagnostic file of a real run into a picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

#ifndef O1_PLOT_SCRIPT
#error "O1_PLOT_SCRIPT must name scripts/plot_curve.sh"
#endif

TEST(DiagnosticPlot, RendersWeightAndMajorantOfARunIntoAPng)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gnuplot is missing: the diagnostic file cannot be drawn here";
    RunResult run = run_program("1\n0\n5\n10\n1\n", 60);
    ASSERT_EQ(run.status, 0) << run.err;

    std::string png = run.dir + "/curve.png";
    std::string cmd = std::string("bash '") + O1_PLOT_SCRIPT + "' '" + run.dir + "/O1_g1_f1_Phi4.res' '" + png +
                      "' > '" + run.dir + "/plot.log' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(run.dir + "/plot.log");
    std::string picture = read_file(png);
    ASSERT_GT(picture.size(), 1000u) << read_file(run.dir + "/plot.log");
    EXPECT_EQ(picture.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    if (!HasFailure()) std::system(("rm -rf '" + run.dir + "'").c_str());
}

// A file that is missing, or holds only the header, stops the script with a message.
TEST(DiagnosticPlot, RefusesAFileWithoutCurve)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gnuplot is missing";
    std::string dir = make_scratch_dir("plot");
    {
        FILE *f = std::fopen((dir + "/header_only.res").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("#   H=0.000000, Hsup=0.400000, x0=1.000000, X0=1.500000 \n#   x       P(x)      f(x)\n", f);
        std::fclose(f);
    }
    for (const char *name : {"header_only.res", "absent.res"}) {
        std::string cmd = std::string("bash '") + O1_PLOT_SCRIPT + "' '" + dir + "/" + name + "' '" + dir +
                          "/out.png' > '" + dir + "/plot.log' 2>&1";
        EXPECT_NE(std::system(cmd.c_str()), 0) << name;
        EXPECT_NE(read_file(dir + "/plot.log").find("plot_curve.sh:"), std::string::npos) << name;
        EXPECT_EQ(read_file(dir + "/out.png"), "") << name;
    }
    if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
}
