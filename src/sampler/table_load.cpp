// Reader of the table file O1_Phi4.res: every line is matched against the
// layout the generator writes, and the first line that does not fit stops
// the load with a TableError naming it and what was expected there.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sampler/table.h"

namespace o1phi4 {

namespace {

using o1_table_format::INDEX_LIMIT;
using o1_table_format::ND_POI_MIN;
// Largest count a header may announce (Nd_poi, N_histogram, N_H_max, the
// index table's length): over thirty times the generator's limits (600
// points, 30001 histograms, 30000 entries), and small enough that no sum or
// product of two counts overflows.
constexpr long COUNT_LIMIT = 1000000;
// Most lines of the C field-index map: ten times the 99 intervals the
// generator can write (the served ranges cost lines times entries).
constexpr std::size_t MAP_LINES_LIMIT = 1000;
// Longest line of a table file: a line with two field values printed by %f
// has at most some 650 characters; anything longer is not a table (a
// binary file) and is not read to its end.
constexpr std::size_t LINE_LIMIT = 4096;
// Bytes read from a file at a time.
constexpr std::size_t CHUNK = std::size_t(1) << 16;
// Largest file read: over twice the largest table the generator can write
// (30001 blocks of 603 lines of about 25 characters).
constexpr std::size_t FILE_LIMIT = std::size_t(1) << 30;
// Text every table starts with; a file whose first line lacks it is not
// read further.
constexpr char HEADER_START[] = "-> O(1) with H0=";

// Matching within one line: literal texts, blanks, numbers.
struct Cursor {
    const char *s;

    bool lit(const char *text)
    {
        const std::size_t n = std::strlen(text);
        if (std::strncmp(s, text, n) != 0) return false;
        s += n;
        return true;
    }
    void blanks()
    {
        while (*s == ' ' || *s == '\t') ++s;
    }
    // A finite decimal number (no hexadecimal, no inf or nan).
    bool real(double &v)
    {
        const char *p = s;
        if (*p == '+' || *p == '-') ++p;
        if (!(std::isdigit(static_cast<unsigned char>(*p)) || (*p == '.' && std::isdigit(static_cast<unsigned char>(p[1])))))
            return false;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
        char *end;
        errno = 0;
        const double d = std::strtod(s, &end);
        if (end == s || !std::isfinite(d)) return false;
        v = d;
        s = end;
        return true;
    }
    bool integer(long &v)
    {
        const char *p = s;
        if (*p == '+' || *p == '-') ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        char *end;
        errno = 0;
        const long d = std::strtol(s, &end, 10);
        // Every integer of the file is an int of the C and FORTRAN lines.
        if (errno == ERANGE || std::fabs(static_cast<double>(d)) > INDEX_LIMIT) return false;
        v = d;
        s = end;
        return true;
    }
    bool integer(int &v)
    {
        long l;
        if (!integer(l)) return false;
        v = static_cast<int>(l);
        return true;
    }
    bool end() const { return *s == '\0'; }
};

// A source of the lines of a table: its text in memory, or the file itself
// read in chunks, so that memory follows what the table keeps, never the
// length of what is read.
class Lines {
public:
    virtual ~Lines() = default;
    // The next line, without its newline, into line; false at the end.
    virtual bool next(std::string &line) = 0;
};

class TextLines : public Lines {
public:
    explicit TextLines(const std::string &text) : text_(text) {}
    bool next(std::string &line) override
    {
        if (pos_ >= text_.size()) return false;
        std::size_t nl = text_.find('\n', pos_);
        if (nl == std::string::npos) nl = text_.size();
        line.assign(text_, pos_, nl - pos_);
        pos_ = nl + 1;
        return true;
    }
    // Lines of text: its newlines, and one more for text after the last.
    static long count(const std::string &text)
    {
        long n = 0;
        for (const char c : text) n += c == '\n';
        return n + (!text.empty() && text.back() != '\n');
    }

private:
    const std::string &text_;
    std::size_t pos_ = 0;
};

// An open file descriptor, closed when it goes.
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

// The lines of the file fd, read in chunks of CHUNK bytes; refuses a line
// longer than LINE_LIMIT.
class FileLines : public Lines {
public:
    FileLines(int fd, const std::string &path) : fd_(fd), path_(path), buf_(CHUNK) {}
    bool next(std::string &line) override
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (begin_ == end_ && !fill()) {
                if (any) ++lines_;
                return any;
            }
            any = true;
            const char *from = buf_.data() + begin_;
            const char *nl = static_cast<const char *>(std::memchr(from, '\n', end_ - begin_));
            const std::size_t n = nl ? static_cast<std::size_t>(nl - from) : end_ - begin_;
            line.append(from, n);
            begin_ += nl ? n + 1 : n;
            if (line.size() > LINE_LIMIT) too_long(path_, lines_ + 1);
            if (nl) {
                ++lines_;
                return true;
            }
        }
    }
    // The next chunk into the buffer; false at the end of the file.
    bool fill()
    {
        begin_ = 0;
        end_ = 0;
        for (;;) {
            const ssize_t got = ::read(fd_, buf_.data(), buf_.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw TableError(path_, 0, std::string("cannot read the file: ") + std::strerror(errno));
            end_ = static_cast<std::size_t>(got);
            return got > 0;
        }
    }
    const char *data() const { return buf_.data(); }
    std::size_t size() const { return end_; }
    [[noreturn]] static void too_long(const std::string &path, long line)
    {
        throw TableError(path, line, "line longer than " + std::to_string(LINE_LIMIT) + " characters: not a table file");
    }

private:
    int fd_;
    std::string path_;
    std::vector<char> buf_;
    std::size_t begin_ = 0, end_ = 0;
    long lines_ = 0;  // complete lines returned
};

class Reader {
public:
    // Reads the lines of src, which holds total lines (fewer if it shrinks
    // meanwhile: then the file ends early).
    Reader(Lines &src, long total, const std::string &name) : src_(src), total_(total), file_(name) {}

