// The run: start, thermalisation (with the tuning of the Metropolis step),
// measured sweeps.
#include <chrono>
#include <cmath>
#include <ctime>
#include <stdexcept>
#include <string>

#include "heatbath/heatbath.h"

namespace o1hb {

namespace {

// The Metropolis step is tuned every this many thermalisation sweeps ...
constexpr long TUNE_SWEEPS = 10;
// ... towards this acceptance per hit (several hits make a lower one pay) ...
constexpr double TUNE_ACCEPTANCE = 0.5;
// ... by at most this factor at a time.
constexpr double TUNE_MAX_FACTOR = 2.0;

// CPU time of the process: every thread's.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void check_parameters(const RunParameters &p)
{
    if (p.d != 2 && p.d != 3) throw std::invalid_argument("the dimension must be 2 or 3, not " + std::to_string(p.d));
    lattice_sites(p.d, p.L);
    if (p.order == Order::Checkerboard && p.L % 2 != 0)
        throw std::invalid_argument("the checkerboard order needs an even lattice size L, not " + std::to_string(p.L) +
                                    " (the lexicographic order takes any L)");
    if (!(p.beta >= 0) || !std::isfinite(p.beta)) throw std::invalid_argument("beta must be a finite number >= 0");
    if (!(p.landa >= 0) || !std::isfinite(p.landa)) throw std::invalid_argument("landa must be a finite number >= 0");
    if (p.therm < 0) throw std::invalid_argument("the number of thermalisation sweeps must be >= 0");
    if (p.sweeps < 1) throw std::invalid_argument("the number of measured sweeps must be >= 1");
    // Sweep numbers fill 40 bits of the random-number counter.
    if (static_cast<std::uint64_t>(p.therm) > MAX_SWEEP || static_cast<std::uint64_t>(p.sweeps) > MAX_SWEEP - static_cast<std::uint64_t>(p.therm))
        throw std::invalid_argument("a run has at most " + std::to_string(MAX_SWEEP) + " sweeps in all");
    if (p.clusters < 0 || p.sw < 0) throw std::invalid_argument("the number of cluster updates per sweep must be >= 0");
    if (static_cast<std::uint32_t>(p.clusters) > MAX_SUB + 1 || static_cast<std::uint32_t>(p.sw) > MAX_SUB + 1)
        throw std::invalid_argument("at most " + std::to_string(MAX_SUB + 1) + " cluster updates of a kind per sweep");
    if (p.threads < 1) throw std::invalid_argument("the number of threads must be >= 1");
    if (p.update == Update::Metropolis) {
        if (p.hits < 1) throw std::invalid_argument("the number of Metropolis hits must be >= 1");
        if (!(p.step >= 0) || !std::isfinite(p.step))
            throw std::invalid_argument("the Metropolis step must be a finite number > 0 (or 0: tuned)");
    }
}

ChainState start_state(const RunParameters &p, Start start)
{
    check_parameters(p);
    const long V = lattice_sites(p.d, p.L);
    ChainState s;
    s.phi.resize(static_cast<std::size_t>(V));
    const Philox::key_type key = stream_key(p.seed);
    for (long x = 0; x < V; ++x) {
        if (start == Start::Cold) {
            s.phi[static_cast<std::size_t>(x)] = 1;
            continue;
        }
        CounterStream g(key, StreamKind::Start, 0, 0, static_cast<std::uint32_t>(x));
        s.phi[static_cast<std::size_t>(x)] = 2 * unit_interval(g()) - 1;
    }
    s.step = p.step > 0 ? p.step : DEFAULT_METROPOLIS_STEP;
    return s;
}

ChainState start_state(const RunParameters &p, Start start, const Lattice &lat)
{
    check_parameters(p);
    ChainState s;
    s.phi.assign(static_cast<std::size_t>(lat.stored), 0.0);
    const Philox::key_type key = stream_key(p.seed);
    for (long r = 0; r < lat.rows; ++r) {
        const RowNeighbours n = row_neighbours(lat, r);
        for (long x0 = 0; x0 < lat.L; ++x0) {
            double &y = s.phi[static_cast<std::size_t>(n.offset + x0)];
            if (start == Start::Cold) {
                y = 1;
                continue;
            }
            CounterStream g(key, StreamKind::Start, 0, 0, n.site + static_cast<std::uint32_t>(x0));
            y = 2 * unit_interval(g()) - 1;
        }
    }
    s.step = p.step > 0 ? p.step : DEFAULT_METROPOLIS_STEP;
    return s;
}

void check_split(const RunParameters &p, const Lattice &lat)
{
    if (!lat.split()) return;
    if (p.order != Order::Checkerboard)
        throw std::invalid_argument("the lexicographic order runs on one process: a lattice split over several needs the "
                                    "checkerboard order");
    if (p.clusters > 0)
        throw std::invalid_argument("the single-cluster update (--clusters) runs on one process: over several, use "
                                    "Swendsen-Wang (--sw)");
}

namespace {

// The counters a process of a split lattice keeps of its own sites: summed
// (and the largest |h| taken) over the processes after every sweep, so
// that every process holds those of the whole lattice, as one process
// would.  The others (proposals, updates) count the whole lattice already.
struct Pooled {
    std::uint64_t v[6];
    double max_abs_h;
    explicit Pooled(const ChainState &s)
        : v{s.heat_bath.draw.trials, s.heat_bath.draw.fallback, s.heat_bath.draws, s.tune.accepted, s.metropolis.accepted,
            s.sw.clusters},
          max_abs_h(s.heat_bath.max_abs_h)
    {
    }
};

void pool_counters(const Lattice &lat, const Pooled &before, ChainState &s)
{
    const Pooled after(s);
    std::uint64_t d[6];
    for (int i = 0; i < 6; ++i) d[i] = after.v[i] - before.v[i];
    lat.team->sum(d, 6);
    double h = after.max_abs_h;
    lat.team->max(&h, 1);
    s.heat_bath.draw.trials = before.v[0] + d[0];
    s.heat_bath.draw.fallback = before.v[1] + d[1];
    s.heat_bath.draws = before.v[2] + d[2];
    s.tune.accepted = before.v[3] + d[3];
    s.metropolis.accepted = before.v[4] + d[4];
    s.sw.clusters = before.v[5] + d[5];
    s.heat_bath.max_abs_h = h;
}

}  // namespace

RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, const SweepHook &on_sweep)
{
    return simulate(p, sampler, start_state(p, Start::Hot), on_sweep);
}

RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, ChainState state, const SweepHook &on_sweep)
{
    check_parameters(p);
    return simulate(p, sampler, std::move(state), on_sweep, make_lattice(p.d, p.L));
}

RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, ChainState state, const SweepHook &on_sweep,
                   const Lattice &lat)
{
    check_parameters(p);
    check_split(p, lat);
    if (p.update == Update::HeatBath) {
        if (!sampler) throw std::invalid_argument("the heat bath needs a table");
        if (sampler->landa() != p.landa) throw std::invalid_argument("the sampler was set up for another landa");
    }
    if (lat.d != p.d || lat.L != p.L) throw std::invalid_argument("the lattice is not the run's");
    const std::uint64_t therm = static_cast<std::uint64_t>(p.therm), total = therm + static_cast<std::uint64_t>(p.sweeps);
    if (state.phi.size() != static_cast<std::size_t>(lat.stored))
        throw std::invalid_argument("the state is not one of a lattice of " + std::to_string(lat.stored) + " sites");
    if (state.sweep > total)
        throw std::invalid_argument("the state is after sweep " + std::to_string(state.sweep) + ", past the run's " +
                                    std::to_string(total));
    const Philox::key_type key = stream_key(p.seed);
    const int threads = have_threads() ? p.threads : 1;
    RunResult r;
    static_cast<ChainState &>(r) = std::move(state);
    r.threads = threads;
    std::vector<std::int32_t> stack;
    SwWorkspace sw_work;
    SwStats sw_uncounted;

    // The halos of a split lattice from the start.
    if (lat.team) lat.team->exchange(r.phi.data(), sizeof(double), -1);

    // Sweep t: the local update of every site, then the cluster updates.
    auto sweep = [&](std::uint64_t t, MetropolisStats &ms, bool counted) {
        const SweepKey k{key, t};
        const Pooled before(r);
        if (p.update == Update::HeatBath) heat_bath_sweep(lat, p.beta, *sampler, r.phi, k, p.order, threads, r.heat_bath);
        else metropolis_sweep(lat, p.beta, p.landa, p.hits, r.step, r.phi, k, p.order, threads, ms);
        for (int c = 0; c < p.sw; ++c)
            swendsen_wang_update(lat, p.beta, r.phi, k, static_cast<std::uint32_t>(c), threads, sw_work,
                                 counted ? r.sw : sw_uncounted);
        for (int c = 0; c < p.clusters; ++c) {
            const long size = cluster_update(lat, p.beta, r.phi, k, static_cast<std::uint32_t>(c), stack);
            if (counted) {
                ++r.clusters;
                r.cluster_sites += static_cast<std::uint64_t>(size);
            }
        }
        if (lat.team) pool_counters(lat, before, r);
    };

    const double t0 = cpu_seconds(), w0 = wall_seconds();
    while (r.sweep < therm && !r.stopped) {
        const std::uint64_t t = r.sweep + 1;
        sweep(t, r.tune, false);
        r.sweep = t;
        if (p.update == Update::Metropolis && p.step == 0 && t % TUNE_SWEEPS == 0) {
            const double a = static_cast<double>(r.tune.accepted) / static_cast<double>(r.tune.proposed);
            r.step *= std::fmin(TUNE_MAX_FACTOR, std::fmax(1 / TUNE_MAX_FACTOR, a / TUNE_ACCEPTANCE));
            r.tune = MetropolisStats();
        }
        ++r.therm_done;
        if (on_sweep && !on_sweep(r, nullptr)) r.stopped = r.sweep < total;
    }
    const double t1 = cpu_seconds(), w1 = wall_seconds();
    r.cpu_therm = t1 - t0;
    r.wall_therm = w1 - w0;

    while (r.sweep < total && !r.stopped) {
        const std::uint64_t t = r.sweep + 1;
        sweep(t, r.metropolis, true);
        r.sweep = t;
        const Sample s = measure(lat, r.phi, threads);
        ++r.measured_done;
        if (on_sweep && !on_sweep(r, &s)) r.stopped = r.sweep < total;
    }
    r.cpu_measured = cpu_seconds() - t1;
    r.wall_measured = wall_seconds() - w1;
    return r;
}

}  // namespace o1hb
