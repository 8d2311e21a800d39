#!/usr/bin/env bash
# The production runs behind docs/heatbath.md: the phi-four model in d = 3 at
# landa = 1.1, beta = 0.3750966, L = 8, 12, 16, with the heat bath of the
# tables, Metropolis with 1, 2 and 4 hits, and the heat bath with
# single-cluster updates mixed in; then a short scan of the table's loss.
#
#   bash scripts/heatbath_production.sh [FOLDER]
#
# Builds o1_phi4 and o1_phi4_heatbath (Release, in build/), makes the table in
# FOLDER (default: a new folder under /tmp), runs everything there one run at
# a time, and prints the tables of the document (markdown) on stdout; each
# run's summary and series stay in FOLDER.  SWEEPS and THERM in the
# environment change the run lengths (defaults 200000 and 20000).  Takes
# about ten minutes on an idle machine of two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sweeps=${SWEEPS:-200000}
therm=${THERM:-20000}
landa=1.1
beta=0.3750966
sizes="8 12 16"
table_input='1.1\n0\n5\n10\n1\n'   # Landa, H0, H_max, loss in per cent, go

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target o1_phi4 o1_phi4_heatbath >/dev/null

out=${1:-$(mktemp -d /tmp/heatbath_production_XXXXXX)}
mkdir -p "$out"
cd "$out"
start=$(date +%s)

make_table() {  # folder input
    mkdir -p "$1"
    (cd "$1" && printf "$2" | "$root/build/o1_phi4" >generator.log)
}
make_table table "$table_input"

# One run: name, thermalisation and measured sweeps, then more options.
# Keeps name.txt (summary) and name.dat (series) and appends the one-minute
# load average before and after.
run() {
    local name=$1 th=$2 sw=$3
    shift 3
    local before after
    before=$(cut -d' ' -f1 /proc/loadavg)
    "$root/build/o1_phi4_heatbath" --landa $landa --beta $beta --therm "$th" --sweeps "$sw" \
        --series "$name.dat" "$@" >"$name.txt" 2>/dev/null
    after=$(cut -d' ' -f1 /proc/loadavg)
    echo "load: $before / $after" >>"$name.txt"
}

for L in $sizes; do
    run "hb_L$L" "$therm" "$sweeps" --size "$L" --table table/O1_Phi4.res --seed "$L"1
    for hits in 1 2 4; do
        run "met${hits}_L$L" "$therm" "$sweeps" --size "$L" --update metropolis --hits "$hits" --seed "$L"2
    done
    run "hbcl_L$L" "$therm" "$sweeps" --size "$L" --table table/O1_Phi4.res --clusters $((L / 2)) --seed "$L"3
done

# The loss of the table against the cost of a heat-bath site update (L = 16,
# short runs: only the cost and the acceptance count).
for loss in 3 5 10 20; do
    make_table "loss$loss" "1.1\n0\n5\n$loss\n1\n"
    run "loss${loss}_L16" 5000 2000 --size 16 --table "loss$loss/O1_Phi4.res" --seed 161
done
wall=$(($(date +%s) - start))

# ---------------------------------------------------------------- tables

# value(file, observable, column): column 2 mean, 3 error, 4 tau_int, 5 its error.
value() { awk -v o="$2" -v c="$3" '$1 == o { print $c; exit }' "$1"; }
# "mean ± error" with two significant digits of the error.
pm() { awk -v m="$1" -v e="$2" 'BEGIN { d = 1 - int(log(e) / log(10) + (e < 1 ? -1 : 0)); if (d < 0) d = 0;
                                        printf "%.*f ± %.*f", d, m, d, e }'; }
cost() { awk '/^cost:/ { print $2; exit }' "$1"; }
load() { awk '/^load:/ { print $2, $3, $4; exit }' "$1"; }
eff() { awk -v o="$2" 'index($0, "effective samples of " o " per") == 1 { print $NF; exit }' "$1"; }
label() {
    case $1 in
    hb) echo "heat bath" ;;
    met1) echo "Metropolis, 1 hit" ;;
    met2) echo "Metropolis, 2 hits" ;;
    met4) echo "Metropolis, 4 hits" ;;
    hbcl) echo "heat bath + L/2 clusters" ;;
    esac
}

