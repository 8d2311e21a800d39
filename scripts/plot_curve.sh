#!/usr/bin/env bash
# Draws the diagnostic file of a run (the weight P(x) and the majorant f(x) of
# the last histogram) into one PNG with two panels: linear and logarithmic y.
#
#   scripts/plot_curve.sh [O1_g1_f1_Phi4.res] [out.png]
#
# The defaults are O1_g1_f1_Phi4.res in the current folder and the same name
# with .png.  Needs gnuplot (gnuplot-nox is enough).
set -euo pipefail

in=${1:-O1_g1_f1_Phi4.res}
out=${2:-${in%.res}.png}

command -v gnuplot >/dev/null 2>&1 || { echo "plot_curve.sh: gnuplot is not installed" >&2; exit 1; }
[ -r "$in" ] || { echo "plot_curve.sh: cannot read $in" >&2; exit 1; }
grep -qv '^#' "$in" || { echo "plot_curve.sh: $in holds no curve" >&2; exit 1; }

# pngcairo draws smoother lines; the plain png terminal will do otherwise.
if gnuplot -e 'set terminal' 2>&1 | grep -qw pngcairo; then
  term="pngcairo size 900,900 font ',10'"
else
  term="png size 900,900"
fi

# The first header line names the histogram: H, Hsup and the two anchors.
title=$(head -n 1 "$in" | sed -e 's/^#[[:space:]]*//' -e 's/[[:space:]]*$//' -e 's/["\\]//g')
quote() { printf "'%s'" "${1//\'/\'\'}"; }

gnuplot <<GP
set terminal $term
set output $(quote "$out")
set datafile commentschars '#'
set multiplot layout 2,1 title "Last histogram: $title"
set xlabel 'x'
set xrange [-3:6]
set key top right
set grid
set title 'weight and majorant, linear scale'
plot $(quote "$in") using 1:2 with lines lw 2 title 'weight P(x)', \
     '' using 1:3 with lines lw 1 title 'majorant f(x)'
set title 'logarithmic scale (zero values left out)'
set logscale y
set format y '10^{%L}'
plot $(quote "$in") using 1:(\$2 > 0 ? \$2 : 1/0) with lines lw 2 title 'weight P(x)', \
     '' using 1:(\$3 > 0 ? \$3 : 1/0) with lines lw 1 title 'majorant f(x)'
unset multiplot
GP

[ -s "$out" ] || { echo "plot_curve.sh: gnuplot wrote no picture to $out" >&2; exit 1; }
echo "$out"