    // Number of the line next() returns next (1-based).
    long line_no() const { return pos_ + 1; }
    std::size_t remaining() const { return static_cast<std::size_t>(total_ - pos_); }
    bool at_end() const { return pos_ >= total_; }

    // The next line; the file ending here is an error naming what was due.
    // The line stays valid until the next call.
    const std::string &next(const std::string &expected)
    {
        if (pos_ >= total_ || !src_.next(line_)) throw TableError(file_, line_no(), "file ends early: expected " + expected);
        ++pos_;
        // Blanks and a carriage return at the end carry no meaning.
        while (!line_.empty() && (line_.back() == ' ' || line_.back() == '\t' || line_.back() == '\r')) line_.pop_back();
        return line_;
    }
    [[noreturn]] void fail(long line, const std::string &message) const { throw TableError(file_, line, message); }
    // Fails on the line just read.
    [[noreturn]] void bad(const std::string &expected) const
    {
        fail(pos_, "expected " + expected + ", found \"" + line_.substr(0, 80) + "\"");
    }

    // A line starting with a fixed text (decoration lines).
    void fixed(const char *prefix)
    {
        Cursor c{next(std::string("a line starting with \"") + prefix + "\"").c_str()};
        if (!c.lit(prefix)) bad(std::string("a line starting with \"") + prefix + "\"");
    }
    // "#define NAME   %d    // ..."
    int define(const char *name)
    {
        const std::string what = std::string("\"#define ") + name + " <integer>\"";
        Cursor c{next(what).c_str()};
        int v;
        if (!c.lit("#define ") || !c.lit(name) || (*c.s != ' ' && *c.s != '\t')) bad(what);
        c.blanks();
        if (!c.integer(v) || (!c.end() && *c.s != ' ' && *c.s != '\t')) bad(what);
        return v;
    }
    // A line holding just one integer.
    long count(const char *what)
    {
        Cursor c{next(what).c_str()};
        long v;
        c.blanks();
        if (!c.integer(v)) bad(what);
        c.blanks();
        if (!c.end()) bad(what);
        return v;
    }
    // Refuses a count above COUNT_LIMIT announced on the given line.
    void bounded(long line, const char *name, long v) const
    {
        if (v > COUNT_LIMIT)
            fail(line, std::string(name) + " is " + std::to_string(v) + ", more than any table can hold (" +
                           std::to_string(COUNT_LIMIT) + ")");
    }

private:
    Lines &src_;
    long total_;
    std::string file_;
    std::string line_;  // the line just read
    long pos_ = 0;      // lines read
};

void read_header(Reader &r, Table &t)
{
    {
        const char *what = "\"-> O(1) with H0=<h0> -> H_max=<hmax> and loss=<loss>%\"";
        Cursor c{r.next(what).c_str()};
        if (!c.lit("-> O(1) with H0=") || !c.real(t.H0) || !c.lit(" -> H_max=") || !c.real(t.H_max_header) ||
            !c.lit(" and loss=") || !c.real(t.loss_header) || !c.lit("%") || !c.end())
            r.bad(what);
    }
    r.fixed("---");
    r.fixed("----> 1.");
    r.fixed("--> a.");
    const long nd_line = r.line_no();
    t.nd_poi = r.define("Nd_poi");
    t.n_histogram = r.define("N_histogram");
    t.n_h_max = r.define("N_H_max");
    if (t.nd_poi < ND_POI_MIN)
        r.fail(nd_line, "Nd_poi must be at least " + std::to_string(ND_POI_MIN) + " (two tails and two steps), found " +
                            std::to_string(t.nd_poi));
    if (t.n_histogram < 0) r.fail(nd_line + 1, "N_histogram must not be negative");
    r.bounded(nd_line, "Nd_poi", t.nd_poi);
    r.bounded(nd_line + 1, "N_histogram", t.n_histogram);
    r.bounded(nd_line + 2, "N_H_max", t.n_h_max);
    r.fixed("-");
    r.fixed("--> b.");
    {
        const char *what = "\"PARAMETER(Nd_poi=<n>,N_hist=<n>,N_O_m=<n>)\"";
        Cursor c{r.next(what).c_str()};
        if (!c.lit("PARAMETER(Nd_poi=") || !c.integer(t.param_nd_poi) || !c.lit(",N_hist=") || !c.integer(t.param_n_hist) ||
            !c.lit(",N_O_m=") || !c.integer(t.param_n_o_m) || !c.lit(")") || !c.end())
            r.bad(what);
        if (t.param_nd_poi != t.nd_poi || t.param_n_hist != t.n_histogram || t.param_n_o_m != t.n_h_max)
            r.fail(r.line_no() - 1, "the PARAMETER line disagrees with the #define lines");
    }
    r.fixed("-");
    r.fixed("----> 2.");
    r.fixed("--> a.");
}

// The C lines "if(h<U ) j=C+(int)(h/D);", later ones after "else ", then the
// closing "else {printf(\"H must be < U\\n\"); exit(-1);}".
void read_c_map(Reader &r, Table &t)
{
    for (;;) {
        const char *what = t.c_map.empty() ? "\"if(h<<bound> ) j=<offset>+(int)(h/<step>);\""
                                           : "\"else if(h<<bound> ) j=<offset>+(int)(h/<step>);\" or the closing else line";
        Cursor c{r.next(what).c_str()};
        if (!t.c_map.empty() || c.s[0] == 'e') {
            if (!c.lit("else ")) r.bad(what);
            if (c.lit("{printf(\"H must be < ")) {
                if (t.c_map.empty()) r.bad("an \"if(h<...\" line before the closing else line");
                if (!c.real(t.H_max) || !c.lit("\\n\"); exit(-1);}") || !c.end()) r.bad("\"else {printf(\\\"H must be < <hmax>\\n\\\"); exit(-1);}\"");
                return;
            }
            if (t.c_map.empty()) r.bad(what);
        }
        FieldInterval f;
        if (!c.lit("if(h<") || !c.real(f.upper) || !c.lit(" ) j=") || !c.integer(f.offset) || !c.lit("+(int)(h/") ||
            !c.real(f.step) || !c.lit(");") || !c.end())
            r.bad(what);
        if (!(f.step > 0)) r.fail(r.line_no() - 1, "the field step must be positive");
        if (!t.c_map.empty() && !(f.upper > t.c_map.back().upper))
            r.fail(r.line_no() - 1, "the interval bounds must increase");
        if (t.c_map.size() == MAP_LINES_LIMIT)
            r.fail(r.line_no() - 1, "more than " + std::to_string(MAP_LINES_LIMIT) + " lines in the field-index map");
        t.c_map.push_back(f);
    }
}

// The FORTRAN lines: "IF(h.LT.UD0 ) THEN" / "\t j=C+int(h/DD0)", later ones
// after "ELSE ", then "ELSE", the WRITE line, "STOP 1", "ENDIF", the end line.
// The bound and the step may also come without "D0" (single-precision
// literals) and the stop as a bare "STOP": tables of either form are read.
void read_fortran_map(Reader &r, Table &t)
{
    // A number, then the double-precision suffix where the file has it.
    const auto real_d0 = [](Cursor &c, double &v) {
        if (!c.real(v)) return false;
        c.lit("D0");
        return true;
    };
    r.fixed("-");
    r.fixed("--> b.");
    for (;;) {
        const char *what = "\"IF(h.LT.<bound>D0 ) THEN\" (after \"ELSE \" but for the first) or \"ELSE\"";
        Cursor c{r.next(what).c_str()};
        if (!t.fortran_map.empty()) {
            if (std::strcmp(c.s, "ELSE") == 0) break;
            if (!c.lit("ELSE ")) r.bad(what);
        }
        FieldInterval f;
        if (!c.lit("IF(h.LT.") || !real_d0(c, f.upper) || !c.lit(" ) THEN") || !c.end()) r.bad(what);
        const char *what2 = "\"\\t j=<offset>+int(h/<step>D0)\"";
        Cursor d{r.next(what2).c_str()};
        d.blanks();
        if (!d.lit("j=") || !d.integer(f.offset) || !d.lit("+int(h/") || !real_d0(d, f.step) || !d.lit(")") || !d.end())
            r.bad(what2);
        t.fortran_map.push_back(f);
    }
    {
        const char *what = "\"\\tWRITE(6,*) \\\"H must be < <hmax>\\\"\"";
        Cursor c{r.next(what).c_str()};
        c.blanks();
        if (!c.lit("WRITE(6,*) \"H must be < ") || !c.real(t.fortran_H_max) || !c.lit("\"") || !c.end()) r.bad(what);
    }
    {
        Cursor c{r.next("\"STOP 1\"").c_str()};
        c.blanks();
        if (!c.lit("STOP") || !(c.end() || (c.lit(" 1") && c.end()))) r.bad("\"STOP 1\"");
    }
    r.fixed("ENDIF");
    r.fixed("$------------------- end copy");
}

void read_index_table(Reader &r, Table &t)
{
    const long m_line = r.line_no();
    const long M = r.count("the number of index-table entries");
    if (M < 0) r.fail(m_line, "the number of index-table entries must not be negative");
    r.bounded(m_line, "the number of index-table entries", M);
    if (static_cast<std::size_t>(M) > r.remaining())
        r.fail(m_line, "the index table announces " + std::to_string(M) + " entries, but only " +
                           std::to_string(r.remaining()) + " lines follow");
    if (t.n_h_max != M + 5)
        r.fail(m_line, "N_H_max is " + std::to_string(t.n_h_max) + ", the index table's length + 5 is " +
                           std::to_string(M + 5));
    t.index_j.reserve(static_cast<std::size_t>(M));
    t.index_m.reserve(static_cast<std::size_t>(M));
    for (long i = 0; i < M; ++i) {
        const char *what = "an index-table entry \"<field index> <histogram>\"";
        Cursor c{r.next(what).c_str()};
        long j;
        int m;
        c.blanks();
        if (!c.integer(j)) r.bad(what);
        c.blanks();
        if (!c.integer(m)) r.bad(what);
        c.blanks();
        if (!c.end()) r.bad(what);
        if (!t.index_j.empty() && j <= t.index_j.back())
            r.fail(r.line_no() - 1, "field indices must increase, " + std::to_string(j) + " follows " +
                                        std::to_string(t.index_j.back()));
        if (m < 0 || m > t.n_histogram)
            r.fail(r.line_no() - 1, "histogram number " + std::to_string(m) + " outside 0.." + std::to_string(t.n_histogram));
        t.index_j.push_back(j);
        t.index_m.push_back(m);
    }
    const long n_line = r.line_no();
    const long N = r.count("the line with N_histogram after the index table");
    if (N != t.n_histogram)
        r.fail(n_line, "N after the index table is " + std::to_string(N) + ", #define N_histogram is " +
                           std::to_string(t.n_histogram));
    t.n_after_table = static_cast<int>(N);
}

void read_blocks(Reader &r, Table &t)
{
    const int nd = t.nd_poi;
    // Both counts are at most COUNT_LIMIT: no overflow in long.
    const long blocks = static_cast<long>(t.n_histogram) + 1, lines = static_cast<long>(nd) + 3;
    const std::size_t need = static_cast<std::size_t>(blocks * lines);
    if (need > r.remaining())
        r.fail(r.line_no(), std::to_string(blocks) + " blocks of " + std::to_string(lines) + " lines need " +
                                std::to_string(need) + " lines, only " + std::to_string(r.remaining()) + " remain");
    t.blocks.resize(static_cast<std::size_t>(t.n_histogram) + 1);
    for (int m = 0; m <= t.n_histogram; ++m) {
        Block &b = t.blocks[static_cast<std::size_t>(m)];
        b.first_line = r.line_no();
        {
            const char *what = "a block's first line \"<j> <H> <Nd_poi> <loss> <X_max> <a>\"";
            Cursor c{r.next(what).c_str()};
            if (!c.integer(b.j) || !c.lit(" ") || !c.real(b.H) || !c.lit(" ") || !c.integer(b.nd_poi) || !c.lit(" ") ||
                !c.real(b.loss) || !c.lit(" ") || !c.real(b.X_max) || !c.lit(" ") || !c.real(b.a) || !c.end())
                r.bad(what);
            if (b.j != m) r.fail(b.first_line, "block number " + std::to_string(b.j) + " where " + std::to_string(m) + " is due");
            if (b.nd_poi != nd)
                r.fail(b.first_line, "block has Nd_poi " + std::to_string(b.nd_poi) + ", the header " + std::to_string(nd));
        }
        {
            const char *what = "the tail line \"<C1L> <C2L> <C1R> <C2R>\"";
            Cursor c{r.next(what).c_str()};
            if (!c.real(b.C1L) || !c.lit(" ") || !c.real(b.C2L) || !c.lit(" ") || !c.real(b.C1R) || !c.lit(" ") ||
                !c.real(b.C2R) || !c.end())
                r.bad(what);
        }
        b.p.resize(static_cast<std::size_t>(nd));
        b.flag.resize(static_cast<std::size_t>(nd));
        for (int k = 0; k < nd; ++k) {
            const char *what = "a position line \"<x> <flag>\"";
            Cursor c{r.next(what).c_str()};
            if (!c.real(b.p[static_cast<std::size_t>(k)]) || !c.lit(" ") || !c.integer(b.flag[static_cast<std::size_t>(k)]) || !c.end())
                r.bad(what);
        }
        {
            const char *what = "the block's closing line \"0.0000000000000000e+00 0\"";
            Cursor c{r.next(what).c_str()};
            double z;
            int f;
            if (!c.real(z) || !c.lit(" ") || !c.integer(f) || !c.end() || z != 0 || f != 0) r.bad(what);
        }
    }
    if (!r.at_end()) r.fail(r.line_no(), "unexpected text after the last block");
}

// Field indices must fit the int of the generated C code over the whole
// range of field values the snippet can be asked about.
void check_map_range(const Table &t)
{
    const double hmax = std::fmax(std::fabs(t.H0), std::fabs(t.H_max));
    for (const FieldInterval &f : t.c_map) {
        const double q = std::fmax(hmax, std::fabs(f.upper)) / f.step;
        if (!(q + std::fabs(static_cast<double>(f.offset)) < INDEX_LIMIT))
            throw TableError(t.file, 0, "field indices of the interval below " + std::to_string(f.upper) +
                                            " do not fit an int");
    }
}

// served_lo/served_hi, for every block.
void served_ranges(Table &t)
{
    const std::size_t n = t.blocks.size();
    t.served_lo.resize(n);
    t.served_hi.resize(n);
    o1_table_format::served_ranges(t.c_map.data(), t.c_map.size(), t.index_j.data(), t.index_m.data(), t.index_j.size(),
                                   t.H0, t.H_max, t.served_lo.data(), t.served_hi.data(), n);
}

}  // namespace

