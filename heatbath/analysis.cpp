// Means, derived quantities and their errors from the autocorrelation of
// each one's fluctuation (the Gamma method with an automatic window).
#include "heatbath/analysis.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <stdexcept>

namespace o1hb {

namespace {

constexpr double PI = 3.14159265358979323846;

// A derived quantity: f of the column means, and what to say when f does not
// exist for them.
struct Derived {
    const char *name;
    std::function<double(const double *)> f;
    const char *undefined;
};

// The row of f: its value at the means, and the error of its linearised
// fluctuation p_i = sum_c g_c a_{c,i}, g_c = df/d<a_c> by central
// differences with the step h_c = sd_c / sqrt(N) (the scale on which the
// means fluctuate; a constant column has h_c = 0 and no part in p).
Estimate derived(const Derived &q, const Series &s, const double *mean, const double *sd)
{
    Estimate e;
    e.name = q.name;
    e.mean = q.f(mean);
    if (!std::isfinite(e.mean)) {
        e.undefined = q.undefined;
        return e;
    }
    const std::size_t n = s.samples.size();
    double g[COLUMNS] = {};
    double m[COLUMNS];
    std::copy(mean, mean + COLUMNS, m);
    for (int c = 0; c < COLUMNS; ++c) {
        const double h = sd[c] / std::sqrt(static_cast<double>(n));
        if (!(h > 0)) continue;
        m[c] = mean[c] + h;
        const double up = q.f(m);
        m[c] = mean[c] - h;
        const double down = q.f(m);
        m[c] = mean[c];
        // One-sided where the other side leaves the domain of f (xi/L close to 0).
        if (std::isfinite(up) && std::isfinite(down)) g[c] = (up - down) / (2 * h);
        else if (std::isfinite(up)) g[c] = (up - e.mean) / h;
        else if (std::isfinite(down)) g[c] = (e.mean - down) / h;
    }
    std::vector<double> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0;
        for (int c = 0; c < COLUMNS; ++c)
            if (g[c] != 0) v += g[c] * column(s.samples[i], c);
        p[i] = v;
    }
    e.ac = autocorrelation(std::move(p));
    e.error = std::sqrt(e.ac.variance * 2 * e.ac.tau / static_cast<double>(n));
    return e;
}

}  // namespace

double volume(const Series &s)
{
    if (s.d < 1 || s.L < 2) return 0;
    double V = 1;
    for (int k = 0; k < s.d; ++k) V *= s.L;
    return V;
}

double column(const Sample &s, int c)
{
    const double m2 = s.m * s.m;
    switch (c) {
    case PHI2: return s.phi2;
    case ENERGY: return s.energy;
    case POTENTIAL: return s.potential;
    case ABS_M: return std::fabs(s.m);
    case M2: return m2;
    case M4: return m2 * m2;
    case FOURIER: return s.F;
    default: throw std::invalid_argument("no column " + std::to_string(c));
    }
}

double binder(const double *mean) { return mean[M4] / (mean[M2] * mean[M2]); }

double susceptibility(const double *mean, double V) { return V * mean[M2]; }

double connected_susceptibility(const double *mean, double V) { return V * (mean[M2] - mean[ABS_M] * mean[ABS_M]); }

double xi_over_L(const double *mean, double V, int L)
{
    const double r = susceptibility(mean, V) / mean[FOURIER];
    return std::sqrt(r - 1) / (2 * std::sin(PI / L)) / L;
}

