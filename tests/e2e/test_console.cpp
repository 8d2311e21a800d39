// The whole console text of a run, byte for byte, against a recorded copy:
// the dialogue with a refused loss, an attempt with the capped point count
// answered 0, then the small worked example (Landa=1, H0=0, H_max=5, 10 %)
// answered 1, through phase 2 and its debug lines to the closing text.  A
// newline dropped or added anywhere fails it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The recorded text sits beside this file.
std::string recorded(const char *name)
{
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/') + 1) + name;
}

// A line with its tabs and its end shown, for failure messages.
std::string shown(const std::string &line)
{
    std::string s;
    for (char c : line) s += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "\"" + s + "\"";
}

TEST(Console, WholeRunPrintsTheRecordedText)
{
    const std::string path = recorded("console_h5_10.txt");
    const std::string want = read_file(path);
    ASSERT_FALSE(want.empty()) << "cannot read " << path;

    RunResult r = run_program("1\n0\n5\n0.5\n1\n0\n1\n0\n5\n10\n1\n", 120);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (r.out == want) return;

    // Name the first line that differs, counting the text after the last
    // newline as a line of its own.
    auto lines = [](const std::string &t) {
        std::vector<std::string> l(1);
        for (char c : t) {
            if (c == '\n') l.emplace_back();
            else l.back() += c;
        }
        return l;
    };
    const std::vector<std::string> got = lines(r.out), exp = lines(want);
    size_t i = 0;
    while (i < got.size() && i < exp.size() && got[i] == exp[i]) i++;
    ADD_FAILURE() << "console text differs from " << path << " at line " << i + 1 << ":\n  printed  "
                  << (i < got.size() ? shown(got[i]) : "(end of text)") << "\n  recorded "
                  << (i < exp.size() ? shown(exp[i]) : "(end of text)") << "\n(" << got.size() << " lines printed, "
                  << exp.size() << " recorded)";
}

}  // namespace
