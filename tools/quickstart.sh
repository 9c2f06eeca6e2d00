#!/usr/bin/env bash
# The README's two commands.
#   quickstart.sh programs   installs what the programs need, builds them in build/
#   quickstart.sh tests      installs what the tests need, builds them in
#                            build-tests/ and runs every test
set -euo pipefail
cd "$(dirname "$0")/.."

# A configure that failed before the compiler was installed leaves a cache
# that names no compiler, and CMake keeps reusing it: start such a build
# directory afresh.
configure() {
  local dir=$1
  shift
  local fresh=()
  if [ -f "$dir/CMakeCache.txt" ] && grep -q '^CMAKE_CXX_COMPILER:.*NOTFOUND' "$dir/CMakeCache.txt"; then
    fresh=(--fresh)
  fi
  cmake "${fresh[@]}" -S . -B "$dir" "$@"
}

case "${1:-}" in
  programs)
    bash tools/install-packages.sh g++ cmake make
    configure build
    cmake --build build -j "$(nproc)"
    ;;
  tests)
    bash tools/install-packages.sh g++ cmake make libgtest-dev libbenchmark-dev groff-base
    configure build-tests -DPI_BUILD_TESTS=ON -DPI_BUILD_BENCHMARKS=ON
    cmake --build build-tests -j "$(nproc)"
    ctest --test-dir build-tests -j "$(nproc)" --output-on-failure
    ;;
  *)
    echo "usage: $0 programs|tests" >&2
    exit 2
    ;;
esac