Autocorrelation autocorrelation(std::vector<double> a)
{
    const std::size_t n = a.size();
    if (n < 2) throw std::invalid_argument("an autocorrelation needs at least two samples");
    double sum = 0, scale = 0;
    for (double v : a) {
        sum += v;
        scale = std::max(scale, std::fabs(v));
    }
    double mean = sum / static_cast<double>(n);
    // A second pass takes out the rounding of the first mean, which would
    // otherwise pass for a variance (and a correlation of 1 at every
    // distance) in a constant series.
    double c = 0;
    for (double v : a) c += v - mean;
    mean += c / static_cast<double>(n);
    for (double &v : a) v -= mean;
    // Gamma(t) = 1/(N - t) sum_i d_i d_{i+t}; rho(t) = Gamma(t)/Gamma(0).
    auto gamma = [&](std::size_t t) {
        double s = 0;
        for (std::size_t i = 0; i + t < n; ++i) s += a[i] * a[i + t];
        return s / static_cast<double>(n - t);
    };
    Autocorrelation r;
    const double g0 = gamma(0);
    if (std::sqrt(g0) <= CONSTANT_ULPS * DBL_EPSILON * scale) return r;
    r.variance = g0;
    double tau = 0.5;
    std::size_t W = 0;
    const std::size_t last = n / 2;
    r.status = Window::NotFound;
    while (W < last) {
        ++W;
        tau += gamma(W) / g0;
        if (static_cast<double>(W) >= WINDOW_FACTOR * tau) {
            r.status = Window::Found;
            break;
        }
    }
    if (tau < 0.5) {
        tau = 0.5;
        r.status = Window::Clamped;
    }
    r.tau = tau;
    r.window = static_cast<long>(W);
    r.tau_error = tau * std::sqrt(2.0 * static_cast<double>(2 * W + 1) / static_cast<double>(n));
    return r;
}

Estimate mean_estimate(const std::string &name, std::vector<double> a)
{
    Estimate e;
    e.name = name;
    double sum = 0;
    for (double v : a) sum += v;
    e.mean = sum / static_cast<double>(a.size());
    const std::size_t n = a.size();
    e.ac = autocorrelation(std::move(a));
    e.error = std::sqrt(e.ac.variance * 2 * e.ac.tau / static_cast<double>(n));
    return e;
}

Analysis analyse(const Series &series)
{
    const std::vector<Sample> &s = series.samples;
    const long n = static_cast<long>(s.size());
    if (n < MIN_BLOCKS)
        throw std::invalid_argument("the analysis needs at least " + std::to_string(MIN_BLOCKS) + " samples, not " +
                                    std::to_string(n));
    // The means in the order of the samples, as the reweighting sums them.
    double mean[COLUMNS], sd[COLUMNS];
    for (int c = 0; c < COLUMNS; ++c) {
        double sum = 0;
        for (const Sample &x : s) sum += column(x, c);
        mean[c] = sum / static_cast<double>(n);
        double q = 0;
        for (const Sample &x : s) q += (column(x, c) - mean[c]) * (column(x, c) - mean[c]);
        sd[c] = std::sqrt(q / static_cast<double>(n));
    }

    Analysis an;
    an.n = n;
    const char *names[] = {"phi^2", "energy", "potential", "|m|", "m^2"};
    for (int c = PHI2; c <= M2; ++c) {
        std::vector<double> a(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) a[i] = column(s[i], c);
        an.rows.push_back(mean_estimate(names[c], std::move(a)));
    }
    an.rows.push_back(derived(Derived{"U4", binder, "<m^2> = 0"}, series, mean, sd));
    const double V = volume(series);
    an.has_lattice = V > 0;
    if (an.has_lattice) {
        an.rows.push_back(derived(Derived{"chi", [V](const double *m) { return susceptibility(m, V); }, ""}, series, mean, sd));
        an.rows.push_back(derived(
            Derived{"chi'", [V](const double *m) { return connected_susceptibility(m, V); }, ""}, series, mean, sd));
        if (series.has_F) {
            const int L = series.L;
            const char *why = mean[FOURIER] == 0 ? "<F> = 0" : "chi/<F> < 1";
            an.rows.push_back(derived(Derived{"xi/L", [V, L](const double *m) { return xi_over_L(m, V, L); }, why}, series,
                                      mean, sd));
        }
    }
    for (const Estimate &e : an.rows)
        if (e.undefined.empty()) an.tau_max = std::max(an.tau_max, e.ac.tau);
    return an;
}

const Estimate *find_row(const Analysis &an, const std::string &name)
{
    for (const Estimate &e : an.rows)
        if (e.name == name) return &e;
    return nullptr;
}

}  // namespace o1hb
