// The C and FORTRAN lines that the table file hands to the user, compiled the
// way the user compiles them (cc; gfortran -ffree-form, default flags) and run
// over a dense sweep of field values.  Every index they give must be the
// index of the step that holds the field value and must be in the index
// table, the two must agree everywhere, and both must stop with a failure
// status for fields at or above H_max.  The same table file must then load
// into the reference sampler, in its present form and in the form of older
// tables, and serve every field value named in the case.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <algorithm>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sampler/sampler.h"
#include "test_support.h"

namespace {

// Uniform field values of the sweep, besides the points at every step.
constexpr int SWEEP_POINTS = 20000;
// A quotient this close (relative) to a whole number sits on a step edge up to
// rounding of the last bit: either neighbouring step is a fair answer there.
constexpr long double EDGE_TOL = 1e-12L;
// Relative offset of the probes just below and above every step edge: inside
// the reach of a single-precision constant, far outside double rounding.
constexpr double NEAR_EDGE = 5e-9;

// A field value named in a case, with the index both lines give for it.
struct Witness {
    double h;
    int j;
};

struct SnippetCase {
    const char *name;
    const char *landa, *h0, *h_max, *p;  // the dialogue's answers
    std::vector<Witness> witnesses;      // field values named, with the index both lines give
};

// Test names show the case by its name only.
void PrintTo(const SnippetCase &tc, std::ostream *os)
{
    *os << tc.name;
}

// A value as the snippet prints it ("%f").
std::string six_decimals(long double v)
{
    char b[64];
    std::snprintf(b, sizeof b, "%f", static_cast<double>(v));
    return b;
}

bool have_tool(const char *tool)
{
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Runs a shell command; returns the exit status (-1 if it did not exit).
int shell(const std::string &cmd)
{
    int raw = std::system(cmd.c_str());
    return (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
}

// The lines strictly between the line `from` and the first line after it
// that begins with `to`.
std::vector<std::string> block(const std::vector<std::string> &lines, const std::string &from, const std::string &to)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < lines.size() && lines[i] != from) i++;
    for (i++; i < lines.size() && lines[i].rfind(to, 0) != 0; i++) out.push_back(lines[i]);
    return out;
}

// Field index of the step that holds h, in exact decimal steps: interval 1
// is [H0, 100) with step 0.004 p, interval k >= 2 ends at 10^(k+1) with step
// 0.5 p 10^(k-2); steps are numbered from 0 at H0, and each interval goes on
// one past the last step of the interval below.  `edge` tells that h lies
// on a step edge up to rounding, where index - 1 is as good an answer.
class StepIndex {
  public:
    StepIndex(long double h0, long double p)
    {
        step_.push_back(0);
        top_.push_back(h0);
        base_.push_back(0);
        for (int k = 1; k < 12; k++) {
            step_.push_back(k == 1 ? 0.004L * p : 0.5L * p * std::pow(10.0L, k - 2));
            top_.push_back(k == 1 ? 100.0L : std::pow(10.0L, k + 1));
        }
        base_.push_back(-std::floor(h0 / step_[1]));
        for (int k = 1; k + 1 < static_cast<int>(step_.size()); k++) {
            bool edge;
            long double last = quotient_floor(top_[k], step_[k], &edge) - (edge ? 1 : 0);
            base_.push_back(base_[k] + last - quotient_floor(top_[k], step_[k + 1], &edge) + 1);
        }
    }
    int operator()(long double h, bool *edge) const
    {
        int k = 1;
        while (!(h < top_[k])) k++;
        return static_cast<int>(base_[k] + quotient_floor(h, step_[k], edge));
    }
    long double step(long double h) const
    {
        int k = 1;
        while (!(h < top_[k])) k++;
        return step_[k];
    }
    long double step_of(int k) const { return step_[k]; }
    long double top(int k) const { return top_[k]; }

