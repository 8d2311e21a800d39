// The whole chain (table, sampler, heat bath) against a Metropolis update that
// uses no table: both must give the same physics within their errors, and a
// table that is no majorant where the field values lie must show up as a
// disagreement.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <ostream>
#include <sstream>

#include "heatbath/analysis.h"
#include "heatbath/heatbath.h"
#include "heatbath_test_support.h"

namespace {

// Differences beyond this many standard errors are a disagreement.
constexpr double AGREEMENT_SIGMAS = 4;
// The damage lies in the histograms serving |h| below this.
constexpr double DAMAGED_BELOW = 2;
// Seeds of the runs (any fixed values: the test is deterministic).
constexpr std::uint64_t SEED_HEAT_BATH = 11, SEED_METROPOLIS = 12;

struct Case {
    const char *name;
    int d, L;
    double beta;
    long sweeps;
};

o1hb::RunParameters parameters(const Case &c, o1hb::Update u, int clusters, std::uint64_t seed, int sw = 0,
                               o1hb::Order order = o1hb::Order::Checkerboard)
{
    o1hb::RunParameters p;
    p.d = c.d;
    p.L = c.L;
    p.beta = c.beta;
    p.landa = 1.1;
    p.therm = 500;
    p.sweeps = c.sweeps;
    p.seed = seed;
    p.update = u;
    p.clusters = clusters;
    p.sw = sw;
    p.order = order;
    return p;
}

// The largest |difference|/error of phi^2, the energy and m^2 between a and b,
// and a report of all three.
double worst_z(const o1hb::Analysis &a, const o1hb::Analysis &b, std::string &report)
{
    std::ostringstream s;
    double worst = 0;
    for (std::size_t i : {0u, 1u, 4u}) {
        const o1hb::Estimate &x = a.rows[i], &y = b.rows[i];
        const double z = std::fabs(x.mean - y.mean) / std::hypot(x.error, y.error);
        s << x.name << ": " << x.mean << " +- " << x.error << " vs " << y.mean << " +- " << y.error << " (" << z << " sigma)\n";
        worst = std::fmax(worst, z);
    }
    report = s.str();
    return worst;
}

// The run of p and the analysis of its series.
o1hb::Analysis run_and_analyse(const o1hb::RunParameters &p, const o1hb::HeatBathSampler *s, o1hb::RunResult *r = nullptr)
{
    o1hb::Series series;
    o1hb::RunResult result = o1hb::simulate(p, s, [&](const o1hb::ChainState &, const o1hb::Sample *x) {
        if (x) series.samples.push_back(*x);
        return true;
    });
    if (r) *r = std::move(result);
    return o1hb::analyse(series);
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class HeatBathAgreement : public ::testing::TestWithParam<Case> {
protected:
    // The Metropolis reference of a case, run once for both tests.
    static const o1hb::Analysis &metropolis(const Case &c)
    {
        static std::map<std::string, o1hb::Analysis> done;
        auto it = done.find(c.name);
        if (it == done.end())
            it = done.emplace(c.name, run_and_analyse(parameters(c, o1hb::Update::Metropolis, 0, SEED_METROPOLIS), nullptr)).first;
        return it->second;
    }
};

}  // namespace

TEST_P(HeatBathAgreement, HeatBathWithClustersOrFallbackAgreesWithMetropolis)
{
    const Case c = GetParam();
    const o1hb::HeatBathSampler sound = o1hb::make_heat_bath_sampler(o1phi4::parse_table(table_text(), "sound"), 1.1);
    const o1hb::HeatBathSampler narrow = o1hb::make_heat_bath_sampler(o1phi4::parse_table(narrow_table_text(), "narrow"), 1.1);
    struct Variant {
        const char *name;
        const o1hb::HeatBathSampler &s;
        int clusters, sw;
        o1hb::Order order;
    };
    const o1hb::Order cb = o1hb::Order::Checkerboard;
    for (const Variant &v : {Variant{"heat bath", sound, 0, 0, cb}, Variant{"with clusters", sound, 2, 0, cb},
                             Variant{"with swendsen-wang", sound, 0, 1, cb}, Variant{"H_max 1", narrow, 0, 0, cb},
                             Variant{"lexicographic", sound, 0, 0, o1hb::Order::Lexicographic}}) {
        o1hb::RunResult r;
        const o1hb::Analysis an = run_and_analyse(parameters(c, o1hb::Update::HeatBath, v.clusters, SEED_HEAT_BATH, v.sw, v.order), &v.s, &r);
        std::string report;
        EXPECT_LT(worst_z(an, metropolis(c), report), AGREEMENT_SIGMAS) << v.name << "\n" << report;
        // The fallback draws exactly the field values beyond H_max, and only those.
        const double fallback = static_cast<double>(r.heat_bath.draw.fallback) / static_cast<double>(r.heat_bath.draws);
        if (&v.s == &sound) EXPECT_EQ(fallback, 0) << v.name;
        else EXPECT_GT(fallback, 0.1) << v.name;
    }
}

TEST_P(HeatBathAgreement, TableThatIsNoMajorantNearTheModeDisagrees)
{
    const Case c = GetParam();
    const std::string bad = damaged_table_text(table_text(), DAMAGED_BELOW);
    // The sampler's load-time check refuses it; drawn from without that
    // check, the heat bath's numbers show the damage.
    EXPECT_THROW(o1hb::make_heat_bath_sampler(o1phi4::parse_table(bad, "damaged"), 1.1), o1phi4::TableError);
    o1phi4::SamplerOptions unchecked;
    unchecked.fallback = true;
    unchecked.check = false;
    const o1hb::HeatBathSampler s(o1phi4::parse_table(bad, "damaged"), 1.1, unchecked);
    o1hb::RunResult r;
    const o1hb::Analysis an = run_and_analyse(parameters(c, o1hb::Update::HeatBath, 0, SEED_HEAT_BATH), &s, &r);

    // Most field values of the run lie where the damage is.
    const o1hb::Lattice lat = o1hb::make_lattice(c.d, c.L);
    long inside = 0;
    for (long x = 0; x < lat.V; ++x) {
        double sum = 0;
        for (int k = 0; k < 2 * c.d; ++k) sum += r.phi[static_cast<std::size_t>(lat.nb[static_cast<std::size_t>(x * 2 * c.d + k)])];
        inside += std::fabs(c.beta * sum) < DAMAGED_BELOW;
    }
    ASSERT_GT(inside, lat.V / 2);

    std::string report;
    EXPECT_GT(worst_z(an, metropolis(c), report), AGREEMENT_SIGMAS) << report;
}

INSTANTIATE_TEST_SUITE_P(Lattices, HeatBathAgreement,
                         ::testing::Values(Case{"d2_L6", 2, 6, 0.6, 100000}, Case{"d3_L4", 3, 4, 0.3750966, 100000}),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });
