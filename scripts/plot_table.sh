#!/usr/bin/env bash
# Draws pictures of a table file (O1_Phi4.res) into PNG files:
#
#   scripts/plot_table.sh histogram TABLE LANDA (-m M | -H h) [-o OUT.png]
#     one histogram (number M, or the one the index table sends h to) against
#     its weight at the lowest and highest field value it serves: linear and
#     logarithmic y, and the ratio majorant/weight with the line 1 marked.
#   scripts/plot_table.sh loss TABLE LANDA [-n N] [-o OUT.png]
#     the acceptance the table predicts, and its loss, across [H0, H_max),
#     with the loss asked for marked.
#
# LANDA is the coupling the table was made for (the file does not hold it).
# The default OUT is TABLE without .res, then _histogram_mM.png,
# _histogram_Hh.png or _loss.png.
# The numbers drawn are kept beside the picture, in OUT with .dat.  Needs
# gnuplot (gnuplot-nox is enough) and the built o1_phi4_plot: the variable
# O1_PHI4_PLOT, else build/o1_phi4_plot of this checkout, else the PATH.
set -euo pipefail

die() { echo "plot_table.sh: $*" >&2; exit 1; }
usage() { sed -n '4,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

[ $# -ge 3 ] || usage
kind=$1 table=$2 landa=$3
shift 3
case $kind in histogram | loss) ;; *) usage ;; esac
out=
args=()
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case $1 in
    -o) out=$2 ;;
    -m | -H | -n) args+=("$1" "$2") ;;
    *) usage ;;
  esac
  shift 2
done

tool=${O1_PHI4_PLOT:-$(dirname "$0")/../build/o1_phi4_plot}
[ -x "$tool" ] || tool=$(command -v o1_phi4_plot) || die "o1_phi4_plot is not built (cmake --build build --target o1_phi4_plot)"
command -v gnuplot >/dev/null 2>&1 || die "gnuplot is not installed"
[ -r "$table" ] || die "cannot read $table"

if [ -z "$out" ]; then
  if [ "$kind" = loss ]; then
    out=${table%.res}_loss.png
  else
    [ ${#args[@]} -eq 2 ] || usage
    out=${table%.res}_histogram_${args[0]#-}${args[1]}.png
  fi
fi
dat=${out%.png}.dat
"$tool" "$kind" "$table" "$landa" "${args[@]}" >"$dat" || { rm -f "$dat"; die "o1_phi4_plot failed for $table"; }

# pngcairo draws smoother lines; the plain png terminal will do otherwise.
size=1000,1100
[ "$kind" = loss ] && size=1000,650
if gnuplot -e 'set terminal' 2>&1 | grep -qw pngcairo; then
  term="pngcairo size $size font ',10'"
else
  term="png size $size"
fi
quote() { printf "'%s'" "${1//\'/\'\'}"; }
# The comment lines before the column names are the picture's title.
title=$(sed -n -e '/^# columns:/q' -e '/^# loss asked for:/d' -e 's/^# *//p' "$dat" | tr -d '"\\' | sed ':a;N;s/\n/\\n/;ba')

if [ "$kind" = histogram ]; then
  gnuplot <<GP
set terminal $term
set output $(quote "$out")
set datafile commentschars '#'
set multiplot layout 3,1 title "$title" noenhanced
set xlabel 'x'
set grid
set key top left
# Values are stored as log10: the linear panel shows them over 10^S, S the
# exponent of the largest weight.
stats $(quote "$dat") using 4 nooutput
S1 = STATS_max
stats $(quote "$dat") using 5 nooutput
S = floor(S1 > STATS_max ? S1 : STATS_max)
set title 'majorant and weight, linear scale'
set ylabel sprintf('value / 10^{%d}', S)
plot $(quote "$dat") using 1:(10**(\$3 - S)) with lines lw 1.5 lc rgb '#c00000' title 'majorant', \
     '' using 1:(10**(\$4 - S)) with lines lw 1.5 lc rgb '#0060c0' title 'weight at the lowest h served', \
     '' using 1:(10**(\$5 - S)) with lines lw 1.5 dt 2 lc rgb '#008000' title 'weight at the highest h served'
set title 'logarithmic scale'
set key bottom center
set ylabel 'value'
set format y '10^{%g}'
plot $(quote "$dat") using 1:3 with lines lw 1.5 lc rgb '#c00000' title 'majorant', \
     '' using 1:4 with lines lw 1.5 lc rgb '#0060c0' title 'weight at the lowest h served', \
     '' using 1:5 with lines lw 1.5 dt 2 lc rgb '#008000' title 'weight at the highest h served'
set title 'majorant / weight (below 1: the table is no majorant there)'
set ylabel 'ratio'
set format y '%g'
set logscale y
set key top center
stats $(quote "$dat") using (\$6 < \$7 ? \$6 : \$7) nooutput
set yrange [(STATS_min < 0.5 ? STATS_min / 2 : 0.5) : 100]
set arrow from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb 'black'
plot $(quote "$dat") using 1:6 with lines lw 1.5 lc rgb '#0060c0' title 'at the lowest h served', \
     '' using 1:7 with lines lw 1.5 dt 2 lc rgb '#008000' title 'at the highest h served'
unset multiplot
GP
else
  asked=$(sed -n 's/^# loss asked for: //p' "$dat")
  [ -n "$asked" ] || die "$dat names no loss asked for"
  gnuplot <<GP
set terminal $term
set output $(quote "$out")
set datafile commentschars '#'
set title "$title" noenhanced
set xlabel 'field value h'
set ylabel 'acceptance = weight integral / majorant area'
set y2label 'loss = 1 - acceptance (%)'
set ytics nomirror
# The right axis is the left one, labelled with the loss in per cent.
set link y2
set y2tics ('0' 1)
do for [L = 5:100:5] { set y2tics add (sprintf('%d', L) 1 - L / 100.0) }
set grid
set key bottom left
A = 1 - $asked / 100.0
set arrow from graph 0, first A to graph 1, first A nohead lw 2 dt 2 lc rgb '#c00000'
set label sprintf('loss asked for: %g %%', $asked) at graph 0.01, first A offset 0, 0.7 tc rgb '#c00000'
set arrow from graph 0, first 1 to graph 1, first 1 nohead lw 1 lc rgb 'black'
set label 'acceptance 1: above it the table is no majorant' at graph 0.01, first 1 offset 0, 0.7
stats $(quote "$dat") using 3 nooutput
set yrange [(STATS_min < A ? STATS_min : A) - 0.03 : (STATS_max > 1 ? STATS_max : 1) + 0.03]
plot $(quote "$dat") using 1:3 with lines lw 1.5 lc rgb '#0060c0' title 'acceptance the table predicts'
GP
fi

[ -s "$out" ] || die "gnuplot wrote no picture to $out"
echo "$out"
