// The run: start, thermalisation (with the tuning of the Metropolis step),
// measured sweeps.
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

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

void check_parameters(const RunParameters &p)
{
    if (p.d != 2 && p.d != 3) throw std::invalid_argument("the dimension must be 2 or 3, not " + std::to_string(p.d));
    lattice_sites(p.d, p.L);
    if (!(p.beta >= 0) || !std::isfinite(p.beta)) throw std::invalid_argument("beta must be a finite number >= 0");
    if (!(p.landa >= 0) || !std::isfinite(p.landa)) throw std::invalid_argument("landa must be a finite number >= 0");
    if (p.therm < 0) throw std::invalid_argument("the number of thermalisation sweeps must be >= 0");
    if (p.sweeps < 1) throw std::invalid_argument("the number of measured sweeps must be >= 1");
    if (p.clusters < 0) throw std::invalid_argument("the number of cluster updates per sweep must be >= 0");
    if (p.update == Update::Metropolis) {
        if (p.hits < 1) throw std::invalid_argument("the number of Metropolis hits must be >= 1");
        if (!(p.step >= 0) || !std::isfinite(p.step))
            throw std::invalid_argument("the Metropolis step must be a finite number > 0 (or 0: tuned)");
    }
}

RunResult simulate(const RunParameters &p, const HeatBathSampler *sampler, const SweepHook &on_sweep)
{
    check_parameters(p);
    if (p.update == Update::HeatBath) {
        if (!sampler) throw std::invalid_argument("the heat bath needs a table");
        if (sampler->landa() != p.landa) throw std::invalid_argument("the sampler was set up for another landa");
    }
    const Lattice lat = make_lattice(p.d, p.L);
    Rng g(p.seed);
    RunResult r;
    r.phi.resize(static_cast<std::size_t>(lat.V));
    for (double &y : r.phi) y = 2 * uniform(g) - 1;
    r.step = p.step > 0 ? p.step : DEFAULT_METROPOLIS_STEP;
    std::vector<std::int32_t> stack;
    MetropolisStats tune;

    // One sweep: the local update of every site, then the cluster updates.
    auto sweep = [&](MetropolisStats &ms, bool counted) {
        if (p.update == Update::HeatBath) heat_bath_sweep(lat, p.beta, *sampler, r.phi, g, r.heat_bath);
        else metropolis_sweep(lat, p.beta, p.landa, p.hits, r.step, r.phi, g, ms);
        for (int c = 0; c < p.clusters; ++c) {
            const long size = cluster_update(lat, p.beta, r.phi, g, stack);
            if (counted) {
                ++r.clusters;
                r.cluster_sites += static_cast<std::uint64_t>(size);
            }
        }
    };

    const double t0 = cpu_seconds();
    for (long i = 1; i <= p.therm; ++i) {
        sweep(tune, false);
        if (p.update == Update::Metropolis && p.step == 0 && i % TUNE_SWEEPS == 0) {
            const double a = static_cast<double>(tune.accepted) / static_cast<double>(tune.proposed);
            r.step *= std::fmin(TUNE_MAX_FACTOR, std::fmax(1 / TUNE_MAX_FACTOR, a / TUNE_ACCEPTANCE));
            tune = MetropolisStats();
        }
        if (on_sweep) on_sweep(0, Sample{});
    }
    const double t1 = cpu_seconds();
    r.cpu_therm = t1 - t0;

    r.series.reserve(static_cast<std::size_t>(p.sweeps));
    for (long i = 1; i <= p.sweeps; ++i) {
        sweep(r.metropolis, true);
        r.series.push_back(measure(lat, r.phi));
        if (on_sweep) on_sweep(i, r.series.back());
    }
    r.cpu_measured = cpu_seconds() - t1;
    return r;
}

}  // namespace o1hb
