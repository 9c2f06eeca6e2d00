#!/usr/bin/env bash
# Runs the dispatch tests and a short agreement sweep on other x86-64
# processors, emulated by qemu-x86_64 -cpu MODEL: each subsystem must pick
# the widest vectors the model has (the script says which, the tests also
# read the processor's features), in the form its vendor and family run
# (the script says which kernel), and the text must stay exact with it.
#
#   tools/test-dispatch.sh BUILD_DIR     a native x86-64 test build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/test-dispatch.sh BUILD_DIR}

bash tools/install-packages.sh qemu-user

# model, then the widest vectors both subsystems must choose on it and
# the kernel of that set they must run
models=(
  "Nehalem portable portable"         # no AVX at all
  "Haswell,-fma portable portable"    # AVX2 without FMA: the AVX2 paths need both
  "Haswell avx2 avx2rounddown"        # Intel, family 6: rounded down by MXCSR
  "EPYC-Rome avx2 avx2"               # AMD, family 23: the floor instruction
)
for entry in "${models[@]}"; do
  read -r model widest kernel <<<"$entry"
  echo "== qemu-x86_64 -cpu $model: expect $widest, $kernel"
  for run in "buffer_tests kernels.Dispatch*" "generator_tests batchvariants.Dispatch*" \
             "agreement_tests *"; do
    read -r suite filter <<<"$run"
    # qemu names each feature of the model that it leaves out; none matters here.
    PI_EXPECT_WIDEST_VECTORS=$widest PI_EXPECT_KERNEL=$kernel PI_TEST_SWEEP=300 \
      qemu-x86_64 -cpu "$model" "$build/bin/$suite" --gtest_filter="$filter" --gtest_brief=1 \
      2> >(grep -v "TCG doesn't support requested feature" >&2) ||
      { echo "FAILED: $suite on $model" >&2; exit 1; }
  done
done
echo "Dispatch tests passed on every model."
