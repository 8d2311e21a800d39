#!/usr/bin/env bash
# The finite-size-scaling runs behind docs/heatbath.md, "At the critical
# point": the phi-four model in d = 3 at landa = 1.1, beta = 0.3750966, with
# the heat bath of the tables and one Swendsen-Wang update per sweep, at
# L = 8, 12, 16, 24 (one thread each, one run after the other); then U4 and
# xi_2nd/L with their errors, U4 reweighted over a range of beta around the
# run's, the crossings of the sizes L and 2L, and a PNG of the reweighted U4.
#
#   bash scripts/heatbath_fss.sh [FOLDER]
#
# Builds o1_phi4 and o1_phi4_heatbath (Release, in build/) and copies them to
# FOLDER (default: a new folder under /tmp), so that a rebuild during the runs
# changes nothing; makes the table there, runs, and prints the tables of the
# document (markdown) on stdout; the series (binary), summaries, reweightings
# and the picture u4_crossing.png stay in FOLDER.  In the environment: SIZES
# (the lattice sizes), SHORTEN (divides every run's length, e.g. 100 for a
# check of the script in a minute), REWEIGHT (B_MIN:B_MAX:N of the
# reweighting).  The default lengths take about half an hour of one core.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

landa=1.1
beta=0.3750966
sizes=${SIZES:-8 12 16 24}
shorten=${SHORTEN:-1}
reweight=${REWEIGHT:-0.3740:0.3762:22}
# Published limits at this landa (finite-size scaling of this action).
u4_limit=1.6036
xi_limit=0.6431
table_input='1.1\n0\n5\n10\n1\n'   # Landa, H0, H_max, loss in per cent, go
# Measured sweeps per size: about the same error at every size for a CPU time
# that grows with the lattice.
sweeps_of() {
    case $1 in
    8 | 12) echo $((500000 / shorten)) ;;
    16) echo $((600000 / shorten)) ;;
    *) echo $((1200000 / shorten)) ;;
    esac
}
therm=$((20000 / shorten))

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target o1_phi4 o1_phi4_heatbath >/dev/null

out=${1:-$(mktemp -d /tmp/heatbath_fss_XXXXXX)}
mkdir -p "$out/bin"
cp build/o1_phi4 build/o1_phi4_heatbath "$out/bin/"
cd "$out"
hb=$out/bin/o1_phi4_heatbath
start=$(date +%s)
printf "$table_input" | bin/o1_phi4 >generator.log

for L in $sizes; do
    before=$(cut -d' ' -f1 /proc/loadavg)
    "$hb" --landa $landa --beta $beta --size "$L" --therm "$therm" --sweeps "$(sweeps_of "$L")" --sw 1 \
        --seed "$L"7 --threads 1 --series "fss_L$L.bin" --series-format binary --replace >"fss_L$L.txt" 2>/dev/null
    echo "load: $before / $(cut -d' ' -f1 /proc/loadavg)" >>"fss_L$L.txt"
    "$hb" --analyse "fss_L$L.bin" --reweight "$reweight" >"rw_L$L.txt"
    # beta U4 error xi/L error, the points the reweighting trusts.
    awk '$1 ~ /^0\./ && NF == 10 { print $1, $2, $3, $8, $9 }' "rw_L$L.txt" >"rw_L$L.dat"
done
wall=$(($(date +%s) - start))

# ---------------------------------------------------------------- tables

value() { awk -v o="$2" -v c="$3" '$1 == o { print $c; exit }' "$1"; }
# "mean ± error" with two significant digits of the error.
pm() { awk -v m="$1" -v e="$2" 'BEGIN { d = 1 - int(log(e) / log(10) + (e < 1 ? -1 : 0)); if (d < 0) d = 0;
                                        printf "%.*f ± %.*f", d, m, d, e }'; }
# (value - limit) / error
dev() { awk -v m="$1" -v e="$2" -v l="$3" 'BEGIN { printf "%+.1f", (m - l) / e }'; }

echo "Table: \`printf '$table_input' | ./build/o1_phi4\`. Runs: heat bath + 1 Swendsen-Wang update per sweep,"\
     "$therm thermalisation sweeps, one thread; wall time of everything $wall s; $(date -u +%Y-%m-%d);"\
     "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores."
