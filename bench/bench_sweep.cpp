// Nanoseconds per site of the simulation's sweeps: the heat bath in
// checkerboard order on 1 and 2 threads, beside its yardsticks measured in
// the same run (the lexicographic sweep as it was before the checkerboard
// engine, with one xoshiro generator for the whole lattice, and the
// lexicographic order that remains as an option), a Metropolis sweep of one
// hit, one Swendsen-Wang update and one measurement (beside the measurement
// with plain double sums that it replaced).  d = 3, landa = 1.1,
// beta = 0.3750966; the table (Landa 1.1, H0 0, H_max 5, 10 %) is made in a
// scratch folder unless one is named with --table=PATH.  Wall-clock time,
// since the threads' work is what is timed.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench_table.h"
#include "heatbath/heatbath.h"

namespace {

constexpr int DIM = 3;
constexpr double LANDA = 1.1;
constexpr double BETA = 0.3750966;
// Sweeps from the random start before timing, so that the field values are
// those of a run.
constexpr long WARM_UP_SWEEPS = 50;

std::unique_ptr<o1hb::HeatBathSampler> g_sampler;

// A lattice of L^3 sites near equilibrium, and the sweep counter of its run.
struct Run {
    o1hb::Lattice lat;
    std::vector<double> phi;
    o1hb::SweepKey k{o1hb::stream_key(1), 0};
    o1hb::HeatBathStats hb;

    explicit Run(int L) : lat(o1hb::make_lattice(DIM, L))
    {
        o1hb::RunParameters p;
        p.d = DIM;
        p.L = L;
        p.beta = BETA;
        p.landa = LANDA;
        p.therm = WARM_UP_SWEEPS;
        p.sweeps = 1;
        phi = o1hb::simulate(p, g_sampler.get()).phi;
        k.sweep = static_cast<std::uint64_t>(WARM_UP_SWEEPS) + 2;
    }
    const o1hb::SweepKey &next()
    {
        ++k.sweep;
        return k;
    }
};

void per_site(benchmark::State &state, const o1hb::Lattice &lat)
{
    state.counters["ns_per_site"] = benchmark::Counter(static_cast<double>(lat.V) * static_cast<double>(state.iterations()) * 1e-9,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---------------------------------------------------------------- yardstick

// The heat-bath sweep before the checkerboard engine: lexicographic order,
// the neighbour table, one generator drawn from in turn.
void yardstick_sweep(const o1hb::Lattice &lat, double beta, const o1hb::HeatBathSampler &s, std::vector<double> &phi,
                     o1phi4::Xoshiro256ss &g, o1phi4::DrawStats &st)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    const std::int32_t *nb = lat.nb.data();
    double *f = phi.data();
    for (long x = 0; x < lat.V; ++x, nb += n) {
        double sum = f[nb[0]];
        for (std::size_t k = 2; k < n; ++k) sum += f[nb[k]];
        sum += f[nb[1]];
        f[x] = s.draw(beta * sum, g, st);
    }
}

void BM_HeatBath_Yardstick(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    o1phi4::Xoshiro256ss g(1);
    o1phi4::DrawStats st;
    for (auto _ : state) yardstick_sweep(run.lat, BETA, *g_sampler, run.phi, g, st);
    per_site(state, run.lat);
}

// ---------------------------------------------------------------- the engine

void BM_HeatBath_Lexicographic(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    for (auto _ : state)
        o1hb::heat_bath_sweep(run.lat, BETA, *g_sampler, run.phi, run.next(), o1hb::Order::Lexicographic, 1, run.hb);
    per_site(state, run.lat);
}

void BM_HeatBath_Checkerboard(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    const int threads = static_cast<int>(state.range(1));
    for (auto _ : state)
        o1hb::heat_bath_sweep(run.lat, BETA, *g_sampler, run.phi, run.next(), o1hb::Order::Checkerboard, threads, run.hb);
    per_site(state, run.lat);
}

void BM_Metropolis_OneHit(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    const int threads = static_cast<int>(state.range(1));
    o1hb::MetropolisStats st;
    for (auto _ : state)
        o1hb::metropolis_sweep(run.lat, BETA, LANDA, 1, 1.0, run.phi, run.next(), o1hb::Order::Checkerboard, threads, st);
    per_site(state, run.lat);
}

void BM_SwendsenWang(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    const int threads = static_cast<int>(state.range(1));
    o1hb::SwWorkspace w;
    o1hb::SwStats st;
    for (auto _ : state) o1hb::swendsen_wang_update(run.lat, BETA, run.phi, run.next(), 0, threads, w, st);
    per_site(state, run.lat);
    state.counters["clusters"] = static_cast<double>(st.clusters) / static_cast<double>(st.updates);
}

// The measurement before the exact sums: doubles added in site order, no
// Fourier mode.
o1hb::Sample yardstick_measure(const o1hb::Lattice &lat, const std::vector<double> &phi)
{
    const std::size_t n = 2 * static_cast<std::size_t>(lat.d);
    double m = 0, phi2 = 0, link = 0, pot = 0;
    for (long x = 0; x < lat.V; ++x) {
        const double y = phi[static_cast<std::size_t>(x)];
        const std::int32_t *nb = lat.nb.data() + static_cast<std::size_t>(x) * n;
        double forward = 0;
        for (std::size_t k = 0; k < n; k += 2) forward += phi[static_cast<std::size_t>(nb[k])];
        m += y;
        phi2 += y * y;
        link += y * forward;
        pot += (y * y - 1) * (y * y - 1);
    }
    const double V = static_cast<double>(lat.V);
    return o1hb::Sample{m / V, phi2 / V, link / V, pot / V, 0};
}

void BM_Measure_Yardstick(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(yardstick_measure(run.lat, run.phi));
    per_site(state, run.lat);
}

void BM_Measure(benchmark::State &state)
{
    Run run(static_cast<int>(state.range(0)));
    const int threads = static_cast<int>(state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(o1hb::measure(run.lat, run.phi, threads));
    per_site(state, run.lat);
}

}  // namespace

BENCHMARK(BM_HeatBath_Yardstick)->Arg(16)->Arg(32)->Arg(64)->UseRealTime();
BENCHMARK(BM_HeatBath_Lexicographic)->Arg(16)->Arg(32)->Arg(64)->UseRealTime();
BENCHMARK(BM_HeatBath_Checkerboard)->ArgsProduct({{16, 32, 64}, {1, 2}})->UseRealTime();
BENCHMARK(BM_Metropolis_OneHit)->ArgsProduct({{16, 32, 64}, {1, 2}})->UseRealTime();
BENCHMARK(BM_SwendsenWang)->ArgsProduct({{16, 32, 64}, {1, 2}})->UseRealTime();
BENCHMARK(BM_Measure_Yardstick)->Arg(32)->Arg(64)->UseRealTime();
BENCHMARK(BM_Measure)->ArgsProduct({{32, 64}, {1, 2}})->UseRealTime();

int main(int argc, char **argv)
{
    const std::string table = bench_table(argc, argv, "1.1\n0\n5\n10\n1\n");
    g_sampler = std::make_unique<o1hb::HeatBathSampler>(o1hb::make_heat_bath_sampler(o1phi4::load_table(table), LANDA));
    forget_bench_table();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
