// The command line of o1_phi4_heatbath.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "heatbath/program.h"

namespace o1hb {

namespace {

double number(const std::string &name, const std::string &v)
{
    char *end = nullptr;
    errno = 0;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(x))
        throw std::invalid_argument("--" + name + " needs a finite number, not '" + v + "'");
    return x;
}

long long integer(const std::string &name, const std::string &v, long long lo, long long hi)
{
    char *end = nullptr;
    errno = 0;
    const long long x = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno == ERANGE || x < lo || x > hi)
        throw std::invalid_argument("--" + name + " needs a whole number from " + std::to_string(lo) + " to " +
                                    std::to_string(hi) + ", not '" + v + "'");
    return x;
}

// P0xP1[xP2] of --grid into grid; returns the number of sizes.
int grid_sizes(const std::string &v, int grid[MAX_DIM])
{
    int n = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t x = v.find('x', at);
        if (n == MAX_DIM) throw std::invalid_argument("--grid needs P0xP1 or P0xP1xP2, not '" + v + "'");
        grid[n++] = static_cast<int>(integer("grid", v.substr(at, x == std::string::npos ? x : x - at), 1, 1 << 20));
        if (x == std::string::npos) return n;
        at = x + 1;
    }
}

// B_MIN:B_MAX:N of --reweight.
ReweightRange reweight_range(const std::string &v)
{
    const std::size_t a = v.find(':'), b = a == std::string::npos ? a : v.find(':', a + 1);
    if (b == std::string::npos) throw std::invalid_argument("--reweight needs B_MIN:B_MAX:N, not '" + v + "'");
    ReweightRange r;
    r.lo = number("reweight", v.substr(0, a));
    r.hi = number("reweight", v.substr(a + 1, b - a - 1));
    r.n = static_cast<long>(integer("reweight", v.substr(b + 1), 1, MAX_REWEIGHT_STEPS));
    if (r.lo < 0 || r.hi < r.lo) throw std::invalid_argument("--reweight needs 0 <= B_MIN <= B_MAX, not '" + v + "'");
    return r;
}

}  // namespace

