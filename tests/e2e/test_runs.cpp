// Whole runs of the built program: the typical run (Landa=1, H0=0, H_max=200,
// 10 %) shared by every check of its suite, the small worked example, the
// capped point count and a run just below the largest sound H_max.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sampler/weight.h"
#include "test_support.h"

namespace {

const char BANNER[] = "| O(1)  random number: P= exp(H.x-x^2-Landa.(x^2-1)^2).dx |";

int occurrences(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

bool starts(const std::string &line, const std::string &prefix) { return line.rfind(prefix, 0) == 0; }

bool ends(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// --- The typical run ---

const std::string HEADER =
    "-> O(1) with H0=0.000000 -> H_max=200.000000 and loss=10.000000%\n"
    "------------------------------------------------------\n"
    "----> 1. copy these lines (do not remove!) -----------------\n"
    "--> a. in C: at the beginning of the main program \n"
    "#define Nd_poi                   104    // nb of points of each histogram\n"
    "#define N_histogram              386    // nb of histograms\n"
    "#define N_H_max                 2525    // real H -> (int) -> value of H of histogram \n"
    "-\n"
    "--> b. in FORTRAN: replace everywhere  \n"
    "PARAMETER(Nd_poi=104,N_hist=386,N_O_m=2525)\n"
    "-\n";
constexpr int BLOCKS = 387;
constexpr int BLOCK_LINES = 107;  // Nd_poi + 3

class TypicalRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        run_ = run_program("1\n0\n200\n10\n1\n", 120);
        table_ = read_file(run_.dir + "/O1_Phi4.res");
        snippet_ = read_file(run_.dir + "/temp1.tmp");
        plan_ = read_file(run_.dir + "/temp2.tmp");
        blocks_ = blocks();
    }
    void SetUp() override
    {
        ASSERT_EQ(run_.status, 0) << run_.err;
        ASSERT_EQ(blocks_.size(), static_cast<size_t>(BLOCKS));
    }

    // The histogram blocks that follow the header, the snippet copy and N
    // (none when the lines do not split into whole blocks).
    static std::vector<std::vector<std::string>> blocks()
    {
        size_t at = std::min(table_.size(), HEADER.size() + snippet_.size() + 4);
        std::vector<std::string> lines = split_lines(table_.substr(at));
        std::vector<std::vector<std::string>> b;
        for (size_t i = 0; lines.size() % BLOCK_LINES == 0 && i < lines.size(); i += BLOCK_LINES)
            b.emplace_back(lines.begin() + i, lines.begin() + i + BLOCK_LINES);
        return b;
    }

    static inline RunResult run_;
    static inline std::string table_, snippet_, plan_;
    static inline std::vector<std::vector<std::string>> blocks_;
};

TEST_F(TypicalRun, TableFileStartsWithHeaderSnippetCopyAndN)
{
    EXPECT_EQ(table_.substr(0, HEADER.size()), HEADER);
    EXPECT_EQ(table_.compare(HEADER.size(), snippet_.size(), snippet_), 0) << "temp1.tmp is not copied byte for byte";
    EXPECT_EQ(table_.substr(HEADER.size() + snippet_.size(), 4), "386\n");
    EXPECT_TRUE(has(snippet_, "--> a. In C \n"
                              "if(h<100.000000 ) j=0+(int)(h/0.040000);\n"
                              "else if(h<200.000000 ) j=2480+(int)(h/5.000000);\n"
                              "else {printf(\"H must be < 200.000000\\n\"); exit(-1);}\n-\n"));
    EXPECT_TRUE(has(snippet_, "end copy ------------------------\n2520\n0 0\n1 1\n"));
    EXPECT_TRUE(starts(plan_, "0.000000 200.000000\n387 1.050000\n0 0.000000\n"));
    EXPECT_TRUE(ends(plan_, "\n386 200.000000\n2520\n"));
    EXPECT_TRUE(ends(snippet_, "\n2517 374\n2518 380\n2519 385\n"));
    EXPECT_TRUE(has(run_.out, "\tH0=0.000000 -> H_max=200.000000 with losses=10.000000%\n"));
    EXPECT_TRUE(has(run_.out, "The size of the file \"O1_Phi4.res\" will be of 1.606 Mo\n"));
}

TEST_F(TypicalRun, EveryBlockHasHeaderTailsPositionsAndClosingLine)
{
    const std::vector<std::vector<std::string>> &b = blocks_;
    for (int j = 0; j < BLOCKS; j++) {
        const std::vector<std::string> &l = b[j];
        std::string fault;
        int jj = -1, nd = -1;
        if (std::sscanf(l[0].c_str(), "%d %*f %d", &jj, &nd) != 2 || jj != j || nd != 104) fault = "header " + l[0];
        if (!ends(l[2], " 1")) fault = "left tail flag " + l[2];
        if (l[3] != l[2].substr(0, l[2].find(' ')) + " 0") fault = "line 1 does not repeat line 0: " + l[3];
        for (int k = 4; k < BLOCK_LINES - 2; k++)
            if (!ends(l[k], " 0")) fault = "step flag " + l[k];
        if (!ends(l[BLOCK_LINES - 2], " 2")) fault = "right tail flag " + l[BLOCK_LINES - 2];
        if (l[BLOCK_LINES - 1] != "0.0000000000000000e+00 0") fault = "closing line " + l[BLOCK_LINES - 1];
        ASSERT_EQ(fault, "") << "block " << j;
    }
    EXPECT_TRUE(starts(b[23][0], "23 1.600000 104 ")) << b[23][0];
    EXPECT_TRUE(starts(b[BLOCKS - 1][0], "386 200.000000 104 ")) << b[BLOCKS - 1][0];
    EXPECT_FALSE(has(table_, "nan") || has(table_, "inf"));
}

TEST_F(TypicalRun, RightTailBoundsTheNextWeightAtItsAnchor)
{
    const std::vector<std::vector<std::string>> &b = blocks_;
    std::string below;
    for (int j = 0; j < BLOCKS; j++) {
        double H = 0, Hsup = 0, X_max = 0, C1r = 0, C2r = 0, X0 = 0;
        std::sscanf(b[j][0].c_str(), "%*d %lf %*d %*f %lf", &H, &X_max);
        std::sscanf(b[j][1].c_str(), "%*f %*f %lf %lf", &C1r, &C2r);
        std::sscanf(b[j][BLOCK_LINES - 2].c_str(), "%lf", &X0);
        if (j + 1 < BLOCKS) {
            std::sscanf(b[j + 1][0].c_str(), "%*d %lf", &Hsup);
        } else {
            Hsup = H + 0.4;
        }
        // log g2 at X0, with Landa = 1.
        double F = o1phi4::log_weight(Hsup, X_max, 1.0, X0);
        if (!(C1r * X0 + C2r >= F)) below += " " + std::to_string(H);
    }
    EXPECT_EQ(below, "") << "right tail below the weight at H =" << below;
}

TEST_F(TypicalRun, DiagnosticFileAndConsoleText)
{
    std::vector<std::string> d = split_lines(read_file(run_.dir + "/O1_g1_f1_Phi4.res"));
    ASSERT_EQ(d.size(), 10003u);
    EXPECT_TRUE(starts(d[0], "#   H=200.000000, Hsup=200.400000, x0=")) << d[0];
    EXPECT_EQ(d[1], "#   x       P(x)      f(x)");
    EXPECT_TRUE(starts(d[2], "-3.000000 ")) << d[2];
    EXPECT_TRUE(starts(d.back(), "6.000000 ")) << d.back();

    // The debug lines all come between histograms 22 and 23 (H = 1.6).
    std::vector<std::string> o = split_lines(run_.out);
    std::vector<size_t> debug;
    for (size_t i = 0; i < o.size(); i++)
        if (starts(o[i], "int=") || starts(o[i], "x1=") || starts(o[i], "Xlimit=")) debug.push_back(i);
    ASSERT_FALSE(debug.empty());
    size_t first = debug.front(), last = debug.back();
    EXPECT_EQ(last - first + 1, debug.size()) << "the debug lines are not together";
    EXPECT_TRUE(starts(o[first - 1], "Histogram=22,") && starts(o[first], "int=")) << o[first - 1];
    EXPECT_TRUE(starts(o[last], "Xlimit=") && starts(o[last + 1], "Histogram=23, H=1.600000, number of pts=104, loss="))
        << o[last + 1];

    EXPECT_EQ(occurrences(run_.out, "\nHistogram="), BLOCKS);
    const std::string closing = "\n     ---------------------------------------------------\n"
                                "You must COPY THE FILE \"O1_Phi4.res\" IN YOUR WORKING DIRECTORY\n"
                                "You must COPY THE FIRST LINES of O1_Phi4.res in your program\n"
                                "You can remove the files temp1.tmp and temp2.tmp\n"
                                "     ---------------------------------------------------\n\n";
    EXPECT_TRUE(ends(run_.out, closing));
    EXPECT_EQ(run_.err, "");
}

// --- Small worked example, answered 2 once: the attempt is redone ---

TEST(SmallRun, AnswerTwoStartsAgainAndThePlanMatchesTheWorkedExample)
{
    RunResult r = run_program("1\n0\n5\n10\n2\n1\n0\n5\n10\n1\n", 60);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(occurrences(r.out, BANNER), 2);
    EXPECT_EQ(occurrences(r.out, "count=10, H_result=0.567438\ncount=20, H_result=1.337176\n"
                                 "count=30, H_result=2.502870\ncount=40, H_result=3.765106\n     ---"),
              2);
    EXPECT_EQ(occurrences(r.out, "will be of 0.200 Mo\n"), 2);

    std::string plan = read_file(r.dir + "/temp2.tmp");
    EXPECT_TRUE(starts(plan, "0.000000 5.000000\n49 1.050000\n0 0.000000\n1 0.040000\n2 0.080000\n3 0.160000\n"
                             "4 0.200000\n5 0.280000\n"));
    EXPECT_TRUE(ends(plan, "\n47 4.960000\n48 5.160000\n125\n"));
    EXPECT_EQ(std::count(plan.begin(), plan.end(), '\n'), 52);

    std::string snippet = read_file(r.dir + "/temp1.tmp");
    EXPECT_TRUE(has(snippet, "--> a. In C \nif(h<5.000000 ) j=0+(int)(h/0.040000);\n"
                             "else {printf(\"H must be < 5.000000\\n\"); exit(-1);}\n"));
    EXPECT_TRUE(has(snippet, "end copy ------------------------\n125\n"
                             "0 0\n1 1\n2 2\n3 2\n4 3\n5 4\n6 4\n7 5\n8 6\n9 7\n10 7\n11 8\n"));
    EXPECT_TRUE(ends(snippet, "\n122 46\n123 46\n124 47\n"));
}

// --- Point count capped at 600, answered 0: the attempt is redone ---

TEST(CappedRun, AnnouncesTheCapAndStartsAgainOnAnswerZero)
{
    RunResult r = run_program("1\n0\n100\n1\n0\n", 60);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "sorry, the number of pts for each histogram must be less than 600 => nd=600 "
                           "=>losses min=1% \n     -----------------------------------\n\n"
                           "The size of the file \"O1_Phi4.res\" will be of 30.408 Mo\n"))
        << r.out;
    EXPECT_EQ(occurrences(r.out, BANNER), 2);
    EXPECT_TRUE(starts(read_file(r.dir + "/temp2.tmp"), "0.000000 100.000000\n1268 1.005000\n"));
    EXPECT_EQ(r.err, "!!! a number was expected for Landa\n...now exiting to system...\n");
}

// --- Just below the largest sound H_max the tables stay finite ---

TEST(NearLimitRun, FinishesWithFiniteTables)
{
    RunResult r = run_program("1\n0\n307.9\n10\n1\n", 120);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *f : {"/O1_Phi4.res", "/O1_g1_f1_Phi4.res"}) {
        std::string text = read_file(r.dir + f);
        EXPECT_FALSE(text.empty()) << f;
        EXPECT_FALSE(has(text, "nan") || has(text, "inf")) << f;
    }
    EXPECT_FALSE(has(r.out, "nan") || has(r.out, "inf"));
}

}  // namespace
