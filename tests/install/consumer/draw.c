/* draw TABLE: opens the table for Landa = 1, draws at a field value of each
 * sign and, with the fallback, beyond H_max; prints the numbers.  Exit status
 * 0 when every call succeeds. */
#include <stdio.h>

#include <o1_phi4/o1_sampler_c.h>

int main(int argc, char **argv)
{
    o1_sampler *s;
    char err[256];
    double x[3];
    if (argc != 2 || o1_sampler_open(argv[1], 1.0, 1, &s, err, sizeof err) != O1_OK) {
        fprintf(stderr, "draw: %s\n", argc == 2 ? err : "usage: draw TABLE");
        return 1;
    }
    const double h_max = o1_sampler_h_max(s);
    int bad = o1_sampler_draw(s, 0.5 * h_max, &x[0]) != O1_OK || o1_sampler_draw(s, -0.5 * h_max, &x[1]) != O1_OK ||
              o1_sampler_set_fallback(s, 1) != O1_OK || o1_sampler_draw(s, 1.5 * h_max, &x[2]) != O1_OK ||
              o1_sampler_fallback_draws(s) != 1;
    printf("%.6f %.6f %.6f\n", x[0], x[1], x[2]);
    o1_sampler_free(s);
    return bad;
}
