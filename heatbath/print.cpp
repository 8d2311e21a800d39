// The summary of o1_phi4_heatbath on stdout.
#include <cstdio>

#include "heatbath/program.h"

namespace o1hb {

void print_analysis(std::FILE *out, const Analysis &an)
{
    std::fprintf(out, "%-10s %16s %12s %10s %9s %7s %9s\n", "observable", "mean", "error", "tau_int", "error", "window",
                 "N/tau");
    for (const Estimate &e : an.rows)
        std::fprintf(out, "%-10s %16.9e %12.3e %10.3f %9.3f %7ld %9.0f%s\n", e.name.c_str(), e.mean, e.error, e.ac.tau,
                     e.ac.tau_error, e.ac.window, static_cast<double>(an.n) / e.ac.tau, e.ac.window_found ? "" : "  (no window)");
    std::fprintf(out, "samples %ld = %.0f tau_int (largest); jackknife over %ld blocks of %ld", an.n,
                 static_cast<double>(an.n) / an.tau_max, an.blocks, an.block);
    if (an.used < an.n) std::fprintf(out, " (first %ld samples left out)", an.n - an.used);
    std::fputs("\n", out);
    if (an.short_run)
        std::fprintf(out, "warning: the run is shorter than %.0f tau_int: blocks shorter than %.0f tau_int, errors less sure\n",
                     BLOCK_TAUS * static_cast<double>(MIN_BLOCKS), BLOCK_TAUS);
}

void print_run(std::FILE *out, const Options &o, const RunResult &r, const Analysis &an)
{
    const RunParameters &p = o.run;
    const double V = static_cast<double>(r.phi.size());
    if (p.update == Update::HeatBath) {
        const HeatBathStats &h = r.heat_bath;
        std::fprintf(out, "heat bath: %llu draws, acceptance %.4f, %llu by the table-free fallback, largest |h| %.4f\n",
                     static_cast<unsigned long long>(h.draws),
                     static_cast<double>(h.draws) / static_cast<double>(h.draw.trials),
                     static_cast<unsigned long long>(h.draw.fallback), h.max_abs_h);
    } else {
        std::fprintf(out, "metropolis: %d hits, step %.6g, acceptance %.4f\n", p.hits, r.step,
                     static_cast<double>(r.metropolis.accepted) / static_cast<double>(r.metropolis.proposed));
    }
    if (p.sw > 0)
        std::fprintf(out, "swendsen-wang: %d per sweep, %.2f clusters per update on average (mean size %.2f sites)\n", p.sw,
                     static_cast<double>(r.sw.clusters) / static_cast<double>(r.sw.updates),
                     V * static_cast<double>(r.sw.updates) / static_cast<double>(r.sw.clusters));
    if (p.clusters > 0)
        std::fprintf(out, "clusters: %d per sweep, mean size %.2f sites (%.4f of the lattice)\n", p.clusters,
                     static_cast<double>(r.cluster_sites) / static_cast<double>(r.clusters),
                     static_cast<double>(r.cluster_sites) / static_cast<double>(r.clusters) / V);
    std::fprintf(out, "time: thermalisation %.3f s (cpu %.3f s), measured sweeps %.3f s (cpu %.3f s), %d thread%s\n",
                 r.wall_therm, r.cpu_therm, r.wall_measured, r.cpu_measured, r.threads, r.threads == 1 ? "" : "s");
    if (p.therm > 0) {
        const double sites = static_cast<double>(p.therm) * V;
        std::fprintf(out, "cost: %.2f ns per site and sweep, %.2f cpu ns (thermalisation: updates alone)\n",
                     1e9 * r.wall_therm / sites, 1e9 * r.cpu_therm / sites);
    }
    // Effective independent samples N / (2 tau_int) per second of the
    // measured sweeps (updates, measuring, writing the series), of all
    // threads' CPU time and of the wall clock.
    for (const Estimate &e : an.rows)
        if (e.name == "energy" || e.name == "m^2") {
            const double n_eff = static_cast<double>(an.n) / (2 * e.ac.tau);
            std::fprintf(out, "effective samples of %s per cpu second: %.1f, per second: %.1f\n", e.name.c_str(),
                         n_eff / r.cpu_measured, n_eff / r.wall_measured);
        }
}

}  // namespace o1hb