  private:
    static long double quotient_floor(long double h, long double d, bool *edge)
    {
        long double q = h / d;
        long double r = std::nearbyint(q);
        *edge = std::fabs(q - r) <= EDGE_TOL * std::fmax(1.0L, std::fabs(q));
        return *edge ? r : std::floor(q);
    }
    std::vector<long double> step_, top_, base_;
};

std::string bits_of(double h)
{
    long long b;
    std::memcpy(&b, &h, sizeof b);
    return std::to_string(b);
}

// Field values are handed to the drivers as the 64 bits of the double, so
// that no decimal conversion stands between the sweep and the snippet.
const char C_DRIVER_HEAD[] =
    "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
    "int field_index(double h)\n{\nint j;\n";
const char C_DRIVER_TAIL[] =
    "return j;\n}\n"
    "int main(void)\n{\n    long long bits;\n    double h;\n"
    "    while (scanf(\"%lld\", &bits) == 1) {\n"
    "        memcpy(&h, &bits, sizeof h);\n        printf(\"%d\\n\", field_index(h));\n    }\n"
    "    return 0;\n}\n";
const char F_DRIVER_HEAD[] = "subroutine field_index(h, j)\nREAL*8 h\ninteger j\n";
const char F_DRIVER_TAIL[] =
    "end subroutine\n"
    "program drive\n  integer(8) :: bits\n  double precision :: h\n  integer :: j, ios\n"
    "  do\n    read(*, *, iostat=ios) bits\n    if (ios /= 0) exit\n"
    "    h = transfer(bits, h)\n    call field_index(h, j)\n    write(*, '(I0)') j\n  end do\n"
    "end program\n";

struct DriverRun {
    int status;
    std::vector<std::string> lines;  // standard output
    std::string err;
};

DriverRun run_driver(const std::string &dir, const std::string &exe, const std::vector<double> &hs)
{
    {
        std::ofstream in(dir + "/h.txt");
        for (double h : hs) in << bits_of(h) << '\n';
    }
    DriverRun r;
    r.status = shell("cd '" + dir + "' && ./" + exe + " < h.txt > " + exe + ".out 2> " + exe + ".err");
    r.lines = split_lines(read_file(dir + "/" + exe + ".out"));
    r.err = read_file(dir + "/" + exe + ".err");
    return r;
}

// One disagreement of a kind, shown in the test's output.
struct Miss {
    double h;
    int c, f, want;
};

void show(const char *what, const std::vector<Miss> &m)
{
    std::printf("  %-44s %zu", what, m.size());
    if (!m.empty())
        std::printf("  first h=%.17g (C %d, FORTRAN %d, step %d)", m[0].h, m[0].c, m[0].f, m[0].want);
    if (m.size() > 1)
        std::printf("  last h=%.17g (C %d, FORTRAN %d, step %d)", m.back().h, m.back().c, m.back().f, m.back().want);
    std::printf("\n");
}

// The FORTRAN lines as tables written before they carried double-precision
// literals and a failure status have them.
std::string with_old_fortran_lines(std::string s)
{
    for (const auto &r : {std::pair<std::string, std::string>{"D0 ) THEN", " ) THEN"}, {"D0)\n", ")\n"},
                          {"\tSTOP 1\n", "\tSTOP\n"}}) {
        for (size_t at = s.find(r.first); at != std::string::npos; at = s.find(r.first, at + r.second.size()))
            s.replace(at, r.first.size(), r.second);
    }
    return s;
}

// The field indices of the index table, which must come in walk order.
std::set<int> index_table(const std::vector<std::string> &res)
{
    std::set<int> table;
    size_t i = 0;
    while (i < res.size() && res[i].rfind("$---", 0) != 0) i++;
    EXPECT_LT(i + 1, res.size());
    if (i + 1 >= res.size()) return table;
    int n = std::atoi(res[i + 1].c_str());
    int prev = 0;
    for (int e = 0; e < n && i + 2 + e < res.size(); e++) {
        int j, m;
        EXPECT_EQ(std::sscanf(res[i + 2 + e].c_str(), "%d %d", &j, &m), 2) << res[i + 2 + e];
        if (e > 0) {
            EXPECT_GT(j, prev) << "index table out of walk order at entry " << e;
        }
        prev = j;
        table.insert(j);
    }
    return table;
}

// The sweep: uniform points, then H0, the interval ends and every step edge
// with its neighbouring doubles and the probes NEAR_EDGE away, then the
// witnesses.
std::vector<double> sweep_fields(const SnippetCase &tc, const StepIndex &step_index)
{
    const double h0 = std::strtod(tc.h0, nullptr), h_max = std::strtod(tc.h_max, nullptr);
    std::vector<double> hs;
    for (int i = 0; i < SWEEP_POINTS; i++) hs.push_back(h0 + (h_max - h0) * i / SWEEP_POINTS);
    hs.push_back(h0);
    hs.push_back(std::nextafter(h0, HUGE_VAL));
    hs.push_back(std::nextafter(h_max, 0.0));
    for (int k = 1; step_index.top(k - 1) < h_max; k++) {
        long double lo = std::fmax(step_index.top(k - 1), static_cast<long double>(h0));
        long double hi = std::fmin(step_index.top(k), static_cast<long double>(h_max));
        long double d = step_index.step_of(k);
        for (long double n = std::floor(lo / d); n * d <= hi; n++) {
            double x = static_cast<double>(n * d);
            for (double h : {x * (1 - NEAR_EDGE), std::nextafter(x, 0.0), x, std::nextafter(x, HUGE_VAL),
                             x * (1 + NEAR_EDGE)})
                if (h >= h0 && h < h_max) hs.push_back(h);
        }
    }
    for (const Witness &w : tc.witnesses) hs.push_back(w.h);
    return hs;
}

// The disagreements of a sweep, by kind.
struct Classified {
    std::vector<Miss> c_vs_step, f_vs_c, c_off_table, f_off_table;
    std::map<double, Miss> seen;
};

Classified classify(const std::vector<double> &hs, const DriverRun &c, const DriverRun &f, const StepIndex &step_index,
                    const std::set<int> &table)
{
    Classified k;
    for (size_t i = 0; i < hs.size(); i++) {
        double h = hs[i];
        int cj = std::atoi(c.lines[i].c_str()), fj = std::atoi(f.lines[i].c_str());
        bool edge;
        int want = step_index(h, &edge);
        Miss m{h, cj, fj, want};
        k.seen.emplace(h, m);
        if (!(cj == want || (edge && cj == want - 1))) k.c_vs_step.push_back(m);
        if (fj != cj) k.f_vs_c.push_back(m);
        if (!table.count(cj)) k.c_off_table.push_back(m);
        if (!table.count(fj)) k.f_off_table.push_back(m);
    }
    return k;
}

// Runs the program on the case and compiles its lines as the user would: the
// C lines in a function (cc), the FORTRAN lines in a subroutine (gfortran,
// free form since they start in column 1 and hold tabs, default flags).
class CompiledSnippets : public ::testing::TestWithParam<SnippetCase> {
  protected:
    void SetUp() override
    {
        const SnippetCase &tc = GetParam();
        if (!have_tool("cc") || !have_tool("gfortran"))
            GTEST_SKIP() << "cc or gfortran is missing: the emitted C and FORTRAN lines cannot be compiled here";
        run = run_program(std::string(tc.landa) + "\n" + tc.h0 + "\n" + tc.h_max + "\n" + tc.p + "\n1\n", 120);
        ASSERT_EQ(run.status, 0) << run.err;
        text = read_file(run.dir + "/O1_Phi4.res");
        res = split_lines(text);
        c_lines = block(res, "--> a. In C ", "-");
        f_lines = block(res, "--> b. In FORTRAN ", "$---");
        ASSERT_GE(c_lines.size(), 2u);
        ASSERT_GE(f_lines.size(), 4u);
        {
            std::ofstream c(run.dir + "/c_drv.c");
            c << C_DRIVER_HEAD;
            for (auto &l : c_lines) c << l << '\n';
            c << C_DRIVER_TAIL;
            std::ofstream f(run.dir + "/f_drv.f");
            f << F_DRIVER_HEAD;
            for (auto &l : f_lines) f << l << '\n';
            f << F_DRIVER_TAIL;
        }
        // The two compilers run side by side; each leaves its status in a file.
        shell("cd '" + run.dir + "' && { { cc -O2 -Wall -o c_drv c_drv.c > cc.log 2>&1; echo $? > cc.rc; } & "
                                 "{ gfortran -ffree-form -O2 -o f_drv f_drv.f > f.log 2>&1; echo $? > f.rc; } & wait; }");
        for (const char *tool : {"cc", "f"})
            ASSERT_EQ(read_file(run.dir + "/" + tool + ".rc"), "0\n") << read_file(run.dir + "/" + tool + ".log");
    }
    // A failing case keeps its folder (table file, drivers, outputs) for a look.
    void TearDown() override
    {
        if (!HasFailure() && !run.dir.empty()) shell("rm -rf '" + run.dir + "'");
    }

