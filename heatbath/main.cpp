// o1_phi4_heatbath: runs the simulation, writes the series, prints the summary.
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>

#include "heatbath/program.h"

namespace {

// Exit statuses.
constexpr int EXIT_RUN_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
// Seconds between two progress lines on stderr.
constexpr double PROGRESS_SECONDS = 5;

int bad_input(const std::string &message)
{
    std::fprintf(stderr, "o1_phi4_heatbath: %s\n", message.c_str());
    return EXIT_BAD_INPUT;
}

// Progress line of long runs: thermalisation sweeps arrive as sweep 0.
class Progress {
public:
    explicit Progress(const o1hb::RunParameters &p) : p_(p), start_(Clock::now()), last_(start_) {}
    void operator()(long sweep)
    {
        if (sweep == 0) ++therm_;
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration<double>(now - last_).count() < PROGRESS_SECONDS) return;
        last_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double done = static_cast<double>(therm_ + sweep), total = static_cast<double>(p_.therm + p_.sweeps);
        if (sweep == 0)
            std::fprintf(stderr, "o1_phi4_heatbath: thermalisation sweep %ld of %ld, %.0f s, about %.0f s to go\n", therm_,
                         p_.therm, elapsed, elapsed * (total - done) / done);
        else
            std::fprintf(stderr, "o1_phi4_heatbath: measured sweep %ld of %ld, %.0f s, about %.0f s to go\n", sweep, p_.sweeps,
                         elapsed, elapsed * (total - done) / done);
    }

private:
    using Clock = std::chrono::steady_clock;
    const o1hb::RunParameters &p_;
    Clock::time_point start_, last_;
    long therm_ = 0;
};

int analyse_file(const o1hb::Options &o)
{
    o1hb::Analysis an;
    o1hb::Reweighting rw;
    try {
        const o1hb::Series series = o1hb::read_series(o.analyse);
        an = o1hb::analyse(series);
        if (o.reweight_given) rw = o1hb::reweight(series, an.tau_max, o.reweight);
    } catch (const std::exception &e) {
        return bad_input(e.what());
    }
    std::printf("# analysis of %s\n", o.analyse.c_str());
    o1hb::print_analysis(stdout, an);
    if (o.reweight_given) o1hb::print_reweighting(stdout, rw);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    o1hb::Options o;
    try {
        o = o1hb::parse_options(argc, argv);
    } catch (const std::invalid_argument &e) {
        return bad_input(e.what());
    }
    if (o.help) {
        o1hb::print_help(stdout);
        return 0;
    }
    if (!o.analyse.empty()) return analyse_file(o);

    // Everything that can be wrong with the input is found before the first sweep.
    std::unique_ptr<o1hb::HeatBathSampler> sampler;
    if (o.run.update == o1hb::Update::HeatBath) {
        // The sampler refuses a table that cannot be read (not a regular
        // file, malformed) or that check_table refuses for this landa.
        try {
            sampler = std::make_unique<o1hb::HeatBathSampler>(o1hb::make_heat_bath_sampler(o1phi4::load_table(o.table), o.run.landa));
        } catch (const std::exception &e) {
            return bad_input(e.what());
        }
    }
    if (o.run.threads > 1 && !o1hb::have_threads())
        std::fprintf(stderr, "o1_phi4_heatbath: built without OpenMP: running on one thread (the same chain)\n");
    std::FILE *series = std::fopen(o.series.c_str(), "w");
    if (!series) return bad_input("cannot write the series file " + o.series);
    o1hb::write_series_header(series, o);

    Progress progress(o.run);
    o1hb::RunResult r;
    try {
        r = o1hb::simulate(o.run, sampler.get(), [&](long sweep, const o1hb::Sample &s) {
            if (sweep > 0) o1hb::write_series_line(series, o.series_format, sweep, s);
            progress(sweep);
        });
    } catch (const std::exception &e) {
        std::fclose(series);
        std::fprintf(stderr, "o1_phi4_heatbath: the run stopped: %s\n", e.what());
        return EXIT_RUN_FAILED;
    }
    const bool written = !std::ferror(series);
    if (std::fclose(series) != 0 || !written) {
        std::fprintf(stderr, "o1_phi4_heatbath: writing the series file %s failed\n", o.series.c_str());
        return EXIT_RUN_FAILED;
    }

    if (!o.save_config.empty()) {
        try {
            o1hb::save_configuration(o.save_config, o.run.d, o.run.L,
                                     static_cast<std::uint64_t>(o.run.therm) + static_cast<std::uint64_t>(o.run.sweeps), r.phi);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "o1_phi4_heatbath: %s\n", e.what());
            return EXIT_RUN_FAILED;
        }
    }

    const o1hb::RunParameters &p = o.run;
    // The series as read_series gives it from the file.
    const o1hb::Analysis an = o1hb::analyse(o1hb::Series{p.d, p.L, p.beta, true, std::move(r.series)});
    std::printf("# o1_phi4_heatbath: d=%d L=%d beta=%.10g landa=%.10g, %s%s%s, %s order, %ld + %ld sweeps, seed %llu\n",
                p.d, p.L, p.beta, p.landa, p.update == o1hb::Update::HeatBath ? "heat bath" : "metropolis",
                p.sw > 0 ? " with swendsen-wang" : "", p.clusters > 0 ? " with clusters" : "",
                p.order == o1hb::Order::Checkerboard ? "checkerboard" : "lexicographic", p.therm, p.sweeps,
                static_cast<unsigned long long>(p.seed));
    o1hb::print_analysis(stdout, an);
    o1hb::print_run(stdout, o, r, an);
    std::printf("series: %s\n", o.series.c_str());
    return 0;
}
