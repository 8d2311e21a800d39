// The series file, one sample per measured sweep, in one of two formats:
//
// text: comment lines starting with #, then one line per sweep,
//     sweep m phi2 energy potential F
//   (%.17g: every double read back exactly), readable by a plotting tool;
//
// binary, about a third of the size:
//     8 bytes    "o1series"
//     4 bytes    format version (1), unsigned little-endian
//     4 bytes    number of columns c (6), unsigned little-endian
//     4 bytes    length h of the header text, unsigned little-endian
//     h bytes    the header text: the comment lines a text series starts with
//     then one record per sweep: c little-endian IEEE doubles, the columns
//     the header's last line names.
//
// The reader takes both, and text series of five columns (written before F
// was measured).  It keeps at most one line and the samples: a file that is
// not a regular file, a line longer than MAX_SERIES_LINE or more samples than
// the limit stop it with a message, whatever follows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "heatbath/program.h"

namespace o1hb {

namespace {

constexpr char MAGIC[8] = {'o', '1', 's', 'e', 'r', 'i', 'e', 's'};
constexpr std::uint32_t VERSION = 1;
// Bytes before the header text: magic, version, columns, header length.
constexpr std::size_t PREAMBLE = sizeof MAGIC + 3 * 4;
// The column lines of a series with and without the Fourier mode.
constexpr const char *COLUMNS_5 = "# sweep m phi2 energy potential";
constexpr const char *COLUMNS_6 = "# sweep m phi2 energy potential F";
// The line of the header that gives the lattice and beta.
constexpr const char *HEADER = "# o1_phi4_heatbath ";
// Records the binary reader converts at a time.
constexpr std::size_t RECORD_CHUNK = 4096;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string header_text(const Options &o)
{
    const RunParameters &p = o.run;
    char buf[600];
    std::string h;
    std::snprintf(buf, sizeof buf, "# o1_phi4_heatbath d=%d L=%d beta=%.17g landa=%.17g therm=%ld sweeps=%ld seed=%llu\n", p.d,
                  p.L, p.beta, p.landa, p.therm, p.sweeps, static_cast<unsigned long long>(p.seed));
    h += buf;
    const char *order = p.order == Order::Checkerboard ? "checkerboard" : "lexicographic";
    if (p.update == Update::HeatBath) {
        h += "# update=heatbath table=" + o.table + " order=" + order + " sw=" + std::to_string(p.sw) +
             " clusters=" + std::to_string(p.clusters);
    } else {
        std::snprintf(buf, sizeof buf, "# update=metropolis hits=%d step=%.17g order=%s sw=%d clusters=%d", p.hits, p.step,
                      order, p.sw, p.clusters);
        h += buf;
    }
    // The start, unless it is the usual hot one.
    if (!o.start_file.empty()) h += " start=" + o.start_file;
    else if (o.start == Start::Cold) h += " start=cold";
    return h + "\n" + COLUMNS_6 + "\n";
}

void put_u32(unsigned char *b, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(v >> (8 * k));
}

std::uint32_t get_u32(const unsigned char *b)
{
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(b[k]) << (8 * k);
    return v;
}

void put_double(unsigned char *b, double x)
{
    std::uint64_t v;
    std::memcpy(&v, &x, sizeof v);
    for (int k = 0; k < 8; ++k) b[k] = static_cast<unsigned char>(v >> (8 * k));
}

double get_double(const unsigned char *b)
{
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(b[k]) << (8 * k);
    double x;
    std::memcpy(&x, &v, sizeof x);
    return x;
}

[[noreturn]] void fail(const std::string &where, const std::string &what) { throw std::runtime_error(where + ": " + what); }

// A comment line: the header line gives the lattice and beta, the column line
// the number of columns (0 until known); anything else is free text.
void comment(const char *line, const std::string &where, Series &s, int &columns)
{
    if (std::strncmp(line, HEADER, std::strlen(HEADER)) == 0) {
        int d = 0, L = 0;
        double beta = 0;
        if (std::sscanf(line + std::strlen(HEADER), "d=%d L=%d beta=%lf", &d, &L, &beta) != 3 || d < 1 || d > 3 || L < 2 ||
            !std::isfinite(beta) || beta < 0)
            fail(where, "a damaged header (expected d=D L=L beta=B with d 1 to 3, L >= 2, beta >= 0)");
        if (s.d != 0 && (s.d != d || s.L != L || s.beta != beta)) fail(where, "a second header with other parameters");
        s.d = d;
        s.L = L;
        s.beta = beta;
    } else if (std::strncmp(line, "# sweep ", 8) == 0) {
        const int c = std::strcmp(line, COLUMNS_6) == 0 ? 6 : std::strcmp(line, COLUMNS_5) == 0 ? 5 : 0;
        if (c == 0) fail(where, std::string("unknown columns (expected \"") + COLUMNS_6 + "\")");
        if (columns != 0 && columns != c) fail(where, "the columns change within the file");
        columns = c;
    }
}

// Adds a sample of c columns (sweep first), refusing what is not finite and
// a sample past the limit.
void add(const double *v, int c, const std::string &where, long max_samples, Series &s)
{
    for (int k = 0; k < c; ++k)
        if (!std::isfinite(v[k])) fail(where, "column " + std::to_string(k + 1) + " is not a finite number");
    if (static_cast<long>(s.samples.size()) >= max_samples)
        fail(where, "more than " + std::to_string(max_samples) + " samples, more than the analysis keeps");
    s.samples.push_back(Sample{v[1], v[2], v[3], v[4], c == 6 ? v[5] : 0.0});
}

// Lines through a buffer of fixed size: a line longer than MAX_SERIES_LINE
// is an error, not a reason to grow.
struct Lines {
    std::FILE *f;
    std::vector<char> buf = std::vector<char>(MAX_SERIES_LINE + 2);
    std::size_t begin = 0, end = 0;
    bool eof = false;
    long number = 0;

