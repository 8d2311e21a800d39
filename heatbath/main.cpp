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
#ifdef O1_HAVE_MPI
#include "heatbath/mpi_team.h"
#endif

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

// The processes of the run: this one alone, or those mpirun started, over
// whose Cartesian grid the lattice is split.  Process 0 reads and writes
// the series and the checkpoints; every process loads the table and reads a
// checkpoint it resumes from.
class Processes {
public:
    int rank = 0, size = 1;
    o1hb::Lattice lat;
    bool first() const { return rank == 0; }
    bool split() const { return lat.split(); }

#ifdef O1_HAVE_MPI
    bool mpi = false;
    int on_node = 1;  // processes on this machine
    MPI_Comm cart = MPI_COMM_NULL;
    std::unique_ptr<o1hb::MpiTeam> team;

    void start(int &argc, char **&argv)
    {
        if (!o1hb::launched_by_mpirun()) return;
        int provided;
        // The sweeps' threads make no MPI calls of their own.
        MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
        mpi = true;
        MPI_Comm_rank(MPI_COMM_WORLD, &rank);
        MPI_Comm_size(MPI_COMM_WORLD, &size);
        MPI_Comm local;
        MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &local);
        MPI_Comm_size(local, &on_node);
        MPI_Comm_free(&local);
    }
    // Threads per process when --threads is not given: the machine's cores
    // shared among the processes on it, at most one per MIN_SITES_PER_THREAD
    // sites of a block.
    int default_threads(const o1hb::Options &o) const
    {
        const long most = o1hb::lattice_sites(o.run.d, o.run.L) / size / o1hb::MIN_SITES_PER_THREAD;
        const int cores = o1hb::available_threads() / on_node;
        const long n = most < cores ? most : cores;
        return n < 1 ? 1 : static_cast<int>(n);
    }
    void end()
    {
        if (!mpi) return;
        team.reset();
        if (cart != MPI_COMM_NULL) MPI_Comm_free(&cart);
        MPI_Finalize();
    }
    // The lattice of this process: the whole one, or its block of the grid.
    void make_lattice(const o1hb::Options &o)
    {
        const int d = o.run.d;
        int grid[o1hb::MAX_DIM] = {1, 1, 1};
        if (mpi) o1hb::process_grid(d, size, o.grid, grid);
        else check_no_grid(o);
        if (size == 1) {
            lat = o1hb::make_lattice(d, o.run.L);
            return;
        }
        int periodic[o1hb::MAX_DIM] = {1, 1, 1}, coords[o1hb::MAX_DIM] = {};
        MPI_Cart_create(MPI_COMM_WORLD, d, grid, periodic, 0, &cart);
        o1hb::block_coordinates(cart, rank, d, coords);
        lat = o1hb::make_block(d, o.run.L, grid, coords);
        team = std::make_unique<o1hb::MpiTeam>(cart, lat);
        lat.team = team.get();
    }
    // Whether message is not empty on some process: the lowest such process
    // prints its message (all of them would print the same, mostly).
    bool refused(const std::string &message)
    {
        int lowest = message.empty() ? size : rank;
        if (mpi) MPI_Allreduce(MPI_IN_PLACE, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
        if (lowest == rank) bad_input(message);
        return lowest < size;
    }
    // The largest of v[0 .. n-1] over the processes.
    void agree(int *v, int n)
    {
        if (mpi) MPI_Allreduce(MPI_IN_PLACE, v, n, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    }
    // On process 0, the whole field from every block's stored array.
    std::vector<double> whole_field(const std::vector<double> &stored)
    {
        if (!split()) return stored;
        const std::vector<double> rows = o1hb::block_rows(lat, stored);
        const int n = static_cast<int>(rows.size());
        std::vector<double> all(first() ? static_cast<std::size_t>(lat.V) : 0), phi(all.size());
        MPI_Gather(rows.data(), n, MPI_DOUBLE, all.data(), n, MPI_DOUBLE, 0, cart);
        if (!first()) return {};
        for (int q = 0; q < size; ++q) o1hb::place_rows(block(q), all.data() + static_cast<std::size_t>(q) * static_cast<std::size_t>(n), phi);
        return phi;
    }
    // The state s that process 0 read (a checkpoint of the whole lattice) on
    // every process, each with its block of the field: the others never hold
    // the whole field.
    void share_state(o1hb::ChainState &s)
    {
        if (!split()) return;
        std::uint64_t u[16] = {s.sweep, s.tune.proposed, s.tune.accepted, s.heat_bath.draw.trials, s.heat_bath.draw.fallback,
                               s.heat_bath.draws, s.metropolis.proposed, s.metropolis.accepted, s.clusters, s.cluster_sites,
                               s.sw.updates, s.sw.clusters, 0, 0, 0, 0};
        double f[2] = {s.step, s.heat_bath.max_abs_h};
        MPI_Bcast(u, 16, MPI_UINT64_T, 0, cart);
        MPI_Bcast(f, 2, MPI_DOUBLE, 0, cart);
        s.sweep = u[0];
        s.tune = {u[1], u[2]};
        s.heat_bath.draw.trials = u[3];
        s.heat_bath.draw.fallback = u[4];
        s.heat_bath.draws = u[5];
        s.metropolis = {u[6], u[7]};
        s.clusters = u[8];
        s.cluster_sites = u[9];
        s.sw.updates = u[10];
        s.sw.clusters = u[11];
        s.step = f[0];
        s.heat_bath.max_abs_h = f[1];
        s.phi = block_field(s.phi);
    }
    // Process 0's field of the whole lattice shared out: each process's block, as its stored array.
    std::vector<double> block_field(const std::vector<double> &phi)
    {
        if (!split()) return phi;
        const std::size_t n = static_cast<std::size_t>(lat.rows * lat.L);
        std::vector<double> all(first() ? n * static_cast<std::size_t>(size) : 0), rows(n);
        if (first())
            for (int q = 0; q < size; ++q) o1hb::take_rows(block(q), phi, all.data() + static_cast<std::size_t>(q) * n);
        MPI_Scatter(all.data(), static_cast<int>(n), MPI_DOUBLE, rows.data(), static_cast<int>(n), MPI_DOUBLE, 0, cart);
        return o1hb::block_from_rows(lat, rows.data());
    }
    // A run that fails: the message, then every process ends (a process
    // alone returns the status).
    int fail(const std::string &message)
    {
        if (!mpi || size == 1) return run_failed(message);
        std::fprintf(stderr, "o1_phi4_heatbath: process %d of %d: %s\n", rank, size, message.c_str());
        std::fflush(stderr);
        MPI_Abort(MPI_COMM_WORLD, EXIT_RUN_FAILED);
        return EXIT_RUN_FAILED;
    }
#else
    void start(int &, char **&) {}
    int default_threads(const o1hb::Options &o) const { return o.run.threads; }
    void end() {}
    void make_lattice(const o1hb::Options &o)
    {
        check_no_grid(o);
        lat = o1hb::make_lattice(o.run.d, o.run.L);
    }
    bool refused(const std::string &message) { return !message.empty() && (bad_input(message), true); }
    void agree(int *, int) {}
    std::vector<double> whole_field(const std::vector<double> &stored) { return stored; }
    void share_state(o1hb::ChainState &) {}
    std::vector<double> block_field(const std::vector<double> &phi) { return phi; }
    int fail(const std::string &message) { return run_failed(message); }
#endif

private:
#ifdef O1_HAVE_MPI
    // The block of process q.
    o1hb::Lattice block(int q) const
    {
        int grid[o1hb::MAX_DIM] = {1, 1, 1}, periods[o1hb::MAX_DIM], coords[o1hb::MAX_DIM] = {};
        MPI_Cart_get(cart, lat.d, grid, periods, coords);
        o1hb::block_coordinates(cart, q, lat.d, coords);
        return o1hb::make_block(lat.d, lat.L, grid, coords);
    }
#endif
    // A run on one process takes no grid but 1x1[x1].
    void check_no_grid(const o1hb::Options &o) const
    {
        long product = 1;
        for (int mu = 0; mu < o.run.d; ++mu) product *= o.grid[mu] > 0 ? o.grid[mu] : 1;
        if (product == 1) return;
#ifdef O1_HAVE_MPI
        throw std::invalid_argument("--grid of " + std::to_string(product) + " blocks needs as many processes (mpirun -np " +
                                    std::to_string(product) + "); this run has one");
#else
        throw std::invalid_argument("--grid: this o1_phi4_heatbath was built without MPI and runs on one process");
#endif
    }
};

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
    Checkpoints(const o1hb::Options &o, Processes &procs, std::uint64_t table_id, std::FILE *series, std::uint64_t last)
        : o_(o), procs_(procs), series_(series), last_sweep_(last), last_time_(Clock::now())
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
    // Writes the state s, after which the series is series_bytes long; on
    // every process at once, process 0 writing.  Throws std::runtime_error
    // when the series or the checkpoint cannot be written.
    void write(const o1hb::ChainState &s, std::uint64_t series_bytes)
    {
        if (procs_.split()) {
            o1hb::ChainState whole = s;
            whole.phi = procs_.whole_field(s.phi);
            if (procs_.first()) write_file(whole, series_bytes);
        } else if (procs_.first()) {
            write_file(s, series_bytes);
        }
        last_sweep_ = s.sweep;
        last_time_ = Clock::now();
    }
    std::uint64_t last_sweep() const { return last_sweep_; }

private:
    void write_file(const o1hb::ChainState &s, std::uint64_t series_bytes)
    {
        if (std::fflush(series_) != 0 || std::ferror(series_))
            throw std::runtime_error("writing the series file " + o_.series + " failed: " + std::strerror(errno));
        // fsync fails on a device such as /dev/null, which keeps nothing anyway.
        if (::fsync(fileno(series_)) != 0 && errno != EINVAL && errno != EROFS)
            throw std::runtime_error("writing the series file " + o_.series + " failed: " + std::strerror(errno));
        c_.series_bytes = series_bytes;
        o1hb::write_checkpoint(o_.checkpoint, c_, s);
    }

    const o1hb::Options &o_;
    Processes &procs_;
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

// What the processes of a split run cost, on process 0: messages and bytes
// it sent per sweep, and the shares of its wall-clock time in exchanges.
void print_team(const Processes &procs, const o1hb::RunResult &r, int sw)
{
#ifdef O1_HAVE_MPI
    if (!procs.team) return;
    const o1hb::MpiTeam &t = *procs.team;
    const double sweeps = static_cast<double>(r.therm_done + r.measured_done);
    const double wall = r.wall_therm + r.wall_measured;
    std::printf("processes: %d, grid 1", procs.size);
    for (int mu = 1; mu < procs.lat.d; ++mu) std::printf("x%ld", procs.lat.L / procs.lat.n[mu]);
    std::printf(", block %ld sites; process 0 per sweep: %.1f messages, %.0f bytes (field %.0f, labels %.0f); "
                "time in field halos %.1f%%, label merging %.1f%% (%.2f rounds per update), reductions %.1f%%\n",
                procs.lat.rows * procs.lat.L, static_cast<double>(t.field.messages + t.labels.messages) / sweeps,
                static_cast<double>(t.field.bytes + t.labels.bytes) / sweeps, static_cast<double>(t.field.bytes) / sweeps,
                static_cast<double>(t.labels.bytes) / sweeps, 100 * t.field.seconds / wall, 100 * t.labels.seconds / wall,
                r.measured_done > 0 && sw > 0 ? static_cast<double>(r.sw.rounds) / static_cast<double>(r.measured_done * sw) : 0.0,
                100 * t.reductions.seconds / wall);
#else
    (void)procs;
    (void)r;
    (void)sw;
#endif
}

int run(const o1hb::Options &o, Processes &procs)
{
    const o1hb::RunParameters &p = o.run;
    const std::uint64_t therm = static_cast<std::uint64_t>(p.therm), total = therm + static_cast<std::uint64_t>(p.sweeps);

    // Everything that can be wrong with the input is found before the first
    // sweep, on every process; if one refuses, all end with status 2.
    std::unique_ptr<o1hb::HeatBathSampler> sampler;
    std::uint64_t table_id = 0;
    o1hb::Checkpoint resumed;
    o1hb::ChainState start;
    std::FILE *series = nullptr;
    std::string refusal;
    try {
        procs.make_lattice(o);
        o1hb::check_split(p, procs.lat);
        if (p.update == o1hb::Update::HeatBath) {
            // The sampler refuses a table that cannot be read (not a regular
            // file, malformed) or that check_table refuses for this landa.
            sampler = std::make_unique<o1hb::HeatBathSampler>(o1hb::make_heat_bath_sampler(o1phi4::load_table(o.table), p.landa));
            table_id = o1hb::table_identity(o.table);
        }
        if (procs.first()) o1hb::check_run_files(o);
        // Process 0 reads a checkpoint and shares it out (below).
        if (!o.resume.empty()) {
            if (procs.first()) {
                resumed = o1hb::read_checkpoint(o.resume, start);
                o1hb::check_resume(resumed, o, table_id);
            }
        } else if (!o.start_file.empty()) {
            start = procs.split() ? o1hb::start_state(p, o1hb::Start::Hot, procs.lat) : o1hb::start_state(p, o1hb::Start::Hot);
            if (procs.first()) {
                o1hb::ChainState from;
                const o1hb::Checkpoint c = o1hb::read_checkpoint(o.start_file, from);
                if (c.run.d != p.d || c.run.L != p.L)
                    throw std::invalid_argument("--start " + o.start_file + ": a configuration of d=" + std::to_string(c.run.d) +
                                                " L=" + std::to_string(c.run.L) + ", not of this run's lattice");
                start.phi = std::move(from.phi);
            }
        } else {
            start = procs.split() ? o1hb::start_state(p, o.start, procs.lat) : o1hb::start_state(p, o.start);
        }
    } catch (const std::exception &e) {
        refusal = e.what();
    }
    // The series is opened (made, or cut back to the checkpoint) once every
    // process has agreed to run.
    if (procs.refused(refusal)) return EXIT_BAD_INPUT;
    if (!o.resume.empty()) procs.share_state(start);
    else if (!o.start_file.empty()) start.phi = procs.block_field(start.phi);
    try {
        if (procs.first())
            series = o1hb::open_series(o, !o.resume.empty(), resumed.series_bytes, start.sweep > therm ? start.sweep - therm : 0);
    } catch (const std::exception &e) {
        refusal = e.what();
    }
    if (procs.refused(refusal)) return EXIT_BAD_INPUT;
    if (p.threads > 1 && !o1hb::have_threads() && procs.first())
        std::fprintf(stderr, "o1_phi4_heatbath: built without OpenMP: running on one thread (the same chain)\n");

    std::uint64_t series_bytes = o.resume.empty() ? o1hb::series_header(o).size() : resumed.series_bytes;
    const std::uint64_t first = start.sweep;
    // A resumed run's checkpoint already holds its first state, unless it goes to another file.
    const bool same_checkpoint = !o.resume.empty() && o1hb::same_file(o.checkpoint, o.resume);
    Checkpoints checkpoints(o, procs, table_id, series, same_checkpoint ? first : ~std::uint64_t(0));
    // From here on SIGINT and SIGTERM stop the run after the sweep in progress.
    on_stop_signals(ask_to_stop);
    // A new run's first checkpoint holds its start: a folder that does not
    // take it is found before any sweep.
    if (checkpoints.on() && o.resume.empty()) {
        refusal.clear();
        try {
            checkpoints.write(start, series_bytes);
        } catch (const std::exception &e) {
            refusal = e.what();
        }
        if (procs.refused(refusal)) {
            on_stop_signals(SIG_DFL);
            if (series) std::fclose(series);
            return EXIT_BAD_INPUT;
        }
    }

    Progress progress(procs.first() && (o.progress || ::isatty(STDERR_FILENO)), p, first);
    bool write_failed = false;
    int stopped_by = 0;
    o1hb::RunResult r;
    try {
        r = o1hb::simulate(p, sampler.get(), std::move(start), [&](const o1hb::ChainState &s, const o1hb::Sample *sample) {
            if (sample && series) {
                const long n = o1hb::write_series_line(series, o.series_format, static_cast<long>(s.sweep - therm), *sample);
                if (n < 0 || std::ferror(series)) {
                    if (procs.split()) throw std::runtime_error("writing the series file " + o.series + " failed");
                    write_failed = true;
                    return false;
                }
                series_bytes += static_cast<std::uint64_t>(n);
            }
            progress(s.sweep);
            // Every process stops after the same sweep and checkpoints the same ones.
            int v[2] = {static_cast<int>(stop_signal), checkpoints.due(s.sweep) ? 1 : 0};
            procs.agree(v, 2);
            if (v[1]) checkpoints.write(s, series_bytes);
            stopped_by = v[0];
            return v[0] == 0;
        }, procs.lat);
        if (!write_failed && checkpoints.on() && checkpoints.last_sweep() != r.sweep) checkpoints.write(r, series_bytes);
    } catch (const std::exception &e) {
        on_stop_signals(SIG_DFL);
        if (series) std::fclose(series);
        return procs.fail(std::string("the run stopped: ") + e.what());
    }
    // From here on a signal ends the program: the series and the checkpoint are complete.
    on_stop_signals(SIG_DFL);
    if (series) {
        const bool written = !write_failed && std::fflush(series) == 0 && !std::ferror(series);
        const int err = errno;
        if (std::fclose(series) != 0 || !written)
            return procs.fail("writing the series file " + o.series + " failed (" + std::strerror(err) + ")" +
                              (checkpoints.on() ? "; the checkpoint " + o.checkpoint + " holds the last sweep before" : ""));
    }

    if (r.stopped) {
        const int sig = stopped_by;
        const int status = checkpoints.on() ? 0 : EXIT_SIGNAL_BASE + sig;
        if (!procs.first()) return status;
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
            return status;
        }
        std::fprintf(stderr, "o1_phi4_heatbath: stopped by %s %s, without a checkpoint (--checkpoint FILE); the series file %s holds "
                             "the sweeps made, whole\n",
                     sig == SIGINT ? "SIGINT" : "SIGTERM", where, o.series.c_str());
        return status;
    }

    if (!o.save_config.empty()) {
        const std::vector<double> phi = procs.whole_field(r.phi);
        try {
            if (procs.first()) o1hb::save_configuration(o.save_config, p.d, p.L, r.sweep, phi);
        } catch (const std::exception &e) {
            return procs.fail(e.what());
        }
    }
    if (!procs.first()) return 0;

    // The summary comes from the series file as written: the run keeps no
    // sample.  A series sent to a device or a pipe cannot be read back.
    std::unique_ptr<o1hb::Analysis> an;
    std::string no_analysis;
    if (o1hb::is_regular_file(o.series)) {
        try {
            an = std::make_unique<o1hb::Analysis>(o1hb::analyse(o1hb::read_series(o.series)));
        } catch (const std::exception &e) {
            return procs.fail(std::string("the series cannot be analysed: ") + e.what());
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
    print_team(procs, r, p.sw);
    std::printf("series: %s\n", o.series.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    Processes procs;
    procs.start(argc, argv);
    o1hb::Options o;
    std::string refusal;
    try {
        o = o1hb::parse_options(argc, argv);
    } catch (const std::invalid_argument &e) {
        refusal = e.what();
    }
    if (refusal.empty() && !o.threads_given) o.run.threads = procs.default_threads(o);
    int status = 0;
    if (procs.refused(refusal)) status = EXIT_BAD_INPUT;
    else if (o.help) {
        if (procs.first()) o1hb::print_help(stdout);
    } else if (!o.analyse.empty()) {
        if (procs.first()) status = analyse_file(o);
    } else {
        status = run(o, procs);
    }
    procs.end();
    return status;
}
