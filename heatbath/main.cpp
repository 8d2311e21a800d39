// o1_phi4_heatbath: runs the simulation, writes the series (and checkpoints),
// prints the summary from the series file.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>

#include "heatbath/checkpoint.h"
#include "heatbath/program.h"

namespace {

// Exit statuses.
constexpr int EXIT_RUN_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
// A run stopped by a signal without a checkpoint ends with 128 + its number,
// as a shell reports a process the signal ended.
constexpr int EXIT_SIGNAL_BASE = 128;
// Seconds between two progress lines on stderr.
constexpr double PROGRESS_SECONDS = 5;

using Clock = std::chrono::steady_clock;

int bad_input(const std::string &message)
{
    std::fprintf(stderr, "o1_phi4_heatbath: %s\n", message.c_str());
    return EXIT_BAD_INPUT;
}

int run_failed(const std::string &message)
{
    std::fprintf(stderr, "o1_phi4_heatbath: %s\n", message.c_str());
    return EXIT_RUN_FAILED;
}

// The signal that asked the run to stop (0: none).  The handler only sets it;
// the run looks at it after every sweep.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void ask_to_stop(int sig) { stop_signal = sig; }

void on_stop_signals(void (*handler)(int))
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // a write in progress goes on
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Progress lines of a long run: sweeps done, sweeps per second, time left.
class Progress {
public:
    Progress(bool on, const o1hb::RunParameters &p, std::uint64_t first)
        : on_(on), p_(p), first_(first), start_(Clock::now()), last_(start_)
    {
    }
    void operator()(std::uint64_t sweep)
    {
        if (!on_) return;
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration<double>(now - last_).count() < PROGRESS_SECONDS) return;
        last_ = now;
        const double rate = static_cast<double>(sweep - first_) / std::chrono::duration<double>(now - start_).count();
        const std::uint64_t therm = static_cast<std::uint64_t>(p_.therm), total = therm + static_cast<std::uint64_t>(p_.sweeps);
        const double left = static_cast<double>(total - sweep) / rate;
        if (sweep <= therm)
            std::fprintf(stderr, "o1_phi4_heatbath: sweep %llu of %llu (thermalisation), %.1f sweeps/s, about %.0f s to go\n",
                         static_cast<unsigned long long>(sweep), static_cast<unsigned long long>(total), rate, left);
        else
            std::fprintf(stderr, "o1_phi4_heatbath: sweep %llu of %llu (measured %llu of %ld), %.1f sweeps/s, about %.0f s to go\n",
                         static_cast<unsigned long long>(sweep), static_cast<unsigned long long>(total),
                         static_cast<unsigned long long>(sweep - therm), p_.sweeps, rate, left);
    }

private:
    bool on_;
    const o1hb::RunParameters &p_;
    std::uint64_t first_;
    Clock::time_point start_, last_;
};

