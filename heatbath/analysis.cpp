// Jackknife errors over blocks and the autocorrelation with its automatic
// window.
#include "heatbath/analysis.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

namespace o1hb {

namespace {

double mean_of(const std::vector<double> &a)
{
    double s = 0;
    for (double v : a) s += v;
    return s / static_cast<double>(a.size());
}

// Jackknife over nb blocks of length B of the last nb*B samples of the
// columns: f of the column means, and its error
//     sqrt((nb - 1)/nb * sum_i (f_i - f_mean)^2),
// f_i being f of the means with block i left out.
void jackknife(const std::vector<std::vector<double>> &cols, const std::function<double(const double *)> &f, long B,
               long nb, double &value, double &error)
{
    const std::size_t nc = cols.size();
    const std::size_t first = cols[0].size() - static_cast<std::size_t>(B * nb);
    std::vector<double> block_sum(nc * static_cast<std::size_t>(nb), 0.0), total(nc, 0.0), means(nc);
    for (std::size_t c = 0; c < nc; ++c)
        for (long i = 0; i < nb; ++i) {
            double s = 0;
            for (long k = 0; k < B; ++k) s += cols[c][first + static_cast<std::size_t>(i * B + k)];
            block_sum[c * static_cast<std::size_t>(nb) + static_cast<std::size_t>(i)] = s;
            total[c] += s;
        }
    for (std::size_t c = 0; c < nc; ++c) means[c] = total[c] / static_cast<double>(B * nb);
    value = f(means.data());
    std::vector<double> fi(static_cast<std::size_t>(nb));
    for (long i = 0; i < nb; ++i) {
        for (std::size_t c = 0; c < nc; ++c)
            means[c] = (total[c] - block_sum[c * static_cast<std::size_t>(nb) + static_cast<std::size_t>(i)]) /
                       static_cast<double>(B * (nb - 1));
        fi[static_cast<std::size_t>(i)] = f(means.data());
    }
    const double fm = mean_of(fi);
    double s = 0;
    for (double v : fi) s += (v - fm) * (v - fm);
    error = std::sqrt(static_cast<double>(nb - 1) / static_cast<double>(nb) * s);
}

}  // namespace

Autocorrelation autocorrelation(const std::vector<double> &a)
{
    const std::size_t n = a.size();
    if (n < 2) throw std::invalid_argument("an autocorrelation needs at least two samples");
    const double mean = mean_of(a);
    std::vector<double> d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = a[i] - mean;
    // Gamma(t) = 1/(N - t) sum_i d_i d_{i+t}; rho(t) = Gamma(t)/Gamma(0).
    auto gamma = [&](std::size_t t) {
        double s = 0;
        for (std::size_t i = 0; i + t < n; ++i) s += d[i] * d[i + t];
        return s / static_cast<double>(n - t);
    };
    Autocorrelation r;
    const double g0 = gamma(0);
    if (!(g0 > 0)) return r;
    double tau = 0.5;
    std::size_t W = 0;
    const std::size_t last = n / 2;
    r.window_found = false;
    while (W < last) {
        ++W;
        tau += gamma(W) / g0;
        if (static_cast<double>(W) >= WINDOW_FACTOR * tau) {
            r.window_found = true;
            break;
        }
    }
    r.tau = tau;
    r.window = static_cast<long>(W);
    r.tau_error = std::fabs(tau) * std::sqrt(2.0 * static_cast<double>(2 * W + 1) / static_cast<double>(n));
    return r;
}

Analysis analyse(const std::vector<Sample> &series)
{
    const long n = static_cast<long>(series.size());
    if (n < MIN_BLOCKS)
        throw std::invalid_argument("the analysis needs at least " + std::to_string(MIN_BLOCKS) + " samples, not " +
                                    std::to_string(n));
    enum { PHI2, ENERGY, POTENTIAL, ABS_M, M2, M4, COLS };
    std::vector<std::vector<double>> cols(COLS, std::vector<double>(static_cast<std::size_t>(n)));
    for (std::size_t i = 0; i < series.size(); ++i) {
        const Sample &s = series[i];
        const double m2 = s.m * s.m;
        cols[PHI2][i] = s.phi2;
        cols[ENERGY][i] = s.energy;
        cols[POTENTIAL][i] = s.potential;
        cols[ABS_M][i] = std::fabs(s.m);
        cols[M2][i] = m2;
        cols[M4][i] = m2 * m2;
    }
    Analysis an;
    an.n = n;
    const char *names[] = {"phi^2", "energy", "potential", "|m|", "m^2"};
    for (int c = PHI2; c <= M2; ++c) {
        Estimate e;
        e.name = names[c];
        e.ac = autocorrelation(cols[static_cast<std::size_t>(c)]);
        an.rows.push_back(e);
    }
    // U4 = A4/A2^2; its fluctuation to first order is dA4/A2^2 - 2 A4 dA2/A2^3.
    const double a2 = mean_of(cols[M2]), a4 = mean_of(cols[M4]);
    std::vector<double> u4(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < u4.size(); ++i) u4[i] = cols[M4][i] / (a2 * a2) - 2 * a4 * cols[M2][i] / (a2 * a2 * a2);
    Estimate u;
    u.name = "U4";
    u.ac = autocorrelation(u4);
    an.rows.push_back(u);

    for (const Estimate &e : an.rows) an.tau_max = std::max(an.tau_max, e.ac.tau);
    an.block = std::max(1L, static_cast<long>(std::ceil(BLOCK_TAUS * an.tau_max)));
    if (n / an.block < MIN_BLOCKS) {
        an.short_run = true;
        an.block = n / MIN_BLOCKS;
    }
    an.blocks = n / an.block;
    an.used = an.block * an.blocks;
    for (int c = PHI2; c <= M2; ++c)
        jackknife(cols, [c](const double *m) { return m[c]; }, an.block, an.blocks, an.rows[static_cast<std::size_t>(c)].mean,
                  an.rows[static_cast<std::size_t>(c)].error);
    jackknife(cols, [](const double *m) { return m[M4] / (m[M2] * m[M2]); }, an.block, an.blocks, an.rows.back().mean,
              an.rows.back().error);
    return an;
}

}  // namespace o1hb
