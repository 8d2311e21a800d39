#include "heatbath_test_support.h"

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
