#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef O1_PHI4_EXE
#error "O1_PHI4_EXE must name the built program"
#endif

namespace {

// Scratch folders of this test process, removed when all its tests are done
// (in the test process only: a death test's child never runs this).
std::vector<std::string> &scratch_dirs()
{
    static std::vector<std::string> dirs;
    return dirs;
}

class ScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (std::getenv("O1_PHI4_KEEP_SCRATCH")) return;
        std::error_code ec;
        for (const std::string &d : scratch_dirs()) std::filesystem::remove_all(d, ec);
    }
};

const ::testing::Environment *const cleanup_env = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

std::string make_scratch_dir(const std::string &tag)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string templ = base + "/o1_phi4_" + tag + "_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    char *d = mkdtemp(buf.data());
    if (!d) return std::string();
    scratch_dirs().push_back(d);
    return std::string(d);
}

std::string write_scratch(const std::string &name, const std::string &text)
{
    static const std::string dir = make_scratch_dir("files");
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

std::string join_lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines) s += l + "\n";
    return s;
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string hex(double v)
{
    char b[64];
    std::snprintf(b, sizeof b, "%a", v);
    return b;
}

RunResult run_program(const std::string &input, int timeout_s, const std::string &dir)
{
    RunResult r{};
    r.dir = dir.empty() ? make_scratch_dir("run") : dir;
    {
        std::ofstream in(r.dir + "/stdin.txt", std::ios::binary);
        in << input;
    }
    std::string cmd = "cd '" + r.dir + "' && timeout " + std::to_string(timeout_s) + " '" + O1_PHI4_EXE +
                      "' < stdin.txt > stdout.txt 2> stderr.txt";
    int raw = std::system(cmd.c_str());
    int st = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    r.timed_out = (st == 124);
    r.status = st;
    r.out = read_file(r.dir + "/stdout.txt");
    r.err = read_file(r.dir + "/stderr.txt");
    return r;
}