std::string printable(const std::string &s)
{
    std::string r;
    r.reserve(s.size());
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f) {
            r += ch;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            r += buf;
        }
    }
    return r;
}

TableError::TableError(const std::string &file, long line, const std::string &message)
    : std::runtime_error(printable(file) + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + printable(message)),
      line_(line)
{
}

double Table::H_upper(int m) const
{
    if (m < n_histogram) return blocks[static_cast<std::size_t>(m) + 1].H;
    return std::fmax(blocks[static_cast<std::size_t>(m)].H + o1_table_format::LAST_HISTOGRAM_REACH, H_max);
}

namespace {

Table parse(Lines &src, long total, const std::string &name)
{
    Reader r(src, total, name);
    Table t;
    t.file = name;
    read_header(r, t);
    read_c_map(r, t);
    read_fortran_map(r, t);
    read_index_table(r, t);
    read_blocks(r, t);
    check_map_range(t);
    served_ranges(t);
    return t;
}

// The number of lines of the file f reads, read once to its end: a line
// longer than LINE_LIMIT or a file longer than FILE_LIMIT is refused, so that
// no file makes the reader run out of time; a first line that no table has
// ends the count there (the parser then reports it).
long count_lines(FileLines &f, const std::string &path)
{
    const std::size_t start = std::strlen(HEADER_START);
    std::string first;        // the start of the first line
    std::size_t length = 0;   // of the line being read
    std::size_t total = 0;
    long lines = 0;           // complete lines
    while (f.fill()) {
        total += f.size();
        const char *p = f.data(), *end = p + f.size();
        while (p < end) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const std::size_t n = static_cast<std::size_t>((nl ? nl : end) - p);
            if (lines == 0 && first.size() < start) first.append(p, std::min(n, start - first.size()));
            length += n;
            if (length > LINE_LIMIT) FileLines::too_long(path, lines + 1);
            if (!nl) break;
            ++lines;
            length = 0;
            p = nl + 1;
            if (lines == 1 && first != HEADER_START) return 1;
        }
        if (total > FILE_LIMIT)
            throw TableError(path, lines + 1, "file longer than " + std::to_string(FILE_LIMIT) + " bytes: not a table file");
    }
    return lines + (length > 0);
}

}  // namespace

