// The checkpoint file, every number little-endian whatever the machine:
//
//     8 bytes   "o1phi4ck"
//     u32       format version (1)
//     u32 x 8   d, L, update, order, sw, clusters, hits, series format
//     f64 x 3   beta, landa, the Metropolis step as given (0: tuned)
//     u64 x 4   seed, therm, sweeps, table identity
//     u64 x 2   sweeps done, length of the series file
//     f64       the Metropolis step in use
//     u64 x 4   tuning proposals and acceptances, measured proposals and acceptances
//     u64 x 3   heat-bath draws, proposals, fallback draws
//     f64       the largest |h| met
//     u64 x 4   single-cluster updates and their sites, Swendsen-Wang updates and their clusters
//     f64 x V   the field, in site order (V = L^d)
//     u32       CRC-32 of every byte before it
//
// The length follows from d and L alone, so a file cut short or too long is
// found before its field is read.
#include "heatbath/checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace o1hb {

namespace {

constexpr char MAGIC[8] = {'o', '1', 'p', 'h', 'i', '4', 'c', 'k'};
constexpr std::uint32_t VERSION = 1;
// Bytes before the field: magic, version, 8 u32, 3 f64, 4 u64, then the state's 15 numbers of 8 bytes.
constexpr std::size_t FIXED = sizeof MAGIC + 4 + 8 * 4 + 3 * 8 + 4 * 8 + 15 * 8;
// Field values converted at a time.
constexpr std::size_t CHUNK = 4096;

constexpr std::array<std::uint32_t, 256> crc_table()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> CRC_TABLE = crc_table();

// The fixed part, written and read field by field in the same order.
struct Bytes {
    unsigned char b[FIXED] = {};
    std::size_t at = 0;

    void u32(std::uint32_t v)
    {
        for (int k = 0; k < 4; ++k) b[at++] = static_cast<unsigned char>(v >> (8 * k));
    }
    void u64(std::uint64_t v)
    {
        for (int k = 0; k < 8; ++k) b[at++] = static_cast<unsigned char>(v >> (8 * k));
    }
    void f64(double x)
    {
        std::uint64_t v;
        std::memcpy(&v, &x, sizeof v);
        u64(v);
    }
    std::uint32_t get32()
    {
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(b[at++]) << (8 * k);
        return v;
    }
    std::uint64_t get64()
    {
        std::uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(b[at++]) << (8 * k);
        return v;
    }
    double getf()
    {
        const std::uint64_t v = get64();
        double x;
        std::memcpy(&x, &v, sizeof x);
        return x;
    }
};

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// path opened for reading if it is a regular file, without blocking on a FIFO.
File open_regular(const std::string &path, const char *what, off_t &size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(path + ": cannot open the " + what + " (" + std::strerror(errno) + ")");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error(path + ": not a regular file");
    }
    size = st.st_size;
    File f(::fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
        throw std::runtime_error(path + ": cannot open the " + what);
    }
    return f;
}

[[noreturn]] void damaged(const std::string &path, const std::string &what)
{
    throw std::runtime_error(path + ": " + what);
}

// x with the fewest digits that read back as x.
std::string number(double x)
{
    char buf[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, x);
        if (std::strtod(buf, nullptr) == x) break;
    }
    return buf;
}

const char *update_name(Update u) { return u == Update::HeatBath ? "heatbath" : "metropolis"; }
const char *order_name(Order o) { return o == Order::Checkerboard ? "checkerboard" : "lexicographic"; }
const char *format_name(SeriesFormat f) { return f == SeriesFormat::Text ? "text" : "binary"; }

}  // namespace

