// Files written whole or not at all, and the configuration file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "heatbath/program.h"

namespace o1hb {

void write_file_atomically(const std::string &path, const std::function<void(std::FILE *)> &write)
{
    // A fresh temporary file beside the target (same file system, so the
    // rename is atomic), never an existing one.
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file for " + path + ": " + std::strerror(errno));
    // mkstemp makes the file private; give it the permissions of any new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE *out = fdopen(fd, "wb");
    if (!out) {
        const int err = errno;
        close(fd);
        std::remove(temp.c_str());
        throw std::runtime_error("cannot write " + temp + ": " + std::strerror(err));
    }
    bool ok = true;
    try {
        write(out);
    } catch (...) {
        std::fclose(out);
        std::remove(temp.c_str());
        throw;
    }
    ok = std::fflush(out) == 0 && !std::ferror(out) && fsync(fileno(out)) == 0;
    int err = errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw std::runtime_error("writing " + path + " failed: " + std::strerror(err));
    }
}

void save_configuration(const std::string &path, int d, int L, std::uint64_t sweep, const std::vector<double> &phi)
{
    write_file_atomically(path, [&](std::FILE *out) {
        std::fprintf(out, "o1_phi4_heatbath configuration d=%d L=%d sweep=%llu\n", d, L, static_cast<unsigned long long>(sweep));
        // Little-endian whatever the machine: the bytes of each double's bit
        // pattern from the lowest.
        unsigned char buf[8 * 512];
        std::size_t used = 0;
        for (double v : phi) {
            std::uint64_t b;
            std::memcpy(&b, &v, sizeof b);
            for (int i = 0; i < 8; ++i) buf[used++] = static_cast<unsigned char>(b >> (8 * i));
            if (used == sizeof buf) {
                std::fwrite(buf, 1, used, out);
                used = 0;
            }
        }
        std::fwrite(buf, 1, used, out);
    });
}

}  // namespace o1hb
