/* C interface of the reference sampler for the table file O1_Phi4.res.
 *
 *   char err[256];
 *   o1_sampler *s;
 *   if (o1_sampler_open("O1_Phi4.res", 1.0, 12345, &s, err, sizeof err) != O1_OK)
 *       { fprintf(stderr, "%s\n", err); exit(1); }
 *   double x;
 *   if (o1_sampler_draw(s, h, &x) != O1_OK) ...
 *   o1_sampler_free(s);
 *
 * A handle owns the table and one xoshiro256** generator; it is not safe to
 * draw from one handle in two threads at once (open one handle per thread).
 *
 * Field values: the table serves h in [H0, H_max) and, since the weight is
 * symmetric (P(x; -h) = P(-x; h)), a negative h whose mirror -h it serves
 * (drawn as -x for -h): with H0 >= 0, every h with |h| in [H0, H_max).  Any
 * other finite h (|h| >= H_max, |h| < H0, a field index missing from the
 * index table) is an error status, or, after o1_sampler_set_fallback(s, 1),
 * drawn exactly without the table (slower: a Gaussian envelope).
 */
#ifndef O1_SAMPLER_C_H
#define O1_SAMPLER_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct o1_sampler o1_sampler;

typedef enum o1_status {
    O1_OK = 0,
    O1_ERR_TABLE = 1,          /* the file cannot be read, is malformed, or fails the check for landa */
    O1_ERR_ARGUMENT = 2,       /* null pointer, or Landa < 0 / not finite */
    O1_ERR_NAN = 3,            /* h is NaN */
    O1_ERR_BELOW_H0 = 4,       /* h < H0 (for a mirrored h: -h < H0) */
    O1_ERR_ABOVE_H_MAX = 5,    /* h >= H_max (mirrored: -h >= H_max), or h infinite */
    O1_ERR_MISSING_INDEX = 6,  /* the field index of h is not in the index table */
    O1_ERR_TRIALS = 7,         /* no acceptance within the trial limit */
    O1_ERR_MEMORY = 8
} o1_status;

/* Loads the table file at path (a regular file) for the coupling landa,
 * checks what the draws rely on (the C++ check_table: tail areas, the
 * majorant over the field values each histogram serves, X_max the mode for
 * landa) and seeds the generator.  On success *out is a new handle; on
 * failure *out is NULL and, when err is not NULL, err receives a message
 * (file, line, histogram, what is wrong), truncated to err_size - 1
 * characters. */
o1_status o1_sampler_open(const char *path, double landa, uint64_t seed, o1_sampler **out,
                          char *err, size_t err_size);
/* Releases the handle (NULL is allowed). */
void o1_sampler_free(o1_sampler *s);

/* Restarts the generator from seed and sets both counters to 0. */
void o1_sampler_seed(o1_sampler *s, uint64_t seed);

/* on != 0: draw field values the table does not serve with the exact
 * table-free fallback instead of failing (NaN and infinite h still fail);
 * on == 0 (the default after open): fail with their status.  O1_ERR_ARGUMENT
 * when s is NULL. */
o1_status o1_sampler_set_fallback(o1_sampler *s, int on);

/* One x for field value h (see the top of this file).  *x is untouched on
 * failure. */
o1_status o1_sampler_draw(o1_sampler *s, double h, double *x);
/* n values for one h into x[0..n-1] (the histogram is looked up once).  On
 * failure none or only part of x is written. */
o1_status o1_sampler_draw_n(o1_sampler *s, double h, double *x, size_t n);

/* Proposals made since open or the last seed (accepted draws / trials is the
 * measured acceptance rate). */
uint64_t o1_sampler_trials(const o1_sampler *s);
/* Draws made by the fallback since open or the last seed. */
uint64_t o1_sampler_fallback_draws(const o1_sampler *s);

/* The histogram number serving h (for a mirrored h the one serving -h), or
 * -1 with *status set (status may be NULL); the fallback is no histogram. */
int o1_sampler_histogram(const o1_sampler *s, double h, o1_status *status);

/* Table constants. */
double o1_sampler_h0(const o1_sampler *s);
double o1_sampler_h_max(const o1_sampler *s);
int o1_sampler_nd_poi(const o1_sampler *s);
int o1_sampler_n_histograms(const o1_sampler *s); /* N + 1 */

/* A short English text for a status. */
const char *o1_status_text(o1_status status);

#ifdef __cplusplus
}
#endif

#endif