Table parse_table(const std::string &text, const std::string &name)
{
    TextLines src(text);
    return parse(src, TextLines::count(text), name);
}

Table load_table(const std::string &path)
{
    // Opened without blocking, so that a FIFO without a writer (or a device
    // that waits) is refused rather than waited for: a table is a regular
    // file.
    const Descriptor d{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (d.fd < 0) throw TableError(path, 0, std::string("cannot open the file: ") + std::strerror(errno));
    struct stat st;
    if (::fstat(d.fd, &st) != 0) throw TableError(path, 0, std::string("cannot read the file: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw TableError(path, 0, "not a regular file (a folder, FIFO or device): a table is read from a file");
    const int flags = ::fcntl(d.fd, F_GETFL);
    if (flags == -1 || ::fcntl(d.fd, F_SETFL, flags & ~O_NONBLOCK) == -1)
        throw TableError(path, 0, std::string("cannot read the file: ") + std::strerror(errno));
    // Two passes: the first counts the lines (the parser checks announced
    // counts against them before it allocates), the second parses.
    FileLines count(d.fd, path);
    const long lines = count_lines(count, path);
    if (::lseek(d.fd, 0, SEEK_SET) != 0) throw TableError(path, 0, std::string("cannot read the file: ") + std::strerror(errno));
    FileLines src(d.fd, path);
    return parse(src, lines, path);
}

bool field_index(const Table &t, double h, long &index)
{
    if (std::isnan(h)) return false;
    for (const FieldInterval &f : t.c_map) {
        if (h < f.upper) {
            // (int)(h/step) of the C code: truncation toward zero.
            const double q = std::trunc(h / f.step);
            if (!(std::fabs(q) < INDEX_LIMIT)) return false;
            index = f.offset + static_cast<long>(q);
            return true;
        }
    }
    return false;
}

double majorant(const Block &b, double x)
{
    const std::size_t nd = b.p.size();
    if (x < b.p[0]) return std::exp(b.C1L * x + b.C2L);
    if (x > b.p[nd - 1]) return std::exp(b.C1R * x + b.C2R);
    // Last step k with p[k] <= x (steps are k = 1..nd-2).
    std::size_t lo = 1, hi = nd - 2;
    while (lo < hi) {
        const std::size_t mid = (lo + hi + 1) / 2;
        if (b.p[mid] <= x) lo = mid;
        else hi = mid - 1;
    }
    return b.a / (b.p[lo + 1] - b.p[lo]);
}

}  // namespace o1phi4