echo "Table: \`printf '$table_input' | ./build/o1_phi4\` ($(grep -m1 'define Nd_poi' table/O1_Phi4.res | awk '{print $3}') pieces,"\
     "$(grep -m1 'define N_histogram' table/O1_Phi4.res | awk '{print $3 + 1}') histograms)."
echo "Runs: $therm thermalisation + $sweeps measured sweeps each; wall time of everything $wall s;"\
     "$(date -u +%Y-%m-%d); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores."
echo
# One row per run of every size: the function $1 gets L, the update and the summary file.
rows() {
    for L in $sizes; do
        for u in hb met1 met2 met4 hbcl; do
            "$1" "$L" "$u" "${u}_L$L.txt"
        done
    done
}
physics_row() {
    local f=$3
    echo "| $1 | $(label "$2") | $(pm "$(value $f m^2 2)" "$(value $f m^2 3)") | $(pm "$(value $f m^2 4)" "$(value $f m^2 5)")" \
         "| $(pm "$(value $f U4 2)" "$(value $f U4 3)") | $(pm "$(value $f U4 4)" "$(value $f U4 5)")" \
         "| $(pm "$(value $f phi^2 2)" "$(value $f phi^2 3)") | $(pm "$(value $f energy 2)" "$(value $f energy 3)")" \
         "| $(pm "$(value $f energy 4)" "$(value $f energy 5)") | $(awk '/^samples/ { print $4; exit }' $f) |"
}
cost_row() { echo "| $1 | $(label "$2") | $(cost $3) | $(eff $3 'm^2') | $(eff $3 energy) | $(load $3) |"; }

echo "| L | update | ⟨m²⟩ | τ_int(m²) | U4 | τ_int(U4) | ⟨φ²⟩ | energy | τ_int(energy) | N/τ_max |"
echo "|---|---|---|---|---|---|---|---|---|---|"
rows physics_row
echo
echo "| L | update | CPU ns per site and sweep | effective samples of m² per CPU s | of the energy per CPU s | load average before / after |"
echo "|---|---|---|---|---|---|"
rows cost_row
echo
echo "| L | heat bath / best Metropolis, m² | heat bath / best Metropolis, energy |"
echo "|---|---|---|"
for L in $sizes; do
    best_m=0 best_e=0
    for hits in 1 2 4; do
        best_m=$(awk -v a="$best_m" -v b="$(eff met${hits}_L$L.txt 'm^2')" 'BEGIN { print (b > a ? b : a) }')
        best_e=$(awk -v a="$best_e" -v b="$(eff met${hits}_L$L.txt energy)" 'BEGIN { print (b > a ? b : a) }')
    done
    echo "| $L | $(awk -v a="$(eff hb_L$L.txt 'm^2')" -v b="$best_m" 'BEGIN { printf "%.2f", a / b }')" \
         "| $(awk -v a="$(eff hb_L$L.txt energy)" -v b="$best_e" 'BEGIN { printf "%.2f", a / b }') |"
done
echo
echo "| loss (%) | pieces | histograms | acceptance | CPU ns per site update (L = 16) | load average before / after |"
echo "|---|---|---|---|---|---|"
for loss in 3 5 10 20; do
    f=loss${loss}_L16.txt
    echo "| $loss | $(grep -m1 'define Nd_poi' loss$loss/O1_Phi4.res | awk '{print $3}')" \
         "| $(grep -m1 'define N_histogram' loss$loss/O1_Phi4.res | awk '{print $3 + 1}')" \
         "| $(awk '/^heat bath:/ { sub(",", "", $6); print $6; exit }' $f) | $(cost $f) | $(load $f) |"
done
echo
echo "Largest |h| met: $(for L in $sizes; do cat hb_L$L.txt hbcl_L$L.txt | awk -v L=$L '/^heat bath:/ && $NF > m { m = $NF }
                                             END { printf "L = %d: %s; ", L, m }'; done)"\
     "fallback draws: $(cat hb_L*.txt hbcl_L*.txt | awk '/^heat bath:/ { s += $7 } END { print s }')."
echo "Files: $out"
