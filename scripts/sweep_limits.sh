#!/usr/bin/env bash
# Runs the built program over a grid of Landa and loss values, each over the
# whole field range the dialogue admits for that Landa (H0 = 0 up to the
# largest H_max it accepts), and prints one line per run: Landa, loss, H_max,
# exit status, seconds, the smallest acceptance the table predicts over the
# field values its histograms serve (from o1_phi4_plot beside EXE, when it is
# built), the verdict of the validator o1_phi4_check beside EXE (with
# SWEEP_SAMPLES draws per field value, default 20000; "-" when it is not
# built), the number of histograms built and the first line of the error
# output or, for a table the validator fails, its first failing check.
#
#   scripts/sweep_limits.sh [EXE] [LANDAS] [LOSSES] > sweep.tsv
#
# EXE defaults to build/o1_phi4; LANDAS and LOSSES are blank-separated lists.
# Each run is stopped after SWEEP_TIMEOUT seconds (default 600); SWEEP_H0
# (default 0) sets the first field value, SWEEP_HMAX an H_max below the
# dialogue's limit.
set -uo pipefail
exe=$(realpath "${1:-build/o1_phi4}")
plot="$(dirname "$exe")/o1_phi4_plot"
check="$(dirname "$exe")/o1_phi4_check"
samples=${SWEEP_SAMPLES:-20000}
landas=${2:-"0.5 0.6 0.75 1 1.5 2 3 5 10 30 100 300 1000 3000 10000 100000"}
losses=${3:-"1 2 3 5 10 20 30 50 70 90 100 105 110 120 150 199"}
timeout_s=${SWEEP_TIMEOUT:-600}
h0=${SWEEP_H0:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf "landa\tloss\th_max\tstatus\tseconds\tmin_acceptance\tvalidator\thistograms\terror\n"
for landa in $landas; do
    # The dialogue names its largest H_max (rounded down to six decimals, so
    # that it is accepted as named) when it refuses a larger one.
    limit=$(printf '%s\n0\n1e300\nq\n' "$landa" | "$exe" 2>/dev/null |
            sed -n 's/.*H_max must be <= \([0-9.]*\).*/\1/p' | head -1)
    [ -n "$limit" ] && [ -n "${SWEEP_HMAX:-}" ] && limit=$SWEEP_HMAX
    if [ -z "$limit" ]; then
        printf "%s\t-\t-\t-\t-\t-\t-\tLanda refused\n" "$landa"
        continue
    fi
    for loss in $losses; do
        dir="$work/run"
        rm -rf "$dir" && mkdir -p "$dir"
        start=$(date +%s.%N)
        (cd "$dir" && printf '%s\n%s\n%s\n%s\n1\n' "$landa" "$h0" "$limit" "$loss" |
            timeout "$timeout_s" "$exe" > out.txt 2> err.txt)
        status=$?
        secs=$(echo "$(date +%s.%N) - $start" | bc)
        acc=-
        if [ "$status" -eq 0 ] && [ -x "$plot" ]; then
            acc=$("$plot" loss "$dir/O1_Phi4.res" "$landa" -n 2 2>/dev/null |
                  awk '!/^#/ && NF >= 3 { if (m == "" || $3 < m) m = $3 } END { print (m == "" ? "-" : m) }')
        fi
        last=$(grep -c '^Histogram=' "$dir/out.txt")
        err=$( (head -1 "$dir/err.txt"; grep -m1 'problem in' "$dir/out.txt") | head -1 | tr '\t' ' ')
        verdict=-
        if [ "$status" -eq 0 ] && [ -x "$check" ]; then
            "$check" "$dir/O1_Phi4.res" "$landa" -n "$samples" > "$dir/check.txt" 2>&1
            if [ $? -eq 0 ]; then verdict=PASS; else
                verdict=FAIL
                err=$(grep -m1 -E 'FAIL' "$dir/check.txt" | tr -s ' \t' ' ')
            fi
        fi
        printf "%s\t%s\t%s\t%d\t%.1f\t%s\t%s\t%s\t%s\n" "$landa" "$loss" "$limit" "$status" "$secs" "$acc" "$verdict" "$last" "$err"
    done
done
