#!/usr/bin/env bash
# Installs what is missing, builds zenfo and runs every test.
#   ./test.sh             build in build/ and run the suite
#   ./test.sh --sanitize  the same in build-sanitize/ with AddressSanitizer (leaks included) and
#                         UBSan; the first report fails its test. Leaks inside system libraries
#                         are suppressed by tests/sanitizers/lsan.supp, nothing else.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build_dir=build
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-sanitize
  cmake_args+=(-DZENFO_SANITIZE=ON)
  sanitizers="$PWD/tests/sanitizers"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:check_initialization_order=1"
  export LSAN_OPTIONS="suppressions=$sanitizers/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" -j 2
cd "$build_dir"
ctest --output-on-failure -j 2 --timeout 300
