// draw TABLE: the C++ API of the installed sampler, as draw.c does with the C
// API: a field value of each sign and, with the fallback, one beyond H_max.
#include <cstdio>
#include <exception>

#include <o1_phi4/sampler.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw TABLE\n");
        return 1;
    }
    try {
        o1phi4::SamplerOptions options;
        options.fallback = true;
        const o1phi4::Sampler s(o1phi4::load_table(argv[1]), 1.0, options);
        o1phi4::Xoshiro256ss g(1);
        o1phi4::DrawStats stats;
        const double h = s.H_max();
        const double x[3] = {s.draw(0.5 * h, g, stats), s.draw(-0.5 * h, g, stats), s.draw(1.5 * h, g, stats)};
        std::printf("%.6f %.6f %.6f\n", x[0], x[1], x[2]);
        return stats.fallback == 1 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "draw: %s\n", e.what());
        return 1;
    }
}
