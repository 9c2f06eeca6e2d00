#!/usr/bin/env bash
# Runs the AVX-512 buffer kernel's and generator variant's tests: each
# against its reference (counts 0-300 at every number of fused passes,
# batch boundaries, larger counts), their exact divisions, and the
# dispatch, which must choose AVX-512. On a processor with AVX-512 they
# run natively; on any other, under an emulated AVX-512 processor
# (tools/avx512emu/run.sh). Fails, never skips, when they cannot run.
#
#   tools/test-avx512.sh [BUILD_DIR]     (default build-avx512)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-avx512}

bash tools/install-packages.sh g++ cmake make libgtest-dev
if grep -qw avx512f /proc/cpuinfo; then
  echo "This processor has AVX-512: the tests run natively."
  run=()
  emulated=OFF
else
  echo "This processor has no AVX-512: the tests run on an emulated one."
  run=(bash tools/avx512emu/run.sh)
  emulated=ON
fi
# Linked statically: the emulated machine has no shared libraries.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPI_BUILD_TESTS=ON \
  -DCMAKE_EXE_LINKER_FLAGS=-static -DPI_TEST_SWEEP=300 -DPI_TEST_EMULATED=$emulated >/dev/null
cmake --build "$build" -j "$(nproc)" --target buffer_tests generator_tests

# suite, then the tests to run in it
check() {
  local suite=$1 filter=$2 log
  log=$(mktemp)
  echo "== $suite, $filter"
  local status=0
  GTEST_FILTER=$filter PI_EXPECT_WIDEST_VECTORS=avx512 \
    PI_EMU_PASSENV="GTEST_FILTER PI_EXPECT_WIDEST_VECTORS" \
    "${run[@]}" "$build/bin/$suite" | tee "$log" || status=$?
  # A test that skipped proves nothing: the emulated processor must have
  # run every one of them.
  if [ "$status" -ne 0 ] || grep -q '^\[  SKIPPED \]' "$log" || ! grep -q '^\[  PASSED  \]' "$log"; then
    echo "FAILED: $suite ($filter), status $status" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

check buffer_tests 'kernels.*:*/avx512'
check generator_tests 'batchvariants.*:*/avx512'
echo "AVX-512 tests passed."