void print_help(std::FILE *out)
{
    std::fprintf(out,
        "Usage: o1_phi4_heatbath --landa LANDA [options]\n"
        "       o1_phi4_heatbath --analyse SERIES_FILE [--reweight B_MIN:B_MAX:N]\n"
        "\n"
        "Monte Carlo simulation of the phi-four model on a periodic L^d lattice,\n"
        "  S = sum_x [ -beta sum_mu phi_x phi_{x+mu} + phi_x^2 + landa (phi_x^2 - 1)^2 ],\n"
        "with the heat bath of the table file O1_Phi4.res (made by o1_phi4 for the same\n"
        "Landa), or with Metropolis; Swendsen-Wang or single-cluster updates of the\n"
        "signs can be mixed in.  The chain depends on the seed and the options alone,\n"
        "not on the number of threads.\n"
        "\n"
        "  --table FILE       table file (default O1_Phi4.res; not read for Metropolis)\n"
        "  --landa X          the coupling landa, the Landa the table was made for (required)\n"
        "  --dim D            dimension, 2 or 3 (default 3)\n"
        "  --size L           lattice size, L >= 2, even in checkerboard order (default 8)\n"
        "  --beta B           hopping coupling, B >= 0 (default 0.3750966)\n"
        "  --therm N          thermalisation sweeps (default 1000)\n"
        "  --sweeps N         measured sweeps, one sample each (default 10000)\n"
        "  --seed S           seed of the generator (default 1)\n"
        "  --update U         heatbath or metropolis (default heatbath)\n"
        "  --order O          checkerboard (default) or lexicographic (one thread, any L)\n"
        "  --threads N        threads, 1 to 1024 (default: every core, here %d, but at\n"
        "                     most one per %ld sites; under mpirun, per process: the\n"
        "                     cores shared among the processes on the machine); the\n"
        "                     chain is the same for any N\n"
        "  --sw N             Swendsen-Wang updates after each sweep (default 0)\n"
        "  --clusters N       single-cluster updates after each sweep (default 0)\n"
        "  --hits N           Metropolis proposals per site and sweep (default 4)\n"
        "  --step X           Metropolis step; 0 tunes it to an acceptance of 1/2\n"
        "                     during the thermalisation (default 0)\n"
        "  --series FILE      per-sweep series: sweep m phi2 energy potential F\n"
        "                     (default o1_phi4_heatbath.dat)\n"
        "  --series-format F  text (default) or binary (little-endian doubles)\n"
        "  --replace          replace an existing series or checkpoint file (else refused)\n"
        "  --save-config FILE the final configuration: a text line, then the field\n"
        "                     values as little-endian doubles in site order\n"
        "  --start S          hot (default: uniform in [-1, 1]), cold (all 1), or a\n"
        "                     checkpoint file: its configuration, with these options\n"
        "  --checkpoint FILE  write the state there every --checkpoint-every N sweeps\n"
        "                     (default: every %.0f s), at the start and the end, and\n"
        "                     on SIGINT or SIGTERM (then stop after the sweep in\n"
        "                     progress, status 0)\n"
        "  --resume FILE      go on from a checkpoint with the options of its run,\n"
        "                     appending to the series file (and checkpointing to FILE\n"
        "                     unless --checkpoint names another)\n"
        "  --progress         progress lines on stderr (default: only on a terminal)\n"
        "  --grid P0xP1[xP2]  under mpirun: the blocks of the lattice along each\n"
        "                     direction, P0 = 1 (default: as even as the number of\n"
        "                     processes allows); the chain is the same for any grid\n"
        "  --analyse FILE     analyse a series file written before (text or binary),\n"
        "                     and stop\n"
        "  --reweight B_MIN:B_MAX:N  with --analyse: U4, <m^2>, chi and xi/L at N + 1\n"
        "                     values of beta from B_MIN to B_MAX, by reweighting\n"
        "  --help             this text\n"
        "\n"
        "The summary on stdout gives each mean with its error and its integrated\n"
        "autocorrelation time (docs/analysis.md).  Exit status 0 on success, 1 when a run\n"
        "fails, 2 for bad input (found before any sweep); a run stopped by SIGINT or\n"
        "SIGTERM ends after the sweep in progress with status 0 when it wrote a\n"
        "checkpoint, else with 128 + the signal's number.\n",
        available_threads(), MIN_SITES_PER_THREAD, CHECKPOINT_SECONDS);
}

