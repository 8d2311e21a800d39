// The summary of o1_phi4_heatbath on stdout.
#include <cstdio>

#include "heatbath/program.h"

namespace o1hb {

void print_analysis(std::FILE *out, const Analysis &an)
{
    std::fprintf(out, "%-10s %16s %12s %10s %9s %7s %9s\n", "observable", "mean", "error", "tau_int", "error", "window",
                 "N/tau");
    for (const Estimate &e : an.rows) {
        if (!e.undefined.empty()) {
            std::fprintf(out, "%-10s undefined: %s\n", e.name.c_str(), e.undefined.c_str());
            continue;
        }
        const char *note = "";
        switch (e.ac.status) {
        case Window::Found: break;
        case Window::NotFound: note = "  (no window: the run is too short, tau_int too small)"; break;
        case Window::Clamped: note = "  (window failed: tau_int came out below 1/2, set to 1/2)"; break;
        case Window::Constant: note = "  (constant: variance zero to rounding)"; break;
        }
        std::fprintf(out, "%-10s %16.9e %12.3e %10.3f %9.3f %7ld %9.0f%s\n", e.name.c_str(), e.mean, e.error, e.ac.tau,
                     e.ac.tau_error, e.ac.window, static_cast<double>(an.n) / e.ac.tau, note);
    }
    std::fprintf(out, "samples %ld = %.0f tau_int (largest); errors sqrt(var 2 tau_int / N) of each row's fluctuation\n",
                 an.n, static_cast<double>(an.n) / an.tau_max);
    if (static_cast<double>(an.n) < MIN_RUN_TAUS * an.tau_max)
        std::fprintf(out, "warning: the run is shorter than %.0f tau_int: tau_int and the errors are less sure\n",
                     MIN_RUN_TAUS);
    if (!an.has_lattice) std::fputs("no lattice in the series' header: chi, chi' and xi/L left out\n", out);
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
    if (p.clusters > 0)
        std::fprintf(out, "clusters: %d per sweep, mean size %.2f sites (%.4f of the lattice)\n", p.clusters,
                     static_cast<double>(r.cluster_sites) / static_cast<double>(r.clusters),
                     static_cast<double>(r.cluster_sites) / static_cast<double>(r.clusters) / V);
    std::fprintf(out, "cpu: thermalisation %.3f s, measured sweeps %.3f s\n", r.cpu_therm, r.cpu_measured);
    if (p.therm > 0)
        std::fprintf(out, "cost: %.2f ns per site and sweep (thermalisation: updates alone)\n",
                     1e9 * r.cpu_therm / (static_cast<double>(p.therm) * V));
    // Effective independent samples N / (2 tau_int) per CPU second of the
    // measured sweeps (updates, measuring, writing the series).
    for (const Estimate &e : an.rows)
        if (e.name == "energy" || e.name == "m^2")
            std::fprintf(out, "effective samples of %s per cpu second: %.1f\n", e.name.c_str(),
                         static_cast<double>(an.n) / (2 * e.ac.tau) / r.cpu_measured);
}

}  // namespace o1hb
