#include "sampler_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string table_path(const std::string &name) { return std::string(O1_SAMPLER_TABLES) + "/" + name + "/O1_Phi4.res"; }

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

std::string join_lines(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines) s += l + "\n";
    return s;
}

std::string write_scratch(const std::string &name, const std::string &text)
{
    static std::string dir;
    if (dir.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/o1_sampler_XXXXXX";
        dir = mkdtemp(&templ[0]) ? templ : "/tmp";
    }
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

int run_check(const std::string &args, std::string &out)
{
    const std::string cmd = "timeout " + std::to_string(CHECK_TIMEOUT_S) + " " + O1_PHI4_CHECK_EXE + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    out.clear();
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
