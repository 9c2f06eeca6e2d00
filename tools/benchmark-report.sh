#!/usr/bin/env bash
# Measures this machine and prints markdown tables: the processor and its
# clock, every kernel's and variant's cell updates per second against the
# bound measured in the same run and its pass cells per second (digits x
# cells, which compare runs that fuse different numbers of passes), and
# the four programs' kinds against each other as whole processes.
#
#   tools/benchmark-report.sh [--plot FILE.svg] [--runs R] [--counts "N ..."] [BUILD_DIR]
#
# Builds what it needs in BUILD_DIR (default build-report), in Release.
# --plot also draws the whole-process time against N for both kinds, on
# log scales, with a line where runs start fusing one pass fewer. The
# whole processes run interleaved, R times each (default 3), and the tables give medians of
# their CPU time. Installs what it needs from Debian's packages, as the
# Quick start does.
set -euo pipefail
cd "$(dirname "$0")/.."

plot=""
runs=3
counts="1000 2000 5000 10000 20000 50000 100000 132452 150000 200000"
build=build-report
while [ $# -gt 0 ]; do
  case "$1" in
    --plot) plot=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --counts) counts=$2; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done

packages=(g++ cmake make libbenchmark-dev python3)
[ -n "$plot" ] && packages+=(gnuplot-nox)
bash tools/install-packages.sh "${packages[@]}" >&2

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPI_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" \
  --target buffer_benchmark generator_benchmark pi_buffer_discard pi_generator_discard >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Running the benchmarks (ten minutes or so)..." >&2
# Five repetitions of each, interleaved, so that a change in the machine's
# load meets every benchmark alike: the tables give their medians and
# spreads.
repeat=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true)
"$build/bin/buffer_benchmark" "${repeat[@]}" --benchmark_format=json --benchmark_out="$work/buffer.json" \
  --benchmark_out_format=json >/dev/null
"$build/bin/generator_benchmark" "${repeat[@]}" --benchmark_format=json --benchmark_out="$work/generator.json" \
  --benchmark_out_format=json >/dev/null
echo "Running the programs as whole processes..." >&2
python3 tools/benchmark-report.py "$work" "$build/bin" "$runs" "$plot" $counts