std::uint32_t crc32(std::uint32_t crc, const unsigned char *data, std::size_t n)
{
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) crc = CRC_TABLE[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint64_t table_identity(const std::string &path)
{
    off_t size = 0;
    const File f = open_regular(path, "table", size);
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    unsigned char buf[1 << 16];
    while (const std::size_t got = std::fread(buf, 1, sizeof buf, f.get())) {
        crc = crc32(crc, buf, got);
        length += got;
    }
    if (std::ferror(f.get())) throw std::runtime_error(path + ": cannot read the table");
    return (length & 0xFFFFFFFFu) << 32 | crc;
}

void write_checkpoint(const std::string &path, const Checkpoint &c, const ChainState &s)
{
    const RunParameters &p = c.run;
    Bytes h;
    std::memcpy(h.b, MAGIC, sizeof MAGIC);
    h.at = sizeof MAGIC;
    h.u32(VERSION);
    for (const int v : {p.d, p.L, static_cast<int>(p.update), static_cast<int>(p.order), p.sw, p.clusters, p.hits,
                        static_cast<int>(c.series_format)})
        h.u32(static_cast<std::uint32_t>(v));
    h.f64(p.beta);
    h.f64(p.landa);
    h.f64(p.step);
    h.u64(p.seed);
    h.u64(static_cast<std::uint64_t>(p.therm));
    h.u64(static_cast<std::uint64_t>(p.sweeps));
    h.u64(c.table_id);
    h.u64(s.sweep);
    h.u64(c.series_bytes);
    h.f64(s.step);
    for (const std::uint64_t v : {s.tune.proposed, s.tune.accepted, s.metropolis.proposed, s.metropolis.accepted,
                                  s.heat_bath.draws, s.heat_bath.draw.trials, s.heat_bath.draw.fallback})
        h.u64(v);
    h.f64(s.heat_bath.max_abs_h);
    for (const std::uint64_t v : {s.clusters, s.cluster_sites, s.sw.updates, s.sw.clusters}) h.u64(v);
    if (h.at != FIXED) throw std::logic_error("the checkpoint's fixed part is not the length its layout gives");

    write_file_atomically(path, [&](std::FILE *out) {
        std::uint32_t crc = crc32(0, h.b, FIXED);
        std::fwrite(h.b, 1, FIXED, out);
        unsigned char buf[8 * CHUNK];
        for (std::size_t i = 0; i < s.phi.size(); i += CHUNK) {
            const std::size_t n = std::min(CHUNK, s.phi.size() - i);
            for (std::size_t k = 0; k < n; ++k) {
                std::uint64_t v;
                std::memcpy(&v, &s.phi[i + k], sizeof v);
                for (int j = 0; j < 8; ++j) buf[8 * k + static_cast<std::size_t>(j)] = static_cast<unsigned char>(v >> (8 * j));
            }
            crc = crc32(crc, buf, 8 * n);
            std::fwrite(buf, 1, 8 * n, out);
        }
        unsigned char tail[4];
        for (int k = 0; k < 4; ++k) tail[k] = static_cast<unsigned char>(crc >> (8 * k));
        std::fwrite(tail, 1, sizeof tail, out);
    });
}

Checkpoint read_checkpoint(const std::string &path, ChainState &s)
{
    off_t size = 0;
    const File f = open_regular(path, "checkpoint", size);
    Bytes h;
    if (static_cast<std::uint64_t>(size) < FIXED + 4 || std::fread(h.b, 1, FIXED, f.get()) != FIXED ||
        std::memcmp(h.b, MAGIC, sizeof MAGIC) != 0)
        damaged(path, "not a checkpoint of o1_phi4_heatbath");
    h.at = sizeof MAGIC;
    const std::uint32_t version = h.get32();
    if (version != VERSION)
        damaged(path, "a checkpoint of version " + std::to_string(version) + " (this program reads version 1)");
    std::uint32_t v[8];
    for (std::uint32_t &x : v) x = h.get32();
    Checkpoint c;
    RunParameters &p = c.run;
    // Small numbers only, so that the casts below keep them; the rest is checked after the CRC.
    if (v[0] < 2 || v[0] > 3 || v[1] > (1u << 24)) damaged(path, "a damaged checkpoint (its lattice is out of range)");
    p.d = static_cast<int>(v[0]);
    p.L = static_cast<int>(v[1]);
    long V = 0;
    try {
        V = lattice_sites(p.d, p.L);
    } catch (const std::invalid_argument &) {
        damaged(path, "a damaged checkpoint (its lattice is out of range)");
    }
    const std::uint64_t expected = FIXED + 8 * static_cast<std::uint64_t>(V) + 4;
    if (static_cast<std::uint64_t>(size) != expected)
        damaged(path, "a damaged checkpoint: " + std::to_string(size) + " bytes where one of d=" + std::to_string(p.d) +
                          " L=" + std::to_string(p.L) + " has " + std::to_string(expected));

    std::uint32_t crc = crc32(0, h.b, FIXED);
    s.phi.resize(static_cast<std::size_t>(V));
    unsigned char buf[8 * CHUNK];
    for (std::size_t i = 0; i < s.phi.size(); i += CHUNK) {
        const std::size_t n = std::min(CHUNK, s.phi.size() - i);
        if (std::fread(buf, 1, 8 * n, f.get()) != 8 * n) damaged(path, "cannot read the checkpoint");
        crc = crc32(crc, buf, 8 * n);
        for (std::size_t k = 0; k < n; ++k) {
            std::uint64_t x = 0;
            for (int j = 0; j < 8; ++j) x |= static_cast<std::uint64_t>(buf[8 * k + static_cast<std::size_t>(j)]) << (8 * j);
            std::memcpy(&s.phi[i + k], &x, sizeof x);
        }
    }
    unsigned char tail[4];
    if (std::fread(tail, 1, sizeof tail, f.get()) != sizeof tail) damaged(path, "cannot read the checkpoint");
    std::uint32_t stored = 0;
    for (int k = 0; k < 4; ++k) stored |= static_cast<std::uint32_t>(tail[k]) << (8 * k);
    if (stored != crc) damaged(path, "a damaged checkpoint (its checksum does not match its contents)");

    // A file whose CRC matches was written by write_checkpoint (or made to
    // look so): the values are checked all the same before they are used.
    if (v[2] > 1 || v[3] > 1 || v[4] > MAX_SUB + 1 || v[5] > MAX_SUB + 1 || v[6] > (1u << 30) || v[7] > 1)
        damaged(path, "an inconsistent checkpoint (its parameters are out of range)");
    p.update = static_cast<Update>(v[2]);
    p.order = static_cast<Order>(v[3]);
    p.sw = static_cast<int>(v[4]);
    p.clusters = static_cast<int>(v[5]);
    p.hits = static_cast<int>(v[6]);
    c.series_format = static_cast<SeriesFormat>(v[7]);
    p.beta = h.getf();
    p.landa = h.getf();
    p.step = h.getf();
    p.seed = h.get64();
    const std::uint64_t therm = h.get64(), sweeps = h.get64();
    c.table_id = h.get64();
    s.sweep = h.get64();
    c.series_bytes = h.get64();
    s.step = h.getf();
    for (std::uint64_t *x : {&s.tune.proposed, &s.tune.accepted, &s.metropolis.proposed, &s.metropolis.accepted,
                             &s.heat_bath.draws, &s.heat_bath.draw.trials, &s.heat_bath.draw.fallback})
        *x = h.get64();
    s.heat_bath.max_abs_h = h.getf();
    for (std::uint64_t *x : {&s.clusters, &s.cluster_sites, &s.sw.updates, &s.sw.clusters}) *x = h.get64();
    if (h.at != FIXED) throw std::logic_error("the checkpoint's fixed part is not the length its layout gives");
    p.threads = 1;
    if (therm > MAX_SWEEP || sweeps > MAX_SWEEP) damaged(path, "an inconsistent checkpoint (its sweeps are out of range)");
    p.therm = static_cast<long>(therm);
    p.sweeps = static_cast<long>(sweeps);
    try {
        check_parameters(p);
    } catch (const std::invalid_argument &e) {
        damaged(path, std::string("an inconsistent checkpoint (") + e.what() + ")");
    }
    if (s.sweep > therm + sweeps) damaged(path, "an inconsistent checkpoint (after the last sweep of its run)");
    if (!(s.step > 0) || !std::isfinite(s.step)) damaged(path, "an inconsistent checkpoint (its Metropolis step)");
    for (const double x : s.phi)
        if (!std::isfinite(x)) damaged(path, "an inconsistent checkpoint (a field value that is not finite)");
    p.threads = 0;
    return c;
}

void check_resume(const Checkpoint &c, const Options &o, std::uint64_t table_id)
{
    const RunParameters &a = c.run, &b = o.run;
    auto differ = [&](const std::string &name, const std::string &was, const std::string &is) {
        throw std::invalid_argument("--resume " + o.resume + ": the checkpoint is of a run with " + name + " " + was +
                                    ", not " + is + ": it goes on only with the options of its own run");
    };
    auto same_int = [&](const char *name, long long x, long long y) {
        if (x != y) differ(name, std::to_string(x), std::to_string(y));
    };
    auto same_double = [&](const char *name, double x, double y) {
        if (!(x == y)) differ(name, number(x), number(y));
    };
    same_int("--dim", a.d, b.d);
    same_int("--size", a.L, b.L);
    same_double("--beta", a.beta, b.beta);
    same_double("--landa", a.landa, b.landa);
    if (a.update != b.update) differ("--update", update_name(a.update), update_name(b.update));
    if (a.order != b.order) differ("--order", order_name(a.order), order_name(b.order));
    same_int("--sw", a.sw, b.sw);
    same_int("--clusters", a.clusters, b.clusters);
    if (a.update == Update::Metropolis) {
        same_int("--hits", a.hits, b.hits);
        same_double("--step", a.step, b.step);
    }
    if (a.seed != b.seed) differ("--seed", std::to_string(a.seed), std::to_string(b.seed));
    same_int("--therm", a.therm, b.therm);
    same_int("--sweeps", a.sweeps, b.sweeps);
    if (a.update == Update::HeatBath && c.table_id != table_id)
        throw std::invalid_argument("--resume " + o.resume + ": the checkpoint is of a run with another table than " +
                                    o.table + " (their lengths or checksums differ)");
    if (c.series_format != o.series_format)
        differ("--series-format", format_name(c.series_format), format_name(o.series_format));
}

}  // namespace o1hb
