// Samples of the reference sampler against the exact law: chi-square on
// equiprobable bins and the acceptance rate against its prediction.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <gsl/gsl_cdf.h>

#include "check.h"

namespace o1check {

SampleReport check_samples(const o1phi4::Sampler &s, double h, long n, int bins, double alpha, std::uint64_t seed)
{
    SampleReport r;
    r.h = h;
    r.n = n;
    r.bins = bins;
    try {
        r.m = s.histogram(h);
    } catch (const o1phi4::FieldError &e) {
        r.error = e.what();
        return r;
    }
    const o1phi4::Block &b = s.table().blocks[static_cast<std::size_t>(r.m)];
    const ExactLaw law(h, b.X_max, s.landa());
    std::vector<double> bound(static_cast<std::size_t>(bins) - 1);
    for (int k = 1; k < bins; ++k) bound[static_cast<std::size_t>(k) - 1] = law.quantile(static_cast<double>(k) / bins);

    std::vector<long> count(static_cast<std::size_t>(bins), 0);
    o1phi4::Xoshiro256ss g(seed);
    std::uint64_t trials = 0;
    try {
        for (long i = 0; i < n; ++i) {
            const double x = s.draw_from(r.m, h, g, trials);
            ++count[static_cast<std::size_t>(std::upper_bound(bound.begin(), bound.end(), x) - bound.begin())];
        }
    } catch (const std::runtime_error &e) {
        r.error = e.what();
        return r;
    }
    const double expect = static_cast<double>(n) / bins;
    for (long c : count) r.chi2 += (c - expect) * (c - expect) / expect;
    r.p_value = gsl_cdf_chisq_Q(r.chi2, bins - 1);
    r.chi2_ok = r.p_value >= alpha;

    // Trials until n acceptances: p_hat = n/T has standard deviation about
    // p*sqrt((1 - p)/n).  A negative h is drawn at -h, whose integral is
    // exp(2*h*X_max) times that at h.
    const double log_z = h < 0 ? law.log_integral() + 2 * h * b.X_max : law.log_integral();
    const double p = std::exp(log_z - std::log(s.nd_poi() * b.a));
    r.acc_predicted = p;
    r.acc_measured = static_cast<double>(n) / static_cast<double>(trials);
    const double sd = p * std::sqrt(std::max(1 - p, 1e-300) / static_cast<double>(n));
    r.acc_z = (r.acc_measured - p) / sd;
    r.acc_ok = p <= 1 && std::fabs(r.acc_z) <= gsl_cdf_ugaussian_Qinv(alpha / 2);
    return r;
}

}  // namespace o1check
