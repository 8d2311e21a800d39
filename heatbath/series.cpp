// The series file: one line per measured sweep, readable by a plotting tool.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "heatbath/program.h"

namespace o1hb {

void write_series_header(std::FILE *out, const Options &o)
{
    const RunParameters &p = o.run;
    std::fprintf(out, "# o1_phi4_heatbath d=%d L=%d beta=%.17g landa=%.17g therm=%ld sweeps=%ld seed=%llu\n", p.d, p.L,
                 p.beta, p.landa, p.therm, p.sweeps, static_cast<unsigned long long>(p.seed));
    const char *order = p.order == Order::Checkerboard ? "checkerboard" : "lexicographic";
    if (p.update == Update::HeatBath)
        std::fprintf(out, "# update=heatbath table=%s order=%s sw=%d clusters=%d\n", o.table.c_str(), order, p.sw, p.clusters);
    else
        std::fprintf(out, "# update=metropolis hits=%d step=%.17g order=%s sw=%d clusters=%d\n", p.hits, p.step, order, p.sw,
                     p.clusters);
    std::fputs("# sweep m phi2 energy potential F\n", out);
}

void write_series_line(std::FILE *out, long sweep, const Sample &s)
{
    std::fprintf(out, "%ld %.17g %.17g %.17g %.17g %.17g\n", sweep, s.m, s.phi2, s.energy, s.potential, s.F);
}

std::vector<Sample> read_series(const std::string &path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot open the series file");
    std::vector<Sample> series;
    std::string line;
    long n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (line.empty() || line[0] == '#') continue;
        const char *c = line.c_str();
        char *end = nullptr;
        // Five numbers, and F (absent from older files: NaN) as a sixth.
        double v[6] = {0, 0, 0, 0, 0, std::nan("")};
        bool ok = true;
        for (int i = 0; i < 6; ++i) {
            errno = 0;
            const double x = std::strtod(c, &end);
            if (end == c && i == 5) break;
            ok = ok && end != c && errno != ERANGE;
            v[i] = x;
            c = end;
        }
        while (*c == ' ' || *c == '\t' || *c == '\r') ++c;
        if (!ok || *c != '\0')
            throw std::runtime_error(path + ":" + std::to_string(n) + ": expected five numbers (sweep m phi2 energy potential)");
        series.push_back(Sample{v[1], v[2], v[3], v[4], v[5]});
    }
    return series;
}

}  // namespace o1hb