// The checkpoints of a run: every checkpoint_every sweeps or, without it,
// after the first sweep CHECKPOINT_SECONDS after the last checkpoint.  The
// series is on disk before the checkpoint that names its length.
class Checkpoints {
public:
    Checkpoints(const o1hb::Options &o, std::uint64_t table_id, std::FILE *series, std::uint64_t last)
        : o_(o), series_(series), last_sweep_(last), last_time_(Clock::now())
    {
        c_.run = o.run;
        c_.series_format = o.series_format;
        c_.table_id = table_id;
    }
    bool on() const { return !o_.checkpoint.empty(); }
    bool due(std::uint64_t sweep) const
    {
        if (!on() || sweep == last_sweep_) return false;
        if (o_.checkpoint_every > 0) return sweep % static_cast<std::uint64_t>(o_.checkpoint_every) == 0;
        return std::chrono::duration<double>(Clock::now() - last_time_).count() >= o1hb::CHECKPOINT_SECONDS;
    }
    // Writes the state s, after which the series is series_bytes long.
    // Throws std::runtime_error when the series or the checkpoint cannot be written.
    void write(const o1hb::ChainState &s, std::uint64_t series_bytes)
    {
        if (std::fflush(series_) != 0 || std::ferror(series_))
            throw std::runtime_error("writing the series file " + o_.series + " failed: " + std::strerror(errno));
        // fsync fails on a device such as /dev/null, which keeps nothing anyway.
        if (::fsync(fileno(series_)) != 0 && errno != EINVAL && errno != EROFS)
            throw std::runtime_error("writing the series file " + o_.series + " failed: " + std::strerror(errno));
        c_.series_bytes = series_bytes;
        o1hb::write_checkpoint(o_.checkpoint, c_, s);
        last_sweep_ = s.sweep;
        last_time_ = Clock::now();
    }
    std::uint64_t last_sweep() const { return last_sweep_; }

private:
    const o1hb::Options &o_;
    std::FILE *series_;
    o1hb::Checkpoint c_;
    std::uint64_t last_sweep_;
    Clock::time_point last_time_;
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

int run(const o1hb::Options &o)
{
    const o1hb::RunParameters &p = o.run;
    const std::uint64_t therm = static_cast<std::uint64_t>(p.therm), total = therm + static_cast<std::uint64_t>(p.sweeps);

    // Everything that can be wrong with the input is found before the first sweep.
    std::unique_ptr<o1hb::HeatBathSampler> sampler;
    std::uint64_t table_id = 0;
    o1hb::Checkpoint resumed;
    o1hb::ChainState start;
    std::FILE *series = nullptr;
    try {
        if (p.update == o1hb::Update::HeatBath) {
            // The sampler refuses a table that cannot be read (not a regular
            // file, malformed) or that check_table refuses for this landa.
            sampler = std::make_unique<o1hb::HeatBathSampler>(o1hb::make_heat_bath_sampler(o1phi4::load_table(o.table), p.landa));
            table_id = o1hb::table_identity(o.table);
        }
        o1hb::check_run_files(o);
        if (!o.resume.empty()) {
            resumed = o1hb::read_checkpoint(o.resume, start);
            o1hb::check_resume(resumed, o, table_id);
        } else if (!o.start_file.empty()) {
            o1hb::ChainState from;
            const o1hb::Checkpoint c = o1hb::read_checkpoint(o.start_file, from);
            if (c.run.d != p.d || c.run.L != p.L)
                throw std::invalid_argument("--start " + o.start_file + ": a configuration of d=" + std::to_string(c.run.d) +
                                            " L=" + std::to_string(c.run.L) + ", not of this run's lattice");
            start = o1hb::start_state(p, o1hb::Start::Hot);
            start.phi = std::move(from.phi);
        } else {
            start = o1hb::start_state(p, o.start);
        }
        series = o1hb::open_series(o, !o.resume.empty(), resumed.series_bytes, start.sweep > therm ? start.sweep - therm : 0);
    } catch (const std::exception &e) {
        return bad_input(e.what());
    }
    if (p.threads > 1 && !o1hb::have_threads())
        std::fprintf(stderr, "o1_phi4_heatbath: built without OpenMP: running on one thread (the same chain)\n");

    std::uint64_t series_bytes = o.resume.empty() ? o1hb::series_header(o).size() : resumed.series_bytes;
    const std::uint64_t first = start.sweep;
    // A resumed run's checkpoint already holds its first state, unless it goes to another file.
    const bool same_checkpoint = !o.resume.empty() && o1hb::same_file(o.checkpoint, o.resume);
    Checkpoints checkpoints(o, table_id, series, same_checkpoint ? first : ~std::uint64_t(0));
    // From here on SIGINT and SIGTERM stop the run after the sweep in progress.
    on_stop_signals(ask_to_stop);
    // A new run's first checkpoint holds its start: a folder that does not
    // take it is found before any sweep.
    if (checkpoints.on() && o.resume.empty()) {
        try {
            checkpoints.write(start, series_bytes);
        } catch (const std::exception &e) {
            on_stop_signals(SIG_DFL);
            std::fclose(series);
            return bad_input(e.what());
        }
    }

    Progress progress(o.progress || ::isatty(STDERR_FILENO), p, first);
    bool write_failed = false;
    o1hb::RunResult r;
    try {
        r = o1hb::simulate(p, sampler.get(), std::move(start), [&](const o1hb::ChainState &s, const o1hb::Sample *sample) {
            if (sample) {
                const long n = o1hb::write_series_line(series, o.series_format, static_cast<long>(s.sweep - therm), *sample);
                if (n < 0 || std::ferror(series)) {
                    write_failed = true;
                    return false;
                }
                series_bytes += static_cast<std::uint64_t>(n);
            }
            progress(s.sweep);
            if (checkpoints.due(s.sweep)) checkpoints.write(s, series_bytes);
            return stop_signal == 0;
        });
        if (!write_failed && checkpoints.on() && checkpoints.last_sweep() != r.sweep) checkpoints.write(r, series_bytes);
    } catch (const std::exception &e) {
        on_stop_signals(SIG_DFL);
        std::fclose(series);
        return run_failed(std::string("the run stopped: ") + e.what());
    }
    // From here on a signal ends the program: the series and the checkpoint are complete.
    on_stop_signals(SIG_DFL);
    const bool written = !write_failed && std::fflush(series) == 0 && !std::ferror(series);
    const int err = errno;
    if (std::fclose(series) != 0 || !written)
        return run_failed("writing the series file " + o.series + " failed (" + std::strerror(err) + ")" +
                          (checkpoints.on() ? "; the checkpoint " + o.checkpoint + " holds the last sweep before" : ""));

    if (r.stopped) {
        const int sig = static_cast<int>(stop_signal);
        char where[160];
        if (r.sweep <= therm)
            std::snprintf(where, sizeof where, "after sweep %llu of %llu (thermalisation)", static_cast<unsigned long long>(r.sweep),
                          static_cast<unsigned long long>(total));
        else
            std::snprintf(where, sizeof where, "after sweep %llu of %llu (measured sweep %llu of %ld)",
                          static_cast<unsigned long long>(r.sweep), static_cast<unsigned long long>(total),
                          static_cast<unsigned long long>(r.sweep - therm), p.sweeps);
        if (checkpoints.on()) {
            std::fprintf(stderr, "o1_phi4_heatbath: stopped by %s %s; the checkpoint %s holds it: go on with --resume %s\n",
                         sig == SIGINT ? "SIGINT" : "SIGTERM", where, o.checkpoint.c_str(), o.checkpoint.c_str());
            return 0;
        }
        std::fprintf(stderr, "o1_phi4_heatbath: stopped by %s %s, without a checkpoint (--checkpoint FILE); the series file %s holds "
                             "the sweeps made, whole\n",
                     sig == SIGINT ? "SIGINT" : "SIGTERM", where, o.series.c_str());
        return EXIT_SIGNAL_BASE + sig;
    }

    if (!o.save_config.empty()) {
        try {
            o1hb::save_configuration(o.save_config, p.d, p.L, r.sweep, r.phi);
        } catch (const std::exception &e) {
            return run_failed(e.what());
        }
    }

    // The summary comes from the series file as written: the run keeps no
    // sample.  A series sent to a device or a pipe cannot be read back.
    std::unique_ptr<o1hb::Analysis> an;
    std::string no_analysis;
    if (o1hb::is_regular_file(o.series)) {
        try {
            an = std::make_unique<o1hb::Analysis>(o1hb::analyse(o1hb::read_series(o.series)));
        } catch (const std::exception &e) {
            return run_failed(std::string("the series cannot be analysed: ") + e.what());
        }
    } else {
        no_analysis = "no analysis: the series went to " + o.series + ", not a regular file, and cannot be read back\n";
    }
    std::printf("# o1_phi4_heatbath: d=%d L=%d beta=%.10g landa=%.10g, %s%s%s, %s order, %ld + %ld sweeps, seed %llu\n",
                p.d, p.L, p.beta, p.landa, p.update == o1hb::Update::HeatBath ? "heat bath" : "metropolis",
                p.sw > 0 ? " with swendsen-wang" : "", p.clusters > 0 ? " with clusters" : "",
                p.order == o1hb::Order::Checkerboard ? "checkerboard" : "lexicographic", p.therm, p.sweeps,
                static_cast<unsigned long long>(p.seed));
    if (!o.resume.empty())
        std::printf("resumed from %s after sweep %llu of %llu\n", o.resume.c_str(), static_cast<unsigned long long>(first),
                    static_cast<unsigned long long>(total));
    if (an) o1hb::print_analysis(stdout, *an);
    else std::fputs(no_analysis.c_str(), stdout);
    o1hb::print_run(stdout, o, r, an.get());
    std::printf("series: %s\n", o.series.c_str());
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
    return run(o);
}
