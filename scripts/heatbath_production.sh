#!/usr/bin/env bash
# The production runs behind docs/heatbath.md: the phi-four model in d = 3 at
# landa = 1.1, beta = 0.3750966, L = 8, 12, 16, 24, with the heat bath of the
# tables, Metropolis with 1, 2 and 4 hits, the heat bath with L/2
# single-cluster updates and the heat bath with one Swendsen-Wang update per
# sweep, all on one thread; for the cost on 1 and 2 threads, the heat bath
# and the two cluster runs once more, a twentieth as long, on 1 and on 2
# threads one after the other (the same chain: the script checks that both
# series are the same bytes; their effective samples per second take tau_int
# from the long run); then a short scan of the table's loss.
#
#   bash scripts/heatbath_production.sh [FOLDER]
#
# Builds o1_phi4 and o1_phi4_heatbath (Release, in build/), makes the table in
# FOLDER (default: a new folder under /tmp), runs everything there one run at
# a time, and prints the tables of the document (markdown) on stdout; each
# run's summary and series stay in FOLDER.  SWEEPS and THERM in the
# environment change the run lengths (defaults 200000 and 20000), SIZES the
# lattice sizes.  Takes about an hour on an idle machine of two cores; two
# threads pay only on a machine whose other core is free.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sweeps=${SWEEPS:-200000}
therm=${THERM:-20000}
sweeps2=$((sweeps / 20))
therm2=$((therm / 20))
landa=1.1
beta=0.3750966
sizes=${SIZES:-8 12 16 24}
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
        --series "$name.dat" --replace "$@" >"$name.txt" 2>/dev/null
    after=$(cut -d' ' -f1 /proc/loadavg)
    echo "load: $before / $after" >>"$name.txt"
}

for L in $sizes; do
    hb=(--size "$L" --table table/O1_Phi4.res)
    run "hb_L$L" "$therm" "$sweeps" "${hb[@]}" --seed "$L"1 --threads 1
    for hits in 1 2 4; do
        run "met${hits}_L$L" "$therm" "$sweeps" --size "$L" --update metropolis --hits "$hits" --seed "$L"2 --threads 1
    done
    run "hbcl_L$L" "$therm" "$sweeps" "${hb[@]}" --clusters $((L / 2)) --seed "$L"3 --threads 1
    run "hbsw_L$L" "$therm" "$sweeps" "${hb[@]}" --sw 1 --seed "$L"4 --threads 1
    for t in 1 2; do
        run "hbt${t}_L$L" "$therm2" "$sweeps2" "${hb[@]}" --seed "$L"1 --threads $t
        run "hbclt${t}_L$L" "$therm2" "$sweeps2" "${hb[@]}" --clusters $((L / 2)) --seed "$L"3 --threads $t
        run "hbswt${t}_L$L" "$therm2" "$sweeps2" "${hb[@]}" --sw 1 --seed "$L"4 --threads $t
    done
done

# The loss of the table against the cost of a heat-bath site update (L = 16,
# short runs: only the cost and the acceptance count).
for loss in 3 5 10 20; do
    make_table "loss$loss" "1.1\n0\n5\n$loss\n1\n"
    run "loss${loss}_L16" 5000 2000 --size 16 --table "loss$loss/O1_Phi4.res" --seed 161 --threads 1
done
wall=$(($(date +%s) - start))

# ---------------------------------------------------------------- tables

# value(file, observable, column): column 2 mean, 3 error, 4 tau_int, 5 its error.
value() { awk -v o="$2" -v c="$3" '$1 == o { print $c; exit }' "$1"; }
# "mean ± error" with two significant digits of the error.
pm() { awk -v m="$1" -v e="$2" 'BEGIN { d = 1 - int(log(e) / log(10) + (e < 1 ? -1 : 0)); if (d < 0) d = 0;
                                        printf "%.*f ± %.*f", d, m, d, e }'; }
cost() { awk '/^cost:/ { print $2; exit }' "$1"; }
cpu_cost() { awk '/^cost:/ { print $8; exit }' "$1"; }
load() { awk '/^load:/ { print $2, $3, $4; exit }' "$1"; }
# Effective samples per cpu second ($3 = cpu) or per second of the wall clock ($3 = wall).
eff() { awk -v o="$2" -v w="$3" 'index($0, "effective samples of " o " per") == 1 { gsub(",", ""); print (w == "wall" ? $NF : $(NF - 3)); exit }' "$1"; }
# The same for a short run (file $1) from the tau_int of the long run of the
# same chain (file $4): sweeps per second / (2 tau_int).
eff2() { awk -v n="$sweeps2" -v w="$3" -v tau="$(value "$4" "$2" 4)" '/^time:/ { t = (w == "wall" ? $10 : $13); printf "%.1f", n / t / (2 * tau); exit }' "$1"; }
label() {
    case $1 in
    hb) echo "heat bath" ;;
    met1) echo "Metropolis, 1 hit" ;;
    met2) echo "Metropolis, 2 hits" ;;
    met4) echo "Metropolis, 4 hits" ;;
    hbcl) echo "heat bath + L/2 clusters" ;;
    hbsw) echo "heat bath + Swendsen-Wang" ;;
    esac
}

echo "Table: \`printf '$table_input' | ./build/o1_phi4\` ($(grep -m1 'define Nd_poi' table/O1_Phi4.res | awk '{print $3}') pieces,"\
     "$(grep -m1 'define N_histogram' table/O1_Phi4.res | awk '{print $3 + 1}') histograms)."
echo "Runs: $therm thermalisation + $sweeps measured sweeps each; wall time of everything $wall s;"\
     "$(date -u +%Y-%m-%d); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores."