echo
echo "| L | sweeps | U4 | (U4 − $u4_limit)/σ | τ_int(U4) | ξ_2nd/L | (ξ/L − $xi_limit)/σ | τ_int(ξ/L) | N/τ_max | load before / after |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for L in $sizes; do
    f=fss_L$L.txt
    echo "| $L | $(sweeps_of "$L") | $(pm "$(value $f U4 2)" "$(value $f U4 3)") | $(dev "$(value $f U4 2)" "$(value $f U4 3)" $u4_limit)" \
         "| $(pm "$(value $f U4 4)" "$(value $f U4 5)") | $(pm "$(value $f xi/L 2)" "$(value $f xi/L 3)")" \
         "| $(dev "$(value $f xi/L 2)" "$(value $f xi/L 3)" $xi_limit) | $(pm "$(value $f xi/L 4)" "$(value $f xi/L 5)")" \
         "| $(awk '/^samples/ { print $4; exit }' $f) | $(awk '/^load:/ { print $2, $3, $4 }' $f) |"
done
echo

# The crossing of the reweighted U4 of sizes a and b: between the two points
# of beta where U4_a - U4_b changes sign, each curve a straight line
# u + s x; there x* = (u_b - u_a)/(s_a - s_b), U* = (s_a u_b - s_b u_a)/(s_a - s_b)
# and, the runs being independent, sigma_x = sqrt(e_a^2 + e_b^2)/|s_a - s_b|,
# sigma_U = sqrt(s_b^2 e_a^2 + s_a^2 e_b^2)/|s_a - s_b| (e the errors at the
# nearer point).  Prints "beta sigma U4 sigma", nothing when they do not cross.
crossing() {
    paste "rw_L$1.dat" "rw_L$2.dat" | awk '$1 == $6 {
        n++; b[n] = $1; ua[n] = $2; ea[n] = $3; ub[n] = $7; eb[n] = $8 }
        END { for (i = 1; i < n; i++) if ((ua[i] - ub[i]) * (ua[i + 1] - ub[i + 1]) <= 0) {
                  h = b[i + 1] - b[i]; sa = (ua[i + 1] - ua[i]) / h; sb = (ub[i + 1] - ub[i]) / h
                  x = (ub[i] - ua[i]) / (sa - sb); j = x < h / 2 ? i : i + 1
                  u = (sa * ub[i] - sb * ua[i]) / (sa - sb)
                  d = sa - sb; if (d < 0) d = -d
                  printf "%.6f %.6f %.4f %.4f\n", b[i] + x, sqrt(ea[j]^2 + eb[j]^2) / d, u, sqrt(sb^2 * ea[j]^2 + sa^2 * eb[j]^2) / d
                  exit } }'
}
echo "| sizes | β where U4 crosses | U4 there |"
echo "|---|---|---|"
pairs=""
for a in $sizes; do for b in $sizes; do [ "$b" -eq $((2 * a)) ] && pairs="$pairs $a:$b"; done; done
for pair in $pairs; do
    a=${pair%:*} b=${pair#*:}
    c=$(crossing "$a" "$b")
    if [ -n "$c" ]; then
        read -r x sx u su <<<"$c"
        echo "| $a, $b | $(pm "$x" "$sx") | $(pm "$u" "$su") |"
        echo "$x $sx $u $su" >"cross_${a}_$b.dat"
    else
        echo "| $a, $b | no crossing in $reweight | |"
    fi
done
echo
echo "Reweighting: $reweight; points whose effective samples fell below a tenth of the run are left out:"\
     "$(for L in $sizes; do printf 'L = %s: %s; ' "$L" "$(grep -c 'too wide$' "rw_L$L.txt" || true)"; done)"

# ---------------------------------------------------------------- picture

last_pair=${pairs##* }
if command -v gnuplot >/dev/null 2>&1; then
    if gnuplot -e 'set terminal' 2>&1 | grep -qw pngcairo; then term="pngcairo size 900,650 font ',11'"; else term="png size 900,650"; fi
    plots=""
    for L in $sizes; do plots="$plots 'rw_L$L.dat' using 1:2:3 with yerrorlines title 'L = $L',"; done
    cross=""
    if [ -n "$last_pair" ] && [ -f "cross_${last_pair%:*}_${last_pair#*:}.dat" ]; then
        cross="'cross_${last_pair%:*}_${last_pair#*:}.dat' using 1:3:2:4 with xyerrorbars pt 7 ps 1.5 lc rgb 'black' title 'crossing of L = ${last_pair%:*} and ${last_pair#*:}',"
    fi
    gnuplot <<GP
set terminal $term
set output 'u4_crossing.png'
set title "U4 reweighted in beta: d = 3, landa = $landa, heat bath + Swendsen-Wang at beta_0 = $beta (dashed)"
set xlabel 'beta'
set ylabel 'U4'
set key top right
set grid
set arrow from $beta, graph 0 to $beta, graph 1 nohead dt 2 lc rgb 'gray40'
plot $plots $cross $u4_limit with lines dt 3 lw 2 lc rgb 'red' title 'published limit $u4_limit'
GP
    echo "Picture: $out/u4_crossing.png"
fi
echo "Files: $out"
