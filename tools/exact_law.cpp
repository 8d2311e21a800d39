// The exact law of x at one field value by GSL adaptive quadrature: the
// weight scaled by its largest value, integrated cell by cell over the range
// where it is not nil, with the infinite ends by the mapped rules.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_roots.h>

#include "check.h"

namespace o1check {

namespace {

// The weight is taken as nil where it is below exp(-NIL_EXPONENT) of its top.
constexpr double NIL_EXPONENT = 700.0;
// Step of the walk outward from the outer modes to find that range, and the
// most steps taken (even at Landa = 0 the weight falls by NIL_EXPONENT
// within 27 units of its top).
constexpr double RANGE_STEP = 0.05;
constexpr long RANGE_STEPS_MAX = 100000;
// Cells of the cumulative grid.
constexpr int CELLS = 400;
// Cells of each piece between stationary points in log_weight_integral.
constexpr int PIECE_CELLS = 8;
// Quadrature and root accuracy, and sizes.
constexpr double QUAD_EPSREL = 1e-12;
constexpr std::size_t WORKSPACE = 1000;
constexpr double ROOT_EPS = 1e-14;
constexpr int ROOT_ITER = 200;

struct WorkspaceDeleter {
    void operator()(gsl_integration_workspace *w) const { gsl_integration_workspace_free(w); }
};
using Workspace = std::unique_ptr<gsl_integration_workspace, WorkspaceDeleter>;

// One workspace per thread, made on first use.
gsl_integration_workspace *workspace()
{
    thread_local Workspace w(gsl_integration_workspace_alloc(WORKSPACE));
    return w.get();
}

// The exponent without its shift, e0(x) = h*x - x*x - landa*(x*x - 1)^2: the
// log weight is e0(x) - h*X_max, and the shift, however large, only enters
// the log of the integral.
// (x - 0 is x for every x, so this is h*x - ... to the bit.)
double e0(double h, double landa, double x) { return log_weight(h, 0.0, landa, x); }

struct Params {
    double h, landa, e_top;
};

double integrand(double x, void *p)
{
    const Params &q = *static_cast<const Params *>(p);
    return std::exp(e0(q.h, q.landa, x) - q.e_top);
}

struct GslQuiet {
    gsl_error_handler_t *old;
    GslQuiet() : old(gsl_set_error_handler_off()) {}
    ~GslQuiet() { gsl_set_error_handler(old); }
};

[[noreturn]] void fail(const char *what, double h, double X_max, double landa)
{
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s (h=%.10g, X_max=%.10g, Landa=%.10g)", what, h, X_max, landa);
    throw std::runtime_error(buf);
}

// The top e_top of e0 and the range [lo, hi] outside which e0 lies more than
// NIL_EXPONENT below it, by a walk outward from the outer stationary points.
struct Range {
    double e_top, lo, hi;
};
Range range_of(double h, double X_max, double landa)
{
    if (!(landa >= 0) || !std::isfinite(landa) || !std::isfinite(h) || !std::isfinite(X_max))
        fail("the weight needs finite h, X_max and Landa >= 0", h, X_max, landa);
    const std::vector<double> st = stationary_points(landa, h);
    Range r{-INFINITY, st.front(), st.back()};
    for (double x : st) r.e_top = std::max(r.e_top, e0(h, landa, x));
    if (!std::isfinite(r.e_top) || !std::isfinite(r.lo) || !std::isfinite(r.hi))
        fail("the weight has no finite maximum", h, X_max, landa);
    long steps = 0;
    while (e0(h, landa, r.lo) - r.e_top > -NIL_EXPONENT && ++steps <= RANGE_STEPS_MAX) r.lo -= RANGE_STEP;
    while (e0(h, landa, r.hi) - r.e_top > -NIL_EXPONENT && ++steps <= RANGE_STEPS_MAX) r.hi += RANGE_STEP;
    if (steps > RANGE_STEPS_MAX) fail("the weight does not fall off", h, X_max, landa);
    return r;
}

// Integrals of exp(e0 - e_top) below lo and above hi.
void tails(Params p, double lo, double hi, double &left, double &right)
{
    gsl_function f{integrand, &p};
    double err;
    gsl_integration_qagil(&f, lo, 0, QUAD_EPSREL, WORKSPACE, workspace(), &left, &err);
    gsl_integration_qagiu(&f, hi, 0, QUAD_EPSREL, WORKSPACE, workspace(), &right, &err);
}

// log Z from the integral z of exp(e0 - e_top): finite or a failure.
double log_z(double z, const Range &r, double h, double X_max, double landa)
{
    const double v = std::log(z) + r.e_top - h * X_max;
    if (!(z > 0) || !std::isfinite(v)) fail("the integral of the weight is zero or not finite", h, X_max, landa);
    return v;
}

}  // namespace

double log_weight_integral(double h, double X_max, double landa)
{
    GslQuiet quiet;
    const Range r = range_of(h, X_max, landa);
    Params p{h, landa, r.e_top};
    // Break points: the stationary points, each piece between them and the
    // ends cut in equal cells, so that no narrow peak escapes the rule.
    std::vector<double> stops{r.lo};
    for (double x : stationary_points(landa, h)) stops.push_back(x);
    stops.push_back(r.hi);
    std::vector<double> pts;
    for (std::size_t i = 0; i + 1 < stops.size(); ++i)
        for (int k = 0; k < PIECE_CELLS; ++k) pts.push_back(stops[i] + (stops[i + 1] - stops[i]) * k / PIECE_CELLS);
    pts.push_back(r.hi);
    gsl_function f{integrand, &p};
    double left, right, mid, err;
    tails(p, r.lo, r.hi, left, right);
    gsl_integration_qagp(&f, pts.data(), pts.size(), 0, QUAD_EPSREL, WORKSPACE, workspace(), &mid, &err);
    return log_z(left + mid + right, r, h, X_max, landa);
}

ExactLaw::ExactLaw(double h, double X_max, double landa) : h_(h), landa_(landa)
{
    GslQuiet quiet;
    const Range r = range_of(h, X_max, landa);
    e_top_ = r.e_top;
    lo_ = r.lo;
    hi_ = r.hi;
    double left, right;
    tails(Params{h_, landa_, e_top_}, lo_, hi_, left, right);
    node_.resize(CELLS + 1);
    cum_.resize(CELLS + 1);
    node_[0] = lo_;
    cum_[0] = left;
    for (int i = 1; i <= CELLS; ++i) {
        node_[static_cast<std::size_t>(i)] = i == CELLS ? hi_ : lo_ + (hi_ - lo_) * i / CELLS;
        cum_[static_cast<std::size_t>(i)] =
            cum_[static_cast<std::size_t>(i) - 1] + integral(node_[static_cast<std::size_t>(i) - 1], node_[static_cast<std::size_t>(i)]);
    }
    const double z = cum_.back() + right;
    log_z_ = log_z(z, r, h, X_max, landa);
    for (double &c : cum_) c /= z;
    log_scale_ = std::log(z);
}

double ExactLaw::scaled(double x) const
{
    Params p{h_, landa_, e_top_};
    return integrand(x, &p);
}

double ExactLaw::integral(double a, double b) const
{
    if (!(a < b)) return 0;
    GslQuiet quiet;
    Params p{h_, landa_, e_top_};
    gsl_function f{integrand, &p};
    double v, err;
    gsl_integration_qags(&f, a, b, 0, QUAD_EPSREL, WORKSPACE, workspace(), &v, &err);
    return v;
}

double ExactLaw::density(double x) const { return std::exp(e0(h_, landa_, x) - e_top_ - log_scale_); }

double ExactLaw::cdf(double x) const
{
    if (x <= lo_) return x < lo_ ? 0.0 : cum_[0];
    if (x >= hi_) return 1.0;
    const std::size_t i = static_cast<std::size_t>(std::upper_bound(node_.begin(), node_.end(), x) - node_.begin()) - 1;
    return cum_[i] + integral(node_[i], x) * std::exp(-log_scale_);
}

namespace {

struct RootParams {
    const ExactLaw *law;
    double p;
};

double cdf_gap(double x, void *q)
{
    const RootParams &r = *static_cast<const RootParams *>(q);
    return r.law->cdf(x) - r.p;
}

}  // namespace

double ExactLaw::quantile(double p) const
{
    if (!(p > cum_[0])) return lo_;
    if (!(p < cum_.back())) return hi_;
    const std::size_t i = static_cast<std::size_t>(std::upper_bound(cum_.begin(), cum_.end(), p) - cum_.begin());
    double a = node_[i - 1], b = node_[i];
    GslQuiet quiet;
    RootParams rp{this, p};
    gsl_function f{cdf_gap, &rp};
    gsl_root_fsolver *s = gsl_root_fsolver_alloc(gsl_root_fsolver_brent);
    gsl_root_fsolver_set(s, &f, a, b);
    double x = 0.5 * (a + b);
    for (int it = 0; it < ROOT_ITER; ++it) {
        if (gsl_root_fsolver_iterate(s) != GSL_SUCCESS) break;
        x = gsl_root_fsolver_root(s);
        a = gsl_root_fsolver_x_lower(s);
        b = gsl_root_fsolver_x_upper(s);
        if (gsl_root_test_interval(a, b, ROOT_EPS, ROOT_EPS) == GSL_SUCCESS) break;
    }
    gsl_root_fsolver_free(s);
    return x;
}

}  // namespace o1check
