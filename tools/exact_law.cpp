// The exact law of x at one field value by GSL adaptive quadrature: the
// weight scaled by its largest value, integrated cell by cell over the range
// where it is not nil, with the infinite ends by the mapped rules.
#include <algorithm>
#include <cmath>
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
// Step of the walk outward from the outer modes to find that range.
constexpr double RANGE_STEP = 0.05;
// Cells of the cumulative grid.
constexpr int CELLS = 400;
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

struct Params {
    double h, X_max, landa, e_max;
};

double integrand(double x, void *p)
{
    const Params &q = *static_cast<const Params *>(p);
    return std::exp(q.h * (x - q.X_max) - x * x - q.landa * (x * x - 1) * (x * x - 1) - q.e_max);
}

struct GslQuiet {
    gsl_error_handler_t *old;
    GslQuiet() : old(gsl_set_error_handler_off()) {}
    ~GslQuiet() { gsl_set_error_handler(old); }
};

}  // namespace

ExactLaw::ExactLaw(double h, double X_max, double landa) : h_(h), X_max_(X_max), landa_(landa), e_max_(0)
{
    if (!(landa > 0) && landa != 0) throw std::invalid_argument("Landa must be >= 0");
    GslQuiet quiet;
    auto e = [&](double x) { return h * (x - X_max) - x * x - landa * (x * x - 1) * (x * x - 1); };
    const std::vector<double> st = slope_roots(landa, h);
    e_max_ = -INFINITY;
    for (double x : st) e_max_ = std::max(e_max_, e(x));
    lo_ = st.front();
    while (e(lo_) - e_max_ > -NIL_EXPONENT) lo_ -= RANGE_STEP;
    hi_ = st.back();
    while (e(hi_) - e_max_ > -NIL_EXPONENT) hi_ += RANGE_STEP;

    Params p{h_, X_max_, landa_, e_max_};
    gsl_function f{integrand, &p};
    double left, err;
    gsl_integration_qagil(&f, lo_, 0, QUAD_EPSREL, WORKSPACE, workspace(), &left, &err);
    node_.resize(CELLS + 1);
    cum_.resize(CELLS + 1);
    node_[0] = lo_;
    cum_[0] = left;
    for (int i = 1; i <= CELLS; ++i) {
        node_[static_cast<std::size_t>(i)] = i == CELLS ? hi_ : lo_ + (hi_ - lo_) * i / CELLS;
        cum_[static_cast<std::size_t>(i)] =
            cum_[static_cast<std::size_t>(i) - 1] + integral(node_[static_cast<std::size_t>(i) - 1], node_[static_cast<std::size_t>(i)]);
    }
    double right;
    gsl_integration_qagiu(&f, hi_, 0, QUAD_EPSREL, WORKSPACE, workspace(), &right, &err);
    const double z = cum_.back() + right;
    for (double &c : cum_) c /= z;
    log_z_ = std::log(z) + e_max_;
}

double ExactLaw::scaled(double x) const
{
    Params p{h_, X_max_, landa_, e_max_};
    return integrand(x, &p);
}

double ExactLaw::integral(double a, double b) const
{
    if (!(a < b)) return 0;
    GslQuiet quiet;
    Params p{h_, X_max_, landa_, e_max_};
    gsl_function f{integrand, &p};
    double v, err;
    gsl_integration_qags(&f, a, b, 0, QUAD_EPSREL, WORKSPACE, workspace(), &v, &err);
    return v;
}

double ExactLaw::density(double x) const { return std::exp(std::log(scaled(x)) + e_max_ - log_z_); }

double ExactLaw::cdf(double x) const
{
    if (x <= lo_) return x < lo_ ? 0.0 : cum_[0];
    if (x >= hi_) return 1.0;
    const std::size_t i = static_cast<std::size_t>(std::upper_bound(node_.begin(), node_.end(), x) - node_.begin()) - 1;
    return cum_[i] + integral(node_[i], x) * std::exp(e_max_ - log_z_);
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
