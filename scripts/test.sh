#!/usr/bin/env bash
# Builds and runs every test: a normal build, then the same tests once more
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the tests that
# build the histograms on several threads and those of the simulation's
# threaded sweeps under ThreadSanitizer.  Installs the Debian packages the
# tests need when they are missing.
#
# The runs of the simulation over processes (mpirun -np 1, 2, 4) are tested
# in the normal build only: the sanitizer builds leave MPI out (-DO1_MPI=OFF),
# since Open MPI's own allocations, kept until the process ends, would be
# reported as leaks and its helper threads are not instrumented (a
# suppression list would follow Open MPI's internals from one version to
# the next).  Those builds skip the tests of runs over processes.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for pkg in cmake g++ libgtest-dev libgsl-dev gfortran gnuplot-nox libunuran-dev libbenchmark-dev librandom123-dev \
           clang libomp-dev openmpi-bin libopenmpi-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

jobs=$(nproc)
# mpirun refuses to start as root (CI containers) unless told that it is meant.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DO1_SANITIZE=ON -DO1_MPI=OFF
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

# ThreadSanitizer is slow: only the program and its tests are built, and only
# the tests that run phase 2 on several threads (a race makes the program
# write a report and end with status 66, which they compare).
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DO1_TSAN=ON -DO1_MPI=OFF
cmake --build build-tsan -j "$jobs" --target o1_phi4_tests
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" \
  -R '^(PhaseTwoThreads|TypicalRun|FailedRun|Console|SmallRun|NearLimitRun)'

# The simulation's threads are OpenMP's, whose barriers ThreadSanitizer sees
# only in LLVM's runtime (with its Archer tool): clang builds the simulation
# and its tests, which run the sweeps, the measurements and the union-find of
# the Swendsen-Wang update on 1, 2 and 3 threads, and the lattice split into
# blocks whose processes threads play.
CC=clang CXX=clang++ cmake -S . -B build-tsan-omp -DCMAKE_BUILD_TYPE=RelWithDebInfo -DO1_TSAN=ON -DO1_MPI=OFF
cmake --build build-tsan-omp -j "$jobs" --target o1_heatbath_tests
TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1" \
  ctest --test-dir build-tsan-omp --output-on-failure -j "$jobs" \
  -R '^(heatbath_make_table|HeatBathProgram\.SameChain|SwendsenWang\.|Measurement\.|CounterStreams\.|Blocks\.)'