    RunResult run{};
    std::string text;
    std::vector<std::string> res, c_lines, f_lines;
};

TEST_P(CompiledSnippets, MapEveryFieldBelowHMaxOntoItsStepInTheIndexTable)
{
    const SnippetCase &tc = GetParam();
    // The first line opens the chain of tests; an empty first interval still
    // gets its line as long as H_max lies above H0.
    EXPECT_EQ(c_lines[0].rfind("if(", 0), 0u) << c_lines[0];
    const std::set<int> table = index_table(res);

    const double h0 = std::strtod(tc.h0, nullptr), h_max = std::strtod(tc.h_max, nullptr);
    const StepIndex step_index(std::strtold(tc.h0, nullptr), std::strtold(tc.p, nullptr));
    const std::vector<double> hs = sweep_fields(tc, step_index);
    DriverRun c = run_driver(run.dir, "c_drv", hs);
    DriverRun f = run_driver(run.dir, "f_drv", hs);
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(f.status, 0) << f.err;
    ASSERT_EQ(c.lines.size(), hs.size()) << "the C line stopped on a field below H_max";
    ASSERT_EQ(f.lines.size(), hs.size()) << "the FORTRAN line stopped on a field below H_max";

    // Every step below H_max has its entry in the index table, and no other.
    std::set<int> missing, extra, steps_below_h_max;
    {
        bool edge;
        int first = step_index(h0, &edge);
        int last = step_index(std::nextafter(h_max, 0.0), &edge) - (edge ? 1 : 0);
        for (int j = first; j <= last; j++) steps_below_h_max.insert(j);
    }
    for (int j : steps_below_h_max)
        if (!table.count(j)) missing.insert(j);
    for (int j : table)
        if (!steps_below_h_max.count(j)) extra.insert(j);
    EXPECT_TRUE(missing.empty()) << "steps below H_max without an entry in the index table, first " << *missing.begin();
    EXPECT_TRUE(extra.empty()) << "index table entries for no step below H_max, first " << *extra.begin();

    const Classified k = classify(hs, c, f, step_index, table);
    std::printf("[%s] %zu fields, %zu table entries, C line: %s\n", tc.name, hs.size(), table.size(),
                c_lines[0].c_str());
    show("C index is not the step's index:", k.c_vs_step);
    show("FORTRAN index differs from C:", k.f_vs_c);
    show("C index not in the index table:", k.c_off_table);
    show("FORTRAN index not in the index table:", k.f_off_table);
    EXPECT_TRUE(k.c_vs_step.empty()) << "C gives " << k.c_vs_step[0].c << " for h=" << hex(k.c_vs_step[0].h)
                                     << ", the step is " << k.c_vs_step[0].want;
    EXPECT_TRUE(k.f_vs_c.empty()) << "FORTRAN and C disagree, first at h=" << hex(k.f_vs_c[0].h);
    EXPECT_TRUE(k.c_off_table.empty()) << "C index " << k.c_off_table[0].c << " is not in the table";
    EXPECT_TRUE(k.f_off_table.empty()) << "FORTRAN index " << k.f_off_table[0].f << " is not in the table";
    for (const Witness &w : tc.witnesses) {
        const Miss &m = k.seen.at(w.h);
        EXPECT_EQ(m.c, w.j) << "C, h=" << hex(w.h);
        EXPECT_EQ(m.f, w.j) << "FORTRAN, h=" << hex(w.h);
    }

    // At and above H_max both print their message and end with a failure
    // status (C exit(-1): 255; FORTRAN STOP 1), without an index.
    std::string message = "H must be < " + six_decimals(h_max);
    for (double h : {h_max, std::nextafter(h_max, HUGE_VAL), h_max * (1 + NEAR_EDGE), h_max + 1, 1e6}) {
        DriverRun cr = run_driver(run.dir, "c_drv", {h});
        DriverRun fr = run_driver(run.dir, "f_drv", {h});
        EXPECT_EQ(cr.status, 255) << "h=" << hex(h);
        EXPECT_EQ(cr.lines, std::vector<std::string>{message}) << "h=" << hex(h);
        EXPECT_EQ(fr.status, 1) << "h=" << hex(h);
        EXPECT_EQ(fr.lines, std::vector<std::string>{" " + message}) << "h=" << hex(h);
    }

    // The reference loader reads the FORTRAN lines as the C lines, in the
    // present form and in that of older tables; the sampler draws at every
    // witness.
    for (const std::string &form : {text, with_old_fortran_lines(text)}) {
        const o1phi4::Table u = o1phi4::parse_table(form, "O1_Phi4.res");
        ASSERT_EQ(u.fortran_map.size(), u.c_map.size());
        for (size_t i = 0; i < u.c_map.size(); i++) {
            EXPECT_EQ(u.fortran_map[i].upper, u.c_map[i].upper) << "interval " << i;
            EXPECT_EQ(u.fortran_map[i].offset, u.c_map[i].offset) << "interval " << i;
            EXPECT_EQ(u.fortran_map[i].step, u.c_map[i].step) << "interval " << i;
        }
        EXPECT_EQ(u.fortran_H_max, u.H_max);
    }
    EXPECT_NE(with_old_fortran_lines(text), text);
    const o1phi4::Sampler sampler(o1phi4::parse_table(text, "O1_Phi4.res"), std::strtod(tc.landa, nullptr));
    o1phi4::Xoshiro256ss g(1);
    for (const Witness &w : tc.witnesses) {
        EXPECT_NO_THROW(sampler(w.h, g)) << "h=" << hex(w.h);
    }
#ifdef O1_PHI4_CHECK_EXE
    // The validator's field-index check finds every index in the table.
    const std::string report = run.dir + "/check.txt";
    shell(std::string(O1_PHI4_CHECK_EXE) + " '" + run.dir + "/O1_Phi4.res' " + tc.landa + " -n 1000 > '" + report + "'");
    std::string map_line;
    for (const std::string &l : split_lines(read_file(report)))
        if (l.rfind("field-index map", 0) == 0) map_line = l;
    EXPECT_NE(map_line.find(" h: 0 missing index,"), std::string::npos) << map_line;
#endif
}

// Cases: Landa, H0, H_max, p, and field values where the lines once went
// wrong or the table once had no entry.
// p = 10: a default REAL 0.040000 is 0.0399999991, which moved a field up to
//   2.2e-8 (relative) below an edge to the next step, and a field just below
//   H_max = 5 off the end of the table.
// p = 3: a default REAL 0.012000 is 0.0120000001, which kept a field on or
//   just above an edge in the step below, and H0 = 90 itself at index -1.
// H0 = 0.01 with p = 3: the walk starts off the step grid, its last position
//   below 100 is 99.994, so it steps over [99.996, 100), index 8333.
// H_max = 101 with p = 3: the walk in [100, 101) takes the positions 100,
//   101.5, ..., off the grid of the step 1.5, so it ends before the step
//   [100.5, 102), index 835, which holds the fields from 100.5 to 101.
// H_max = 5.3: a default REAL 5.300000 is 5.30000019, which let fields just
//   above H_max through.
const SnippetCase CASES[] = {
    {"H0_0_Hmax_5_p_10", "1", "0", "5", "10", {{4.99999995, 124}, {1.15999999, 28}}},
    {"H0_0_Hmax_200_p_10", "1", "0", "200", "10", {{99.999999, 2499}, {150, 2510}}},
    {"H0_90_Hmax_101_p_3", "1", "90", "101", "3", {{99.0000004, 750}, {99.998, 833}, {90, 0}, {100.7, 835}}},
    {"H0_0.01_Hmax_150_p_3", "1", "0.01", "150", "3", {{99.997, 8333}, {99.998, 8333}, {99.0000004, 8250}}},
    {"H0_150_Hmax_300_p_10", "1", "150", "300", "10", {{150, -1240}, {299.99, -1211}}},
    {"H0_0_Hmax_5.3_p_10", "1", "0", "5.3", "10", {{5.27999999, 131}}},
};

INSTANTIATE_TEST_SUITE_P(FieldIndexMap, CompiledSnippets, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<SnippetCase> &param) {
                             std::string n = param.param.name;
                             for (char &ch : n)
                                 if (ch == '.') ch = '_';
                             return n;
                         });