same=yes
for L in $sizes; do
    for u in hb hbcl hbsw; do cmp -s "${u}t1_L$L.dat" "${u}t2_L$L.dat" || same="no ($u, L = $L)"; done
done
echo "Short runs ($therm2 + $sweeps2 sweeps) for the cost on 1 and 2 threads; series on 2 threads the same bytes as on 1: $same."
echo
physics_row() {
    local f=$3
    echo "| $1 | $(label "$2") | $(pm "$(value $f m^2 2)" "$(value $f m^2 3)") | $(pm "$(value $f m^2 4)" "$(value $f m^2 5)")" \
         "| $(pm "$(value $f U4 2)" "$(value $f U4 3)") | $(pm "$(value $f U4 4)" "$(value $f U4 5)")" \
         "| $(pm "$(value $f phi^2 2)" "$(value $f phi^2 3)") | $(pm "$(value $f energy 2)" "$(value $f energy 3)")" \
         "| $(pm "$(value $f energy 4)" "$(value $f energy 5)") | $(awk '/^samples/ { print $4; exit }' $f) |"
}
cost_row() {  # L, update, file of its long run
    echo "| $1 | $(label "$2") | long run, 1 | $(cost $3) | $(cpu_cost $3) | $(eff $3 'm^2' cpu) | $(eff $3 'm^2' wall)" \
         "| $(eff $3 energy cpu) | $(eff $3 energy wall) | $(load $3) |"
    for t in 1 2; do
        local f=${2}t${t}_L$1.txt
        echo "| $1 | $(label "$2") | short run, $t | $(cost $f) | $(cpu_cost $f) | $(eff2 $f 'm^2' cpu $3) | $(eff2 $f 'm^2' wall $3)" \
             "| $(eff2 $f energy cpu $3) | $(eff2 $f energy wall $3) | $(load $f) |"
    done
}

echo "| L | update | ⟨m²⟩ | τ_int(m²) | U4 | τ_int(U4) | ⟨φ²⟩ | energy | τ_int(energy) | N/τ_max |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for L in $sizes; do for u in hb met1 met2 met4 hbcl hbsw; do physics_row "$L" "$u" "${u}_L$L.txt"; done; done
echo
echo "| L | update | run, threads | ns per site and sweep | CPU ns | eff. samples of m² per CPU s | per s | of the energy per CPU s | per s | load average before / after |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for L in $sizes; do
    for u in met1 met2 met4; do
        f=${u}_L$L.txt
        echo "| $L | $(label "$u") | long run, 1 | $(cost $f) | $(cpu_cost $f) | $(eff $f 'm^2' cpu) | $(eff $f 'm^2' wall)" \
             "| $(eff $f energy cpu) | $(eff $f energy wall) | $(load $f) |"
    done
    for u in hb hbcl hbsw; do cost_row "$L" "$u" "${u}_L$L.txt"; done
done
echo
echo "| L | heat bath / best Metropolis, m² | heat bath / best Metropolis, energy |"
echo "|---|---|---|"
for L in $sizes; do
    best_m=0 best_e=0
    for hits in 1 2 4; do
        best_m=$(awk -v a="$best_m" -v b="$(eff met${hits}_L$L.txt 'm^2' cpu)" 'BEGIN { print (b > a ? b : a) }')
        best_e=$(awk -v a="$best_e" -v b="$(eff met${hits}_L$L.txt energy cpu)" 'BEGIN { print (b > a ? b : a) }')
    done
    echo "| $L | $(awk -v a="$(eff hb_L$L.txt 'm^2' cpu)" -v b="$best_m" 'BEGIN { printf "%.2f", a / b }')" \
         "| $(awk -v a="$(eff hb_L$L.txt energy cpu)" -v b="$best_e" 'BEGIN { printf "%.2f", a / b }') |"
done
echo
echo "| L | clusters per Swendsen-Wang update | mean size | single clusters: mean size (fraction of the lattice) |"
echo "|---|---|---|---|"
for L in $sizes; do
    echo "| $L | $(awk '/^swendsen-wang:/ { print $5; exit }' hbsw_L$L.txt) | $(awk '/^swendsen-wang:/ { sub(/\(mean size /, ""); print $(NF - 1); exit }' hbsw_L$L.txt)" \
         "| $(awk '/^clusters:/ { print $7, $9 ")"; exit }' hbcl_L$L.txt) |"
done
echo
echo "| loss (%) | pieces | histograms | acceptance | ns per site update (L = 16) | CPU ns | load average before / after |"
echo "|---|---|---|---|---|---|---|"
for loss in 3 5 10 20; do
    f=loss${loss}_L16.txt
    echo "| $loss | $(grep -m1 'define Nd_poi' loss$loss/O1_Phi4.res | awk '{print $3}')" \
         "| $(grep -m1 'define N_histogram' loss$loss/O1_Phi4.res | awk '{print $3 + 1}')" \
         "| $(awk '/^heat bath:/ { sub(",", "", $6); print $6; exit }' $f) | $(cost $f) | $(cpu_cost $f) | $(load $f) |"
done
echo
echo "Largest |h| met: $(for L in $sizes; do cat hb_L$L.txt hbcl_L$L.txt hbsw_L$L.txt | awk -v L=$L '/^heat bath:/ && $NF > m { m = $NF }
                                             END { printf "L = %d: %s; ", L, m }'; done)"\
     "fallback draws: $(cat hb_L*.txt hbcl_L*.txt hbsw_L*.txt | awk '/^heat bath:/ { s += $7 } END { print s }')."
echo "Files: $out"
