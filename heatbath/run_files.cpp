// The files a run writes, checked before its first sweep: none of them
// overwrites the table, a file it starts from or another of them, nor an
// existing series or checkpoint unless the user says so.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "heatbath/program.h"

namespace o1hb {

namespace {

// Whether path exists as a regular file that is not empty.
bool has_contents(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// Whether path is no file that could be overwritten by mistake: a device
// such as /dev/null, a FIFO.  Two outputs may share such a file.
bool is_special(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace

bool is_regular_file(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool same_file(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    const bool ea = ::stat(a.c_str(), &sa) == 0, eb = ::stat(b.c_str(), &sb) == 0;
    if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (ea || eb) return false;
    std::error_code e1, e2;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, e1), cb = std::filesystem::weakly_canonical(b, e2);
    return !e1 && !e2 ? ca == cb : a == b;
}

void check_run_files(const Options &o)
{
    struct Named {
        const char *what;
        const std::string &path;
    };
    // What the run reads, and what it writes.
    std::vector<Named> inputs, outputs;
    if (o.run.update == Update::HeatBath) inputs.push_back({"the table", o.table});
    if (!o.start_file.empty()) inputs.push_back({"the start file", o.start_file});
    outputs.push_back({"the series file", o.series});
    if (!o.checkpoint.empty()) outputs.push_back({"the checkpoint", o.checkpoint});
    if (!o.save_config.empty()) outputs.push_back({"the configuration file", o.save_config});
    if (!o.resume.empty()) inputs.push_back({"the checkpoint to resume", o.resume});

    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Named &out = outputs[i];
        if (is_special(out.path)) continue;
        for (const Named &in : inputs) {
            // The checkpoint a run resumes is the one it goes on writing.
            if (&in.path == &o.resume && &out.path == &o.checkpoint) continue;
            if (same_file(out.path, in.path))
                throw std::invalid_argument(std::string(out.what) + " " + out.path + " is " + in.what + " " + in.path +
                                            ": it would be overwritten");
        }
        for (std::size_t j = 0; j < i; ++j)
            if (same_file(out.path, outputs[j].path))
                throw std::invalid_argument(std::string(out.what) + " " + out.path + " is " + outputs[j].what + " " +
                                            outputs[j].path + ": give them different names");
    }
    // The checkpoint and the configuration are written under a temporary
    // name beside them, later in the run: their folders must take it.
    for (const Named &out : outputs) {
        if (&out.path == &o.series) continue;
        const std::filesystem::path dir = std::filesystem::path(out.path).parent_path();
        const std::string d = dir.empty() ? "." : dir.string();
        if (::access(d.c_str(), W_OK) != 0)
            throw std::invalid_argument(std::string(out.what) + " " + out.path + " cannot be written: its folder " + d +
                                        " is not writable (" + std::strerror(errno) + ")");
    }
    if (o.replace) return;
    if (o.resume.empty() && has_contents(o.series))
        throw std::invalid_argument("the series file " + o.series +
                                    " exists: give --replace to replace it, or --resume CHECKPOINT to go on with its run");
    if (!o.checkpoint.empty() && has_contents(o.checkpoint) && !(!o.resume.empty() && same_file(o.checkpoint, o.resume)))
        throw std::invalid_argument("the checkpoint " + o.checkpoint +
                                    " exists: give --replace to replace it, or --resume " + o.checkpoint + " to go on from it");
}

std::FILE *open_series(const Options &o, bool resumed, std::uint64_t series_bytes, std::uint64_t samples)
{
    auto refuse = [&](const std::string &what) { throw std::invalid_argument("the series file " + o.series + ": " + what); };
    // O_NONBLOCK: a FIFO with no reader is refused (ENXIO) instead of
    // waiting for one; the flag is taken off once the file is open.
    const int flags = (resumed ? O_RDWR : O_WRONLY | O_CREAT) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::open(o.series.c_str(), flags, 0666);
    if (fd < 0) {
        if (errno == ENXIO) refuse("a FIFO with no reader");
        if (resumed && errno == ENOENT) refuse("missing: a resumed run appends to the series of its run");
        refuse(std::string("cannot be written (") + std::strerror(errno) + ")");
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        refuse("cannot be written");
    }
    const bool regular = S_ISREG(st.st_mode);
    try {
        if (resumed && regular) check_resumed_series(fd, o, series_bytes, samples);
    } catch (...) {
        ::close(fd);
        throw;
    }
    // A new series starts empty; a resumed one loses what was written after
    // the checkpoint, which the run makes again, the same bytes.
    if (regular && (::ftruncate(fd, static_cast<off_t>(resumed ? series_bytes : 0)) != 0 || ::lseek(fd, 0, SEEK_END) < 0)) {
        ::close(fd);
        refuse(std::string("cannot be written (") + std::strerror(errno) + ")");
    }
    std::FILE *f = ::fdopen(fd, resumed ? "ab" : "wb");
    if (!f) {
        ::close(fd);
        refuse("cannot be written");
    }
    if (!resumed) write_series_header(f, o);
    return f;
}

}  // namespace o1hb