// Plans whose H0 lies on a step edge, where the line's own quotient H0/step
// can truncate to the step below: the three that once gave H0 (or the whole
// first step) an index missing from the table, then H0 = k steps for losses
// of both kinds of step, below 100 and above it.
std::vector<SnippetCase> edge_plans()
{
    std::vector<SnippetCase> plans = {{"issue 0.172", "1", "0.172", "1", "1", {}},
                                      {"issue 101.75", "100", "101.75", "110", "1.1", {}},
                                      {"issue 2.8", "371.898", "2.8", "1074.10905", "1", {}}};
    static std::deque<std::string> text;  // owns the numbers the plans point to
    for (const char *p : {"1", "1.1", "2.5", "10", "12.5", "25"}) {
        const long double step = 0.004L * std::strtold(p, nullptr);
        const long steps = std::lround(99.0L / step);
        for (long i = 1; i <= 8; i++) {
            text.push_back(six_decimals((i * 7919 + 13) % steps * step));
            text.push_back(six_decimals(std::strtold(text.back().c_str(), nullptr) + 0.2L));
            plans.push_back({"k steps", "1", text[text.size() - 2].c_str(), text.back().c_str(), p, {}});
        }
    }
    for (const char *p : {"1.1", "3.7", "10"}) {
        const long double step = 0.5L * std::strtold(p, nullptr);
        for (long q = std::lround(std::ceil(100.0L / step)); q * step < 200.0L; q += 11) {
            text.push_back(six_decimals(q * step));
            text.push_back(six_decimals(q * step + 2.0L * step));
            plans.push_back({"k coarse steps", "1", text[text.size() - 2].c_str(), text.back().c_str(), p, {}});
        }
    }
    return plans;
}

