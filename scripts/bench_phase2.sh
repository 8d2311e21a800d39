#!/usr/bin/env bash
# Times whole runs of the generator (dialogue, both phases, both files) on
# the heaviest plan the dialogue admits, (1, 0, 100, 1): 1268 histograms of
# 600 points, and on the typical one, (1, 0, 200, 10): 387 of 104, with 1
# and with 2 threads (O1_PHI4_THREADS) in the same session, interleaved so
# that a change of the machine's load touches both alike.
#
#   scripts/bench_phase2.sh [-n REPETITIONS] [-t "1 2"] [PROGRAM [YARDSTICK]]
#
# PROGRAM defaults to build/o1_phi4.  A YARDSTICK program (for instance one
# built from an older commit) is timed in the same rounds, on one thread.
# Prints a Markdown table of the fastest and the median wall-clock time of
# each and its median CPU time (user + system, all threads), and the load
# average before and after: on a machine shared with other work, the wall
# clock of the threaded runs depends on how many cores are free.
set -euo pipefail
cd "$(dirname "$0")/.."

reps=7
thread_counts="1 2"
while getopts "n:t:" opt; do
  case $opt in
    n) reps=$OPTARG ;;
    t) thread_counts=$OPTARG ;;
    *) echo "usage: $0 [-n REPETITIONS] [-t \"1 2\"] [PROGRAM [YARDSTICK]]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
program=$(realpath "${1:-build/o1_phi4}")
yardstick=${2:+$(realpath "$2")}
[ -x "$program" ] || { echo "no program at $program (build it first)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
plans=("1 0 100 1" "1 0 200 10")

# "wall cpu" seconds of one whole run of $1 on plan $2 with
# O1_PHI4_THREADS=$3 (cpu: user + system time of the run).
one_run() {
  printf '%s\n' $2 1 > "$work/in.txt"
  local TIMEFORMAT='%3R %3U %3S' t
  t=$( { time (cd "$work" && O1_PHI4_THREADS=$3 "$1" < in.txt > out.txt 2> err.txt) ; } 2>&1 ) || {
    echo "run failed: $1 on ($2), $3 threads" >&2
    cat "$work/err.txt" >&2
    exit 1
  }
  awk '{ printf "%s %.3f", $1, $2 + $3 }' <<< "$t"
}

# Each timed configuration: "program|THREADS", and "yardstick|1".
runs=()
for t in $thread_counts; do runs+=("program|$t"); done
if [ -n "$yardstick" ]; then runs+=("yardstick|1"); fi

declare -A wall cpu
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < reps; r++)); do
  for plan in "${plans[@]}"; do
    for run in "${runs[@]}"; do
      bin=$program
      [ "${run%|*}" = yardstick ] && bin=$yardstick
      read -r w c <<< "$(one_run "$bin" "$plan" "${run#*|}")"
      wall["$plan|$run"]+="$w "
      cpu["$plan|$run"]+="$c "
    done
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# "fastest median" of a list of seconds.
stats() {
  tr ' ' '\n' <<< "$1" | grep . | sort -g |
    awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              printf "%.3f %.3f", v[1], m }'
}

echo "| plan (Landa, H0, H_max, %) | program | threads | fastest (s) | median (s) | median CPU (s) |"
echo "|---|---|---|---|---|---|"
for plan in "${plans[@]}"; do
  for run in "${runs[@]}"; do
    read -r best med <<< "$(stats "${wall["$plan|$run"]}")"
    read -r _ cmed <<< "$(stats "${cpu["$plan|$run"]}")"
    name=$(basename "$program")
    [ "${run%|*}" = yardstick ] && name="yardstick $(basename "$yardstick")"
    echo "| (${plan// /, }) | $name | ${run#*|} | $best | $med | $cmed |"
  done
done
echo
echo "$reps runs each, interleaved, on $(nproc) cores; load average before $load_before, after $load_after."
