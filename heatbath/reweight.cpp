// Reweighting in beta and its jackknife.
#include "heatbath/reweight.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

namespace o1hb {

namespace {

using Quantity = std::function<double(const Sample &)>;
// A function of the weighted means of the quantities, in their order.
using Function = std::function<double(const double *)>;

// Weighted sums over a range of samples, scaled by exp(-lmax):
// w = sum_i exp(l_i - lmax), w2 = sum_i exp(l_i - lmax)^2, q_k = sum_i exp(l_i - lmax) Q_k(i),
// with l_i = dbV E_i and lmax the largest l_i of the range.
struct Sums {
    double lmax = -std::numeric_limits<double>::infinity();
    double w = 0, w2 = 0;
    std::vector<double> q;
};

Sums sums(const Series &s, double dbV, long from, long to, const std::vector<Quantity> &qs)
{
    Sums r;
    r.q.assign(qs.size(), 0.0);
    for (long i = from; i < to; ++i) r.lmax = std::max(r.lmax, dbV * s.samples[static_cast<std::size_t>(i)].energy);
    for (long i = from; i < to; ++i) {
        const Sample &x = s.samples[static_cast<std::size_t>(i)];
        const double w = std::exp(dbV * x.energy - r.lmax);
        r.w += w;
        r.w2 += w * w;
        for (std::size_t k = 0; k < qs.size(); ++k) r.q[k] += w * qs[k](x);
    }
    return r;
}

double of(const std::vector<double> &q, double w, const Function &f)
{
    std::vector<double> m(q.size());
    for (std::size_t k = 0; k < q.size(); ++k) m[k] = q[k] / w;
    return f(m.data());
}

// f of the means of all samples (full), and the jackknife error over the
// blocks: f_j from every block but j, the blocks brought to the scale of the
// largest lmax among them,
//     error = sqrt((nb - 1)/nb sum_j (f_j - mean of f_j)^2).
Jackknifed jackknife(const Sums &full, const std::vector<Sums> &blocks, const Function &f)
{
    Jackknifed r;
    r.value = of(full.q, full.w, f);
    const std::size_t nb = blocks.size(), nq = full.q.size();
    std::vector<double> fj(nb), q(nq);
    for (std::size_t j = 0; j < nb; ++j) {
        double ref = -std::numeric_limits<double>::infinity();
        for (std::size_t b = 0; b < nb; ++b)
            if (b != j) ref = std::max(ref, blocks[b].lmax);
        double w = 0;
        std::fill(q.begin(), q.end(), 0.0);
        for (std::size_t b = 0; b < nb; ++b) {
            if (b == j) continue;
            const double scale = std::exp(blocks[b].lmax - ref);
            w += scale * blocks[b].w;
            for (std::size_t k = 0; k < nq; ++k) q[k] += scale * blocks[b].q[k];
        }
        fj[j] = of(q, w, f);
    }
    double mean = 0;
    for (double v : fj) mean += v;
    mean /= static_cast<double>(nb);
    double ss = 0;
    for (double v : fj) ss += (v - mean) * (v - mean);
    r.error = std::sqrt(static_cast<double>(nb - 1) / static_cast<double>(nb) * ss);
    return r;
}

// The full sums and those of every block, at the weight exp(dbV E).
void all_sums(const Series &s, double dbV, const Blocks &b, const std::vector<Quantity> &qs, Sums &full,
              std::vector<Sums> &blocks)
{
    const long n = static_cast<long>(s.samples.size());
    full = sums(s, dbV, 0, n, qs);
    const long first = n - b.length * b.count;
    blocks.clear();
    for (long j = 0; j < b.count; ++j) blocks.push_back(sums(s, dbV, first + j * b.length, first + (j + 1) * b.length, qs));
}

// Means of m^2, m^4 and F in the analysis' column layout (the others NaN),
// so that the derived quantities are the analysis' own functions.
void spread(double m2, double m4, double F, double *mean)
{
    std::fill(mean, mean + COLUMNS, std::numeric_limits<double>::quiet_NaN());
    mean[M2] = m2;
    mean[M4] = m4;
    mean[FOURIER] = F;
}

Quantity of_column(int c)
{
    return [c](const Sample &x) { return column(x, c); };
}

double need_volume(const Series &s)
{
    const double V = volume(s);
    if (!(V > 0))
        throw std::invalid_argument("the reweighting needs the lattice and beta of the run, which this series file's header "
                                    "does not give");
    if (static_cast<long>(s.samples.size()) < MIN_BLOCKS)
        throw std::invalid_argument("the reweighting needs at least " + std::to_string(MIN_BLOCKS) + " samples");
    return V;
}

}  // namespace

Blocks jackknife_blocks(long n, double tau_max)
{
    Blocks b;
    b.length = std::max(1L, static_cast<long>(std::ceil(BLOCK_TAUS * tau_max)));
    b.count = n / b.length;
    if (b.count < MIN_BLOCKS) {
        b.short_run = true;
        b.count = MIN_BLOCKS;
        b.length = n / MIN_BLOCKS;
    }
    return b;
}

ReweightPoint reweight_at(const Series &s, double beta, const Blocks &b)
{
    const double V = need_volume(s);
    const int L = s.L;
    const std::vector<Quantity> qs = {of_column(M2), of_column(M4), of_column(FOURIER)};
    Sums full;
    std::vector<Sums> blocks;
    all_sums(s, (beta - s.beta) * V, b, qs, full, blocks);
    ReweightPoint p;
    p.beta = beta;
    double mean[COLUMNS];
    p.U4 = jackknife(full, blocks, [&](const double *q) {
        spread(q[0], q[1], q[2], mean);
        return binder(mean);
    });
    p.m2 = jackknife(full, blocks, [](const double *q) { return q[0]; });
    p.chi = jackknife(full, blocks, [&](const double *q) {
        spread(q[0], q[1], q[2], mean);
        return susceptibility(mean, V);
    });
    if (s.has_F)
        p.xi = jackknife(full, blocks, [&](const double *q) {
            spread(q[0], q[1], q[2], mean);
            return xi_over_L(mean, V, L);
        });
    p.n_eff = full.w * full.w / full.w2;
    p.too_wide = p.n_eff < MIN_EFFECTIVE_FRACTION * static_cast<double>(s.samples.size());
    return p;
}

Reweighting reweight(const Series &s, double tau_max, const ReweightRange &range)
{
    const double V = need_volume(s);
    Reweighting r;
    r.beta0 = s.beta;
    r.n = static_cast<long>(s.samples.size());
    r.blocks = jackknife_blocks(r.n, tau_max);
    r.has_xi = s.has_F;
    for (long k = 0; k <= range.n; ++k) {
        const double beta = k == range.n ? range.hi
                                         : range.lo + (range.hi - range.lo) * static_cast<double>(k) /
                                                          static_cast<double>(range.n);
        r.points.push_back(reweight_at(s, beta, r.blocks));
    }

    // The derivatives at beta_0 from d<X>/dbeta = V (<X E> - <X><E>), with E
    // taken from its mean (the same correlator, less cancellation).
    double e_mean = 0;
    for (const Sample &x : s.samples) e_mean += x.energy;
    e_mean /= static_cast<double>(r.n);
    enum { Q2, Q4, QF, QE, Q2E, Q4E, QFE };
    const std::vector<Quantity> qs = {
        of_column(M2),
        of_column(M4),
        of_column(FOURIER),
        [e_mean](const Sample &x) { return x.energy - e_mean; },
        [e_mean](const Sample &x) { return column(x, M2) * (x.energy - e_mean); },
        [e_mean](const Sample &x) { return column(x, M4) * (x.energy - e_mean); },
        [e_mean](const Sample &x) { return x.F * (x.energy - e_mean); },
    };
    Sums full;
    std::vector<Sums> blocks;
    all_sums(s, 0, r.blocks, qs, full, blocks);
    // dU4/dbeta = d<m^4>/<m^2>^2 - 2 <m^4> d<m^2>/<m^2>^3.
    r.dU4 = jackknife(full, blocks, [V](const double *q) {
        const double d2 = V * (q[Q2E] - q[Q2] * q[QE]), d4 = V * (q[Q4E] - q[Q4] * q[QE]);
        return d4 / (q[Q2] * q[Q2]) - 2 * q[Q4] * d2 / (q[Q2] * q[Q2] * q[Q2]);
    });
    // xi/L = sqrt(r - 1) / (2 L sin(pi/L)) with r = V <m^2>/<F>:
    // d(xi/L)/dbeta = (xi/L) dr / (2 (r - 1)), dr = V d<m^2>/<F> - V <m^2> d<F>/<F>^2.
    if (r.has_xi) {
        const int L = s.L;
        r.dxi = jackknife(full, blocks, [V, L](const double *q) {
            double mean[COLUMNS];
            spread(q[Q2], q[Q4], q[QF], mean);
            const double d2 = V * (q[Q2E] - q[Q2] * q[QE]), dF = V * (q[QFE] - q[QF] * q[QE]);
            const double ratio = V * q[Q2] / q[QF];
            const double dr = V * d2 / q[QF] - V * q[Q2] * dF / (q[QF] * q[QF]);
            return xi_over_L(mean, V, L) * dr / (2 * (ratio - 1));
        });
    }
    return r;
}

}  // namespace o1hb