std::string describe(const SnippetCase &tc)
{
    return std::string(tc.name) + ": Landa " + tc.landa + ", H0 " + tc.h0 + ", H_max " + tc.h_max + ", p " + tc.p;
}

// Every plan is built, its C lines compiled into one function each and its
// FORTRAN lines into one subroutine each, all in one program per language.
// At H0, at the double after it and at the first field value of every later
// interval both give the same index, which the table has (0 for H0 below
// 100), naming a histogram built at or below that field value; the run itself
// has proven that histogram a majorant over the field values the lines send
// to it.
TEST(FieldIndexMapAtStepEdges, EveryPlanSendsH0AndEachIntervalStartToAnEntry)
{
    if (!have_tool("cc") || !have_tool("gfortran"))
        GTEST_SKIP() << "cc or gfortran is missing: the emitted C and FORTRAN lines cannot be compiled here";
    const std::vector<SnippetCase> plans = edge_plans();
    const std::string dir = make_scratch_dir("edges");
    std::string c_src = "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n", f_src, c_switch, f_select;
    std::vector<o1phi4::Table> tables;
    std::vector<std::pair<size_t, double>> probes;  // plan, field value
    for (size_t i = 0; i < plans.size(); i++) {
        const SnippetCase &tc = plans[i];
        SCOPED_TRACE(describe(tc));
        RunResult r = run_program(std::string(tc.landa) + "\n" + tc.h0 + "\n" + tc.h_max + "\n" + tc.p + "\n1\n", 120);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string text = read_file(r.dir + "/O1_Phi4.res");
        const std::vector<std::string> res = split_lines(text);
        const std::string n = std::to_string(i);
        c_src += "static int f" + n + "(double h)\n{\nint j;\n" + join_lines(block(res, "--> a. In C ", "-")) + "return j;\n}\n";
        f_src += "subroutine f" + n + "(h, j)\nREAL*8 h\ninteger j\n" + join_lines(block(res, "--> b. In FORTRAN ", "$---")) +
                 "end subroutine\n";
        c_switch += "        case " + n + ": j = f" + n + "(h); break;\n";
        f_select += "    case (" + n + ")\n      call f" + n + "(h, j)\n";
        tables.push_back(o1phi4::parse_table(text, "O1_Phi4.res"));
        shell("rm -rf '" + r.dir + "'");
        const double h0 = std::strtod(tc.h0, nullptr), h_max = std::strtod(tc.h_max, nullptr);
        probes.push_back({i, h0});
        probes.push_back({i, std::nextafter(h0, HUGE_VAL)});
        for (double start : {100.0, 1000.0})
            if (start > h0 && start < h_max) probes.push_back({i, start});
    }
    c_src += "int main(void)\n{\n    int c, j = 0;\n    long long bits;\n    double h;\n"
             "    while (scanf(\"%d %lld\", &c, &bits) == 2) {\n        memcpy(&h, &bits, sizeof h);\n"
             "        switch (c) {\n" + c_switch + "        }\n        printf(\"%d\\n\", j);\n    }\n    return 0;\n}\n";
    f_src += "program drive\n  integer(8) :: bits\n  double precision :: h\n  integer :: c, j, ios\n  j = 0\n"
             "  do\n    read(*, *, iostat=ios) c, bits\n    if (ios /= 0) exit\n    h = transfer(bits, h)\n"
             "    select case (c)\n" + f_select + "    end select\n    write(*, '(I0)') j\n  end do\nend program\n";
    std::ofstream(dir + "/c_edges.c") << c_src;
    std::ofstream(dir + "/f_edges.f") << f_src;
    {
        std::ofstream in(dir + "/h.txt");
        for (const auto &pr : probes) in << pr.first << ' ' << bits_of(pr.second) << '\n';
    }
    ASSERT_EQ(shell("cd '" + dir + "' && cc -O2 -o c_edges c_edges.c && gfortran -ffree-form -O2 -o f_edges f_edges.f && "
                    "./c_edges < h.txt > c.out && ./f_edges < h.txt > f.out"), 0);
    const std::vector<std::string> c_out = split_lines(read_file(dir + "/c.out")), f_out = split_lines(read_file(dir + "/f.out"));
    ASSERT_EQ(c_out.size(), probes.size());
    ASSERT_EQ(f_out.size(), probes.size());
    int missing = 0;
    for (size_t k = 0; k < probes.size(); k++) {
        const o1phi4::Table &t = tables[probes[k].first];
        const double h = probes[k].second;
        SCOPED_TRACE(describe(plans[probes[k].first]) + ", h = " + hex(h));
        const long j = std::atol(c_out[k].c_str());
        EXPECT_EQ(f_out[k], c_out[k]) << "FORTRAN and C disagree";
        if (h == t.H0 && h < 100) {
            EXPECT_EQ(j, 0) << "the indices start at 0 at H0";
        }
        auto at = std::lower_bound(t.index_j.begin(), t.index_j.end(), j);
        if (at == t.index_j.end() || *at != j) {
            ADD_FAILURE() << "index " << j << " is not in the table";
            missing++;
            continue;
        }
        const int m = t.index_m[static_cast<size_t>(at - t.index_j.begin())];
        EXPECT_LE(t.blocks[static_cast<size_t>(m)].H, h + 5e-7) << "histogram " << m;
    }
    std::printf("%zu plans, %zu field values, %d without an entry\n", plans.size(), probes.size(), missing);
}

}  // namespace