    // The next line, NUL-terminated in place without its newline; null at the end.
    char *next(const std::string &path)
    {
        const std::size_t cap = buf.size() - 1;  // one byte for the NUL of a last line without newline
        for (;;) {
            char *nl = static_cast<char *>(std::memchr(buf.data() + begin, '\n', end - begin));
            if (nl || (eof && begin < end)) {
                char *line = buf.data() + begin;
                std::size_t len = nl ? static_cast<std::size_t>(nl - line) : end - begin;
                begin = nl ? begin + len + 1 : end;
                if (len > 0 && line[len - 1] == '\r') --len;  // a file with CR LF line ends
                line[len] = '\0';
                ++number;
                if (std::memchr(line, '\0', len))
                    fail(path + ":" + std::to_string(number), "a NUL byte: not a text series");
                return line;
            }
            if (eof) return nullptr;
            if (end - begin >= cap)
                fail(path + ":" + std::to_string(number + 1),
                     "a line longer than " + std::to_string(MAX_SERIES_LINE) + " bytes: not a series");
            std::memmove(buf.data(), buf.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            const std::size_t got = std::fread(buf.data() + end, 1, cap - end, f);
            if (got == 0) {
                if (std::ferror(f)) fail(path, "cannot read the series file");
                eof = true;
            }
            end += got;
        }
    }
};

void read_text(std::FILE *f, const std::string &path, long max_samples, Series &s)
{
    Lines lines{f};
    int columns = 0;
    while (char *line = lines.next(path)) {
        const std::string where = path + ":" + std::to_string(lines.number);
        if (line[0] == '#') {
            comment(line, where, s, columns);
            continue;
        }
        double v[6];
        int c = 0;
        const char *p = line;
        for (;;) {
            while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
            if (*p == '\0') break;
            char *end = nullptr;
            const double x = std::strtod(p, &end);
            if (end == p || c == 6) {
                c = -1;
                break;
            }
            v[c++] = x;
            p = end;
            if (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r') {
                c = -1;
                break;
            }
        }
        if (c == 0) continue;  // a blank line
        if (c != 5 && c != 6) fail(where, "expected five or six numbers (sweep m phi2 energy potential [F])");
        if (columns == 0) columns = c;
        if (c != columns)
            fail(where, std::to_string(c) + " numbers where the series has " + std::to_string(columns) + " columns");
        add(v, c, where, max_samples, s);
    }
    s.has_F = columns == 6;
}

void read_binary(std::FILE *f, const std::string &path, long max_samples, off_t size, Series &s)
{
    unsigned char pre[PREAMBLE - sizeof MAGIC];
    if (std::fread(pre, 1, sizeof pre, f) != sizeof pre) fail(path, "a binary series cut short in its header");
    const std::uint32_t version = get_u32(pre), c = get_u32(pre + 4), h = get_u32(pre + 8);
    if (version != VERSION)
        fail(path, "a binary series of version " + std::to_string(version) + " (this program reads version 1)");
    if (c != 5 && c != 6) fail(path, "a binary series of " + std::to_string(c) + " columns (5 or 6 expected)");
    if (h > MAX_SERIES_LINE || PREAMBLE + h > static_cast<std::uint64_t>(size))
        fail(path, "a binary series with a damaged header length");
    std::vector<char> text(h + 1, '\0');
    if (std::fread(text.data(), 1, h, f) != h) fail(path, "a binary series cut short in its header");
    if (std::memchr(text.data(), '\0', h)) fail(path, "a binary series with a NUL byte in its header");
    int columns = 0;
    long line = 0;
    for (char *p = text.data(); *p;) {
        char *nl = std::strchr(p, '\n');
        if (nl) *nl = '\0';
        ++line;
        if (p[0] != '#') fail(path + ": header line " + std::to_string(line), "not a comment");
        comment(p, path + ": header line " + std::to_string(line), s, columns);
        p = nl ? nl + 1 : p + std::strlen(p);
    }
    if (columns != static_cast<int>(c)) fail(path, "a binary series whose header does not name its columns");

    const std::uint64_t record = 8 * static_cast<std::uint64_t>(c);
    const std::uint64_t body = static_cast<std::uint64_t>(size) - PREAMBLE - h;
    const std::uint64_t n = body / record;
    if (body % record != 0) fail(path, "ends in the middle of record " + std::to_string(n + 1));
    if (n > static_cast<std::uint64_t>(max_samples))
        fail(path, std::to_string(n) + " samples, more than the " + std::to_string(max_samples) + " the analysis keeps");
    s.samples.reserve(static_cast<std::size_t>(n));
    std::vector<unsigned char> chunk(RECORD_CHUNK * record);
    for (std::uint64_t done = 0; done < n;) {
        const std::uint64_t k = std::min<std::uint64_t>(RECORD_CHUNK, n - done);
        if (std::fread(chunk.data(), record, k, f) != k) fail(path, "cannot read the series file");
        for (std::uint64_t r = 0; r < k; ++r) {
            double v[6];
            for (std::uint32_t j = 0; j < c; ++j) v[j] = get_double(chunk.data() + r * record + 8 * j);
            add(v, static_cast<int>(c), path + ": record " + std::to_string(done + r + 1), max_samples, s);
        }
        done += k;
    }
    s.has_F = c == 6;
}

}  // namespace

std::string series_header(const Options &o)
{
    const std::string h = header_text(o);
    if (o.series_format == SeriesFormat::Text) return h;
    unsigned char pre[PREAMBLE];
    std::memcpy(pre, MAGIC, sizeof MAGIC);
    put_u32(pre + sizeof MAGIC, VERSION);
    put_u32(pre + sizeof MAGIC + 4, 6);
    put_u32(pre + sizeof MAGIC + 8, static_cast<std::uint32_t>(h.size()));
    return std::string(reinterpret_cast<const char *>(pre), sizeof pre) + h;
}

void write_series_header(std::FILE *out, const Options &o)
{
    const std::string h = series_header(o);
    std::fwrite(h.data(), 1, h.size(), out);
}

void check_resumed_series(int fd, const Options &o, std::uint64_t bytes, std::uint64_t samples)
{
    const std::string where = "--resume " + o.resume + ": the series file " + o.series;
    auto refuse = [&](const std::string &what) { throw std::invalid_argument(where + " " + what); };
    struct stat st;
    if (::fstat(fd, &st) != 0) refuse("cannot be read");
    if (static_cast<std::uint64_t>(st.st_size) < bytes)
        refuse("is shorter (" + std::to_string(st.st_size) + " bytes) than at the checkpoint (" + std::to_string(bytes) +
               " bytes): not the series of this run, or damaged");
    // The header's first line, and where the samples begin.
    const std::string text = header_text(o), first = text.substr(0, text.find('\n') + 1);
    std::uint64_t begin = 0;
    std::string head(first.size(), '\0');
    if (o.series_format == SeriesFormat::Binary) {
        unsigned char pre[PREAMBLE];
        if (::pread(fd, pre, sizeof pre, 0) != static_cast<ssize_t>(sizeof pre) || std::memcmp(pre, MAGIC, sizeof MAGIC) != 0)
            refuse("is not a binary series");
        begin = PREAMBLE + get_u32(pre + sizeof MAGIC + 8);
        if (::pread(fd, &head[0], head.size(), PREAMBLE) != static_cast<ssize_t>(head.size()) || head != first)
            refuse("does not start with this run's header line '" + first.substr(0, first.size() - 1) + "'");
        if (bytes < begin || (bytes - begin) != 48 * samples)
            refuse("does not hold " + std::to_string(samples) + " records where the checkpoint was written");
    } else {
        if (::pread(fd, &head[0], head.size(), 0) != static_cast<ssize_t>(head.size()) || head != first)
            refuse("does not start with this run's header line '" + first.substr(0, first.size() - 1) + "'");
    }
    if (samples == 0) return;
    // The last sample before the checkpoint's length: its sweep number.
    double sweep = -1;
    if (o.series_format == SeriesFormat::Binary) {
        unsigned char b[8];
        if (::pread(fd, b, 8, static_cast<off_t>(bytes - 48)) == 8) sweep = get_double(b);
    } else {
        // The line ends at bytes - 1; it is at most MAX_SERIES_LINE long.
        const std::uint64_t from = bytes > MAX_SERIES_LINE ? bytes - MAX_SERIES_LINE : 0;
        std::vector<char> tail(static_cast<std::size_t>(bytes - from));
        if (::pread(fd, tail.data(), tail.size(), static_cast<off_t>(from)) == static_cast<ssize_t>(tail.size()) &&
            !tail.empty() && tail.back() == '\n') {
            tail.back() = '\0';
            const char *nl = std::strrchr(tail.data(), '\n');
            char *end = nullptr;
            const char *line = nl ? nl + 1 : tail.data();
            const double x = std::strtod(line, &end);
            if (end != line && *end == ' ') sweep = x;
        }
    }
    if (sweep != static_cast<double>(samples))
        refuse("does not end with measured sweep " + std::to_string(samples) + " where the checkpoint was written");
}

long write_series_line(std::FILE *out, SeriesFormat format, long sweep, const Sample &s)
{
    if (format == SeriesFormat::Text)
        return std::fprintf(out, "%ld %.17g %.17g %.17g %.17g %.17g\n", sweep, s.m, s.phi2, s.energy, s.potential, s.F);
    unsigned char b[6 * 8];
    const double v[6] = {static_cast<double>(sweep), s.m, s.phi2, s.energy, s.potential, s.F};
    for (int k = 0; k < 6; ++k) put_double(b + 8 * k, v[k]);
    return std::fwrite(b, 1, sizeof b, out) == sizeof b ? static_cast<long>(sizeof b) : -1;
}

Series read_series(const std::string &path, long max_samples)
{
    // O_NONBLOCK: a FIFO without a writer opens at once and is then refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fail(path, std::string("cannot open the series file (") + std::strerror(errno) + ")");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(path, "not a regular file");
    }
    File f(::fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
        fail(path, "cannot open the series file");
    }
    Series s;
    char magic[sizeof MAGIC];
    if (std::fread(magic, 1, sizeof magic, f.get()) == sizeof magic && std::memcmp(magic, MAGIC, sizeof MAGIC) == 0) {
        read_binary(f.get(), path, max_samples, st.st_size, s);
    } else {
        std::rewind(f.get());
        read_text(f.get(), path, max_samples, s);
    }
    return s;
}

}  // namespace o1hb
