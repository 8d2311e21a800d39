/* The C interface used from C: open, draw, reseed, batch, errors.  Returns
 * 0 when all is well, else the number of the first failed step (with a note
 * in msg). */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "sampler/o1_sampler_c.h"

int c_api_round_trip(const char *path, char *msg, size_t msg_size)
{
    o1_sampler *s;
    char err[256];
    double x[64], y;
    size_t i;
    int step = 0;

    if (o1_sampler_open(path, 1.0, 7, &s, err, sizeof err) != O1_OK) {
        snprintf(msg, msg_size, "open: %s", err);
        return 1;
    }
    if (o1_sampler_nd_poi(s) != 104 || o1_sampler_n_histograms(s) != 49 || o1_sampler_h0(s) != 0.0 ||
        o1_sampler_h_max(s) != 5.0)
        step = 2;
    /* The same seed gives the same numbers, one at a time or as a batch. */
    else if (o1_sampler_draw_n(s, 1.0, x, 64) != O1_OK)
        step = 3;
    else {
        o1_sampler_seed(s, 7);
        for (i = 0; i < 64 && step == 0; ++i)
            if (o1_sampler_draw(s, 1.0, &y) != O1_OK || y != x[i]) step = 4;
        if (step == 0 && (o1_sampler_trials(s) < 64 || o1_sampler_trials(s) > 128)) step = 5;
    }
    /* Field values it does not serve leave x alone and say why; a negative
     * one is served through its mirror. */
    if (step == 0) {
        o1_status st;
        y = 42;
        if (o1_sampler_draw(s, -5.0, &y) != O1_ERR_ABOVE_H_MAX || o1_sampler_draw(s, 5.0, &y) != O1_ERR_ABOVE_H_MAX ||
            o1_sampler_draw(s, NAN, &y) != O1_ERR_NAN || y != 42)
            step = 6;
        else if (o1_sampler_histogram(s, 4.999, &st) != 47 || st != O1_OK || o1_sampler_histogram(s, -4.999, &st) != 47 ||
                 st != O1_OK || o1_sampler_histogram(s, 6.0, &st) != -1 || st != O1_ERR_ABOVE_H_MAX)
            step = 7;
        else if (o1_sampler_draw(NULL, 1.0, &y) != O1_ERR_ARGUMENT || o1_sampler_draw(s, 1.0, NULL) != O1_ERR_ARGUMENT ||
                 o1_sampler_set_fallback(NULL, 1) != O1_ERR_ARGUMENT)
            step = 8;
    }
    /* With the fallback on, the same field values are drawn and counted, but
     * NaN and infinity are still refused. */
    if (step == 0) {
        o1_sampler_set_fallback(s, 1);
        if (o1_sampler_draw(s, -5.0, &y) != O1_OK || o1_sampler_draw_n(s, 7.5, x, 3) != O1_OK ||
            o1_sampler_fallback_draws(s) != 4 || o1_sampler_draw(s, INFINITY, &y) != O1_ERR_ABOVE_H_MAX ||
            o1_sampler_draw(s, NAN, &y) != O1_ERR_NAN || o1_sampler_draw(s, 1.0, &y) != O1_OK ||
            o1_sampler_fallback_draws(s) != 4)
            step = 12;
        o1_sampler_seed(s, 1);
        if (step == 0 && o1_sampler_fallback_draws(s) != 0) step = 13;
        o1_sampler_set_fallback(s, 0);
        if (step == 0 && o1_sampler_draw(s, 7.5, &y) != O1_ERR_ABOVE_H_MAX) step = 14;
    }
    o1_sampler_free(s);
    o1_sampler_free(NULL);
    if (step) {
        snprintf(msg, msg_size, "step %d failed", step);
        return step;
    }
    /* A file that cannot be opened, and a Landa the weight cannot have. */
    if (o1_sampler_open("/nonexistent/t.res", 1.0, 1, &s, err, sizeof err) != O1_ERR_TABLE || s != NULL ||
        strstr(err, "/nonexistent/t.res") == NULL) {
        snprintf(msg, msg_size, "bad path: %s", err);
        return 9;
    }
    if (o1_sampler_open(path, -1.0, 1, &s, NULL, 0) != O1_ERR_ARGUMENT || s != NULL) {
        snprintf(msg, msg_size, "negative Landa accepted");
        return 10;
    }
    if (strcmp(o1_status_text(O1_ERR_MISSING_INDEX), o1_status_text(O1_OK)) == 0) {
        snprintf(msg, msg_size, "status texts");
        return 11;
    }
    return 0;
}
