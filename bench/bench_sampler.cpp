// Nanoseconds per draw of the reference sampler against the exact
// alternatives: UNU.RAN's PINV (set up once at a fixed field value, or set up
// afresh for every draw at a random field value) and the library's table-free
// fallback (a Gaussian envelope).  The table comes from a run of the program
// with Landa = 1, H0 = 0, H_max = 200 and 10 % losses, made in a scratch
// folder unless a table is named with --table=PATH.
#include <benchmark/benchmark.h>
#include <unuran.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_table.h"
#include "sampler/sampler.h"

namespace {

constexpr double LANDA = 1.0;
constexpr double H_LO = 0.0;
constexpr double H_HI = 200.0;
// Fixed field values: a bimodal weight and a strongly tilted one.
constexpr double H_FIXED_SMALL = 0.3;
constexpr double H_FIXED_LARGE = 100.0;

std::unique_ptr<o1phi4::Sampler> g_sampler;

// Uniform field value in [H_LO, H_HI) from the generator.
inline double random_h(o1phi4::Xoshiro256ss &g)
{
    return H_LO + (H_HI - H_LO) * (static_cast<double>(g() >> 11) * 0x1.0p-53);
}

inline double unit(o1phi4::Xoshiro256ss &g) { return static_cast<double>(g() >> 11) * 0x1.0p-53; }

// Right mode of the weight at field value h: its largest stationary point.
double right_mode(double h)
{
    double x[3];
    return x[o1phi4::stationary_points(LANDA, h, x) - 1];
}

// ---------------------------------------------------------------- reference sampler

void BM_Table_FixedH(benchmark::State &state)
{
    const double h = static_cast<double>(state.range(0)) / 10.0;
    o1phi4::Xoshiro256ss g(12345);
    const int m = g_sampler->histogram(h);
    std::uint64_t trials = 0;
    for (auto _ : state) benchmark::DoNotOptimize(g_sampler->draw_from(m, h, g, trials));
    state.counters["acceptance"] = static_cast<double>(state.iterations()) / static_cast<double>(trials);
}

void BM_Table_RandomH(benchmark::State &state)
{
    o1phi4::Xoshiro256ss g(12345);
    std::uint64_t trials = 0;
    for (auto _ : state) benchmark::DoNotOptimize(g_sampler->draw(random_h(g), g, trials));
    state.counters["acceptance"] = static_cast<double>(state.iterations()) / static_cast<double>(trials);
}

// Both signs, as in a heat bath of the symmetric phase: h uniform in
// [-H_HI, H_HI).
void BM_Table_RandomH_BothSigns(benchmark::State &state)
{
    o1phi4::Xoshiro256ss g(12345);
    std::uint64_t trials = 0;
    for (auto _ : state) benchmark::DoNotOptimize(g_sampler->draw(H_HI * (2 * unit(g) - 1), g, trials));
    state.counters["acceptance"] = static_cast<double>(state.iterations()) / static_cast<double>(trials);
}

// ---------------------------------------------------------------- fallback

// The sampler's table-free fallback: a Gaussian envelope set up for every
// draw (see detail::GaussEnvelope).
void BM_Fallback_FixedH(benchmark::State &state)
{
    const double h = static_cast<double>(state.range(0)) / 10.0;
    o1phi4::Xoshiro256ss g(12345);
    std::uint64_t trials = 0;
    for (auto _ : state) benchmark::DoNotOptimize(g_sampler->draw_fallback(h, g, trials));
    state.counters["acceptance"] = static_cast<double>(state.iterations()) / static_cast<double>(trials);
}

void BM_Fallback_RandomH(benchmark::State &state)
{
    o1phi4::Xoshiro256ss g(12345);
    std::uint64_t trials = 0;
    for (auto _ : state) benchmark::DoNotOptimize(g_sampler->draw_fallback(random_h(g), g, trials));
    state.counters["acceptance"] = static_cast<double>(state.iterations()) / static_cast<double>(trials);
}

// ---------------------------------------------------------------- UNU.RAN PINV

double unuran_uniform(void *state) { return unit(*static_cast<o1phi4::Xoshiro256ss *>(state)); }

// Weight scaled to 1 at the right mode X: exp(E(x) - E(X)) with
// E(x) = h x - x^2 - L (x^2 - 1)^2, params {h, L, X, E(X) - h X}.
double unuran_pdf(double x, const UNUR_DISTR *distr)
{
    const double *p;
    unur_distr_cont_get_pdfparams(distr, &p);
    return std::exp(o1phi4::log_weight(p[0], p[2], p[1], x) - p[3]);
}

struct Pinv {
    UNUR_DISTR *distr = nullptr;
    UNUR_GEN *gen = nullptr;
    UNUR_URNG *urng = nullptr;
    o1phi4::Xoshiro256ss g{12345};

    explicit Pinv(double h)
    {
        distr = unur_distr_cont_new();
        unur_distr_cont_set_pdf(distr, unuran_pdf);
        urng = unur_urng_new(unuran_uniform, &g);
        setup(h);
    }
    ~Pinv()
    {
        unur_free(gen);
        unur_distr_free(distr);
        unur_urng_free(urng);
    }
    // Parameters for field value h and a new inversion table (PINV has no
    // re-initialisation, so a new field value means a new generator).
    void setup(double h)
    {
        double X = right_mode(h);
        double p[4] = {h, LANDA, X, o1phi4::log_weight(h, X, LANDA, X)};
        unur_distr_cont_set_pdfparams(distr, p, 4);
        unur_distr_cont_set_center(distr, X);
        unur_distr_cont_set_mode(distr, X);
        UNUR_PAR *par = unur_pinv_new(distr);
        unur_set_urng(par, urng);
        if (gen) unur_free(gen);
        gen = unur_init(par);
        if (!gen) {
            std::fprintf(stderr, "UNU.RAN PINV could not be set up at h=%g\n", h);
            std::exit(1);
        }
    }
};

void BM_UnuranPinv_FixedH(benchmark::State &state)
{
    const double h = static_cast<double>(state.range(0)) / 10.0;
    Pinv p(h);
    for (auto _ : state) benchmark::DoNotOptimize(unur_sample_cont(p.gen));
}

void BM_UnuranPinv_RandomH_SetupPerDraw(benchmark::State &state)
{
    Pinv p(1.0);
    o1phi4::Xoshiro256ss g(777);
    for (auto _ : state) {
        p.setup(random_h(g));
        benchmark::DoNotOptimize(unur_sample_cont(p.gen));
    }
}

}  // namespace

// Fixed field values are passed in tenths.
BENCHMARK(BM_Table_FixedH)->Arg(H_FIXED_SMALL * 10)->Arg(H_FIXED_LARGE * 10);
BENCHMARK(BM_UnuranPinv_FixedH)->Arg(H_FIXED_SMALL * 10)->Arg(H_FIXED_LARGE * 10);
BENCHMARK(BM_Fallback_FixedH)->Arg(H_FIXED_SMALL * 10)->Arg(H_FIXED_LARGE * 10);
BENCHMARK(BM_Table_RandomH);
BENCHMARK(BM_Table_RandomH_BothSigns);
BENCHMARK(BM_Fallback_RandomH);
BENCHMARK(BM_UnuranPinv_RandomH_SetupPerDraw);

int main(int argc, char **argv)
{
    // The typical run: Landa 1, H0 0, H_max 200, 10 %.
    const std::string table = bench_table(argc, argv, "1\n0\n200\n10\n1\n");
    g_sampler = std::make_unique<o1phi4::Sampler>(o1phi4::load_table(table), LANDA);
    forget_bench_table();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
