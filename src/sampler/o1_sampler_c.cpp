// The C interface: a handle holding a Sampler and its generator; every C++
// exception stops at this boundary and becomes a status.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "sampler/o1_sampler_c.h"
#include "sampler/sampler.h"

struct o1_sampler {
    o1phi4::Sampler sampler;
    o1phi4::Xoshiro256ss rng;
    o1phi4::DrawStats stats;
    bool fallback;  // draw field values the table does not serve without it
};

namespace {

void set_error(char *err, size_t err_size, const char *text)
{
    if (err && err_size > 0) std::snprintf(err, err_size, "%s", text);
}

o1_status status_of(o1phi4::FieldError::Kind k)
{
    switch (k) {
    case o1phi4::FieldError::NotANumber: return O1_ERR_NAN;
    case o1phi4::FieldError::BelowH0: return O1_ERR_BELOW_H0;
    case o1phi4::FieldError::AboveHmax: return O1_ERR_ABOVE_H_MAX;
    case o1phi4::FieldError::MissingIndex: return O1_ERR_MISSING_INDEX;
    }
    return O1_ERR_ARGUMENT;
}

}  // namespace

extern "C" {

o1_status o1_sampler_open(const char *path, double landa, uint64_t seed, o1_sampler **out, char *err, size_t err_size)
{
    if (out) *out = nullptr;
    if (!path || !out) {
        set_error(err, err_size, "o1_sampler_open: null argument");
        return O1_ERR_ARGUMENT;
    }
    if (!(landa >= 0) || !(landa <= o1phi4::MAX_LANDA)) {
        set_error(err, err_size, "o1_sampler_open: Landa must be a number from 0 to 1e300");
        return O1_ERR_ARGUMENT;
    }
    try {
        *out = new o1_sampler{o1phi4::Sampler(o1phi4::load_table(path), landa), o1phi4::Xoshiro256ss(seed), {}, false};
        set_error(err, err_size, "");
        return O1_OK;
    } catch (const o1phi4::TableError &e) {
        set_error(err, err_size, e.what());
        return O1_ERR_TABLE;
    } catch (const std::bad_alloc &) {
        set_error(err, err_size, "o1_sampler_open: out of memory");
        return O1_ERR_MEMORY;
    } catch (const std::exception &e) {
        set_error(err, err_size, e.what());
        return O1_ERR_TABLE;
    }
}

void o1_sampler_free(o1_sampler *s) { delete s; }

void o1_sampler_seed(o1_sampler *s, uint64_t seed)
{
    if (!s) return;
    s->rng.seed(seed);
    s->stats = o1phi4::DrawStats();
}

o1_status o1_sampler_set_fallback(o1_sampler *s, int on)
{
    if (!s) return O1_ERR_ARGUMENT;
    s->fallback = on != 0;
    return O1_OK;
}

o1_status o1_sampler_draw(o1_sampler *s, double h, double *x) { return o1_sampler_draw_n(s, h, x, 1); }

o1_status o1_sampler_draw_n(o1_sampler *s, double h, double *x, size_t n)
{
    if (!s || (!x && n > 0)) return O1_ERR_ARGUMENT;
    int m;
    o1phi4::FieldError::Kind k;
    const bool table = s->sampler.try_histogram(h, m, &k);
    if (!table && !(s->fallback && std::isfinite(h))) return status_of(k);
    try {
        if (table)
            for (size_t i = 0; i < n; ++i) x[i] = s->sampler.draw_from(m, h, s->rng, s->stats.trials);
        else
            for (size_t i = 0; i < n; ++i, ++s->stats.fallback) x[i] = s->sampler.draw_fallback(h, s->rng, s->stats.trials);
    } catch (const std::exception &) {
        return O1_ERR_TRIALS;
    }
    return O1_OK;
}

uint64_t o1_sampler_trials(const o1_sampler *s) { return s ? s->stats.trials : 0; }
uint64_t o1_sampler_fallback_draws(const o1_sampler *s) { return s ? s->stats.fallback : 0; }

int o1_sampler_histogram(const o1_sampler *s, double h, o1_status *status)
{
    int m = -1;
    o1phi4::FieldError::Kind k;
    o1_status st = O1_OK;
    if (!s) st = O1_ERR_ARGUMENT;
    else if (!s->sampler.try_histogram(h, m, &k)) {
        st = status_of(k);
        m = -1;
    }
    if (status) *status = st;
    return m;
}

double o1_sampler_h0(const o1_sampler *s) { return s ? s->sampler.H0() : 0; }
double o1_sampler_h_max(const o1_sampler *s) { return s ? s->sampler.H_max() : 0; }
int o1_sampler_nd_poi(const o1_sampler *s) { return s ? s->sampler.nd_poi() : 0; }
int o1_sampler_n_histograms(const o1_sampler *s) { return s ? s->sampler.table().n_histogram + 1 : 0; }

const char *o1_status_text(o1_status status)
{
    switch (status) {
    case O1_OK: return "ok";
    case O1_ERR_TABLE: return "the table file cannot be read or is malformed";
    case O1_ERR_ARGUMENT: return "invalid argument";
    case O1_ERR_NAN: return "the field value is not a number";
    case O1_ERR_BELOW_H0: return "the field value is below H0";
    case O1_ERR_ABOVE_H_MAX: return "the field value is not below H_max";
    case O1_ERR_MISSING_INDEX: return "the field index of the field value is missing from the index table";
    case O1_ERR_TRIALS: return "no acceptance within the trial limit";
    case O1_ERR_MEMORY: return "out of memory";
    }
    return "unknown status";
}

}  // extern "C"
