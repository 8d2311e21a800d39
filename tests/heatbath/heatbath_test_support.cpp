#include "heatbath_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include <cmath>
#include <cstdio>

#include "sampler/sampler.h"
#include "test_support.h"

std::string table_text() { return read_file(O1_HEATBATH_TABLE); }

std::string narrow_table_text() { return read_file(O1_HEATBATH_NARROW_TABLE); }

std::string damaged_table_text(const std::string &text, double h_limit)
{
    const o1phi4::Table t = o1phi4::parse_table(text, "sound");
    std::vector<std::string> lines = split_lines(text);
    for (std::size_t m = 0; m < t.blocks.size(); ++m) {
        if (!t.used(static_cast<int>(m)) || !(t.served_lo[m] < h_limit)) continue;
        const o1phi4::Block &b = t.blocks[m];
        // Inner edges p[2] .. p[Nd_poi-2]; p[k] is on file line first_line + 2 + k.
        for (std::size_t k = 2; k + 1 < b.p.size(); ++k) {
            if (std::fabs(b.p[k] - b.X_max) >= DAMAGE_HALF_WIDTH) continue;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.16e %d", b.X_max + DAMAGE_SHRINK * (b.p[k] - b.X_max), b.flag[k]);
            lines[static_cast<std::size_t>(b.first_line) + 1 + k] = buf;
        }
    }
    std::string out;
    for (const std::string &l : lines) out += l + "\n";
    return out;
}

pid_t start_program(const std::string &dir, const std::string &command)
{
    std::istringstream in(command);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    std::vector<char *> argv;
    for (std::string &s : w) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    const std::string out = dir + "/out.txt", err = dir + "/err.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || chdir(dir.c_str()) != 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int finish(pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}