Options parse_options(int argc, char **argv)
{
    Options o;
    o.run.beta = DEFAULT_BETA;
    o.run.threads = 0;  // not given
    int grid_count = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (arg.compare(0, 2, "--") != 0) throw std::invalid_argument("unexpected argument '" + arg + "'");
        arg.erase(0, 2);
        if (arg == "help" || arg == "replace" || arg == "progress") {
            (arg == "help" ? o.help : arg == "replace" ? o.replace : o.progress) = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.erase(eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw std::invalid_argument("--" + arg + " needs a value");
        }
        constexpr long long int_max = std::numeric_limits<int>::max();
        constexpr long long long_max = std::numeric_limits<long>::max();
        if (arg == "table") o.table = value;
        else if (arg == "landa") {
            o.run.landa = number(arg, value);
            o.landa_given = true;
        } else if (arg == "dim") o.run.d = static_cast<int>(integer(arg, value, 2, 3));
        else if (arg == "size") o.run.L = static_cast<int>(integer(arg, value, 2, int_max));
        else if (arg == "beta") o.run.beta = number(arg, value);
        else if (arg == "therm") o.run.therm = static_cast<long>(integer(arg, value, 0, long_max));
        else if (arg == "sweeps") o.run.sweeps = static_cast<long>(integer(arg, value, MIN_BLOCKS, MAX_SERIES_SAMPLES));
        else if (arg == "seed") {
            const long long s = integer(arg, value, 0, std::numeric_limits<long long>::max());
            o.run.seed = static_cast<std::uint64_t>(s);
        } else if (arg == "update") {
            if (value == "heatbath") o.run.update = Update::HeatBath;
            else if (value == "metropolis") o.run.update = Update::Metropolis;
            else throw std::invalid_argument("--update is heatbath or metropolis, not '" + value + "'");
        } else if (arg == "order") {
            if (value == "checkerboard") o.run.order = Order::Checkerboard;
            else if (value == "lexicographic") o.run.order = Order::Lexicographic;
            else throw std::invalid_argument("--order is checkerboard or lexicographic, not '" + value + "'");
        } else if (arg == "threads") {
            o.run.threads = static_cast<int>(integer(arg, value, 1, MAX_THREADS));
            o.threads_given = true;
        }
        else if (arg == "sw") o.run.sw = static_cast<int>(integer(arg, value, 0, MAX_SUB + 1));
        else if (arg == "clusters") o.run.clusters = static_cast<int>(integer(arg, value, 0, MAX_SUB + 1));
        else if (arg == "hits") o.run.hits = static_cast<int>(integer(arg, value, 1, int_max));
        else if (arg == "step") o.run.step = number(arg, value);
        else if (arg == "series") o.series = value;
        else if (arg == "save-config") o.save_config = value;
        else if (arg == "series-format") {
            if (value == "text") o.series_format = SeriesFormat::Text;
            else if (value == "binary") o.series_format = SeriesFormat::Binary;
            else throw std::invalid_argument("--series-format is text or binary, not '" + value + "'");
        } else if (arg == "checkpoint") o.checkpoint = value;
        else if (arg == "checkpoint-every")
            o.checkpoint_every = static_cast<long>(integer(arg, value, 1, static_cast<long long>(MAX_SWEEP)));
        else if (arg == "resume") o.resume = value;
        else if (arg == "start") {
            o.start_file.clear();
            if (value == "hot") o.start = Start::Hot;
            else if (value == "cold") o.start = Start::Cold;
            else if (value.empty()) throw std::invalid_argument("--start is hot, cold or a checkpoint file, not ''");
            else o.start_file = value;
        }
        else if (arg == "grid") grid_count = grid_sizes(value, o.grid);
        else if (arg == "analyse") o.analyse = value;
        else if (arg == "reweight") {
            o.reweight = reweight_range(value);
            o.reweight_given = true;
        }
        else throw std::invalid_argument("unknown option --" + arg + " (see --help)");
    }
    if (o.reweight_given && o.analyse.empty()) throw std::invalid_argument("--reweight needs --analyse SERIES_FILE");
    if (o.checkpoint_every > 0 && o.checkpoint.empty() && o.resume.empty())
        throw std::invalid_argument("--checkpoint-every needs --checkpoint FILE (or --resume FILE)");
    if (!o.resume.empty() && (o.start != Start::Hot || !o.start_file.empty()))
        throw std::invalid_argument("--start and --resume exclude each other: a resumed run goes on from its checkpoint");
    // A resumed run goes on writing its checkpoint where it was, unless told otherwise.
    if (!o.resume.empty() && o.checkpoint.empty()) o.checkpoint = o.resume;
    if (o.help || !o.analyse.empty()) return o;
    if (grid_count != 0 && grid_count != o.run.d)
        throw std::invalid_argument("--grid needs " + std::to_string(o.run.d) + " sizes for d = " + std::to_string(o.run.d) +
                                    ", not " + std::to_string(grid_count));
    if (o.run.threads == 0) o.run.threads = default_threads(lattice_sites(o.run.d, o.run.L));
    if (!o.landa_given) throw std::invalid_argument("--landa is required: the coupling, the Landa the table was made for");
    if (o.run.beta < 0) throw std::invalid_argument("--beta must be >= 0");
    if (o.run.landa < 0) throw std::invalid_argument("--landa must be >= 0");
    if (o.run.step < 0) throw std::invalid_argument("--step must be >= 0");
    check_parameters(o.run);
    return o;
}

}  // namespace o1hb
