// The summary of o1_phi4_heatbath on stdout.
#include <cmath>
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

namespace {

// A reweighted value and its error, "undefined" where it does not exist.
void print_value(std::FILE *out, const Jackknifed &v)
{
    if (std::isfinite(v.value)) std::fprintf(out, " %16.9e %10.3e", v.value, v.error);
    else std::fprintf(out, " %16s %10s", "undefined", "-");
}

}  // namespace

void print_reweighting(std::FILE *out, const Reweighting &r)
{
    std::fprintf(out, "# reweighting from beta_0 = %.17g, %ld samples; jackknife over %ld blocks of %ld", r.beta0, r.n,
                 r.blocks.count, r.blocks.length);
    if (r.n > r.blocks.count * r.blocks.length)
        std::fprintf(out, " (first %ld samples left out)", r.n - r.blocks.count * r.blocks.length);
    std::fputs("\n", out);
    if (r.blocks.short_run)
        std::fprintf(out, "warning: the run is shorter than %.0f tau_int: blocks shorter than %.0f tau_int, errors too small\n",
                     BLOCK_TAUS * static_cast<double>(MIN_BLOCKS), BLOCK_TAUS);
    std::fprintf(out, "%-14s %16s %10s %16s %10s %16s %10s", "beta", "U4", "error", "m^2", "error", "chi", "error");
    if (r.has_xi) std::fprintf(out, " %16s %10s", "xi/L", "error");
    std::fprintf(out, " %10s\n", "N_eff");
    long wide = 0;
    for (const ReweightPoint &p : r.points) {
        std::fprintf(out, "%-14.10g", p.beta);
        for (const Jackknifed *v : {&p.U4, &p.m2, &p.chi}) print_value(out, *v);
        if (r.has_xi) print_value(out, p.xi);
        std::fprintf(out, " %10.0f%s\n", p.n_eff, p.too_wide ? "  too wide" : "");
        wide += p.too_wide;
    }
    if (wide > 0)
        std::fprintf(out, "too wide: %ld of the %zu values of beta have fewer effective samples than %.0f %% of the run: "
                          "do not trust them\n",
                     wide, r.points.size(), 100 * MIN_EFFECTIVE_FRACTION);
    std::fputs("dU4/dbeta at beta_0:     ", out);
    print_value(out, r.dU4);
    std::fputs("\n", out);
    if (r.has_xi) {
        std::fputs("d(xi/L)/dbeta at beta_0: ", out);
        print_value(out, r.dxi);
        std::fputs("\n", out);
    }
}

void print_run(std::FILE *out, const Options &o, const RunResult &r, const Analysis *an)
{
    const RunParameters &p = o.run;
    const double V = static_cast<double>(lattice_sites(p.d, p.L));
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
    // The timings are this process's: a resumed run times its own sweeps.
    std::fprintf(out, "time: thermalisation %.3f s (cpu %.3f s), measured sweeps %.3f s (cpu %.3f s), %d thread%s\n",
                 r.wall_therm, r.cpu_therm, r.wall_measured, r.cpu_measured, r.threads, r.threads == 1 ? "" : "s");
    if (r.therm_done > 0) {
        const double sites = static_cast<double>(r.therm_done) * V;
        std::fprintf(out, "cost: %.2f ns per site and sweep, %.2f cpu ns (thermalisation: updates alone)\n",
                     1e9 * r.wall_therm / sites, 1e9 * r.cpu_therm / sites);
    }
    // Effective independent samples N / (2 tau_int) per second of the
    // measured sweeps (updates, measuring, writing the series), of all
    // threads' CPU time and of the wall clock; N the sweeps this process measured.
    if (!an || r.measured_done == 0) return;
    for (const Estimate &e : an->rows)
        if (e.name == "energy" || e.name == "m^2") {
            const double n_eff = static_cast<double>(r.measured_done) / (2 * e.ac.tau);
            std::fprintf(out, "effective samples of %s per cpu second: %.1f, per second: %.1f\n", e.name.c_str(),
                         n_eff / r.cpu_measured, n_eff / r.wall_measured);
        }
}

}  // namespace o1hb
