#!/usr/bin/env bash
# Builds the libFuzzer target over the photo path with clang (AddressSanitizer and UBSan on) in
# build-fuzz/ and runs it for the given number of seconds on a seed corpus made afresh.
#   bench/fuzz.sh SECONDS [libFuzzer options...]
# The fuzzer goes on after a finding (fork mode); each run's crashing, slow and memory-hungry
# inputs are left in build-fuzz/findings/<start time>/, and the script then fails. The corpus
# grows in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:?usage: bench/fuzz.sh SECONDS [libFuzzer options...]}"
shift
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"

build_dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZENFO_FUZZ=ON -DZENFO_SANITIZE=ON -DZENFO_BUILD_UI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" --target fuzz_photo fuzz_seeds -j 2

seeds="$build_dir/seeds"
corpus="$build_dir/corpus"
findings="$build_dir/findings/$(date +%Y%m%d-%H%M%S)"
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$findings"
"$build_dir/bench/fuzz_seeds" "$seeds"

# Photos are fuzzed up to 64 KB; a decode is bounded in memory by the target itself. Regression
# inputs kept by the tests join the seeds, so that what once crashed is tried again first.
status=0
regressions=()
[ -d tests/album/fuzz_regressions ] && regressions=(tests/album/fuzz_regressions)
"$build_dir/bench/fuzz_photo" "$corpus" "$seeds" "${regressions[@]}" \
  -dict=bench/fuzz_photo.dict -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$findings/" -print_final_stats=1 "$@" || status=$?

if [ -n "$(ls -A "$findings")" ]; then
  echo "fuzz.sh: findings in $findings:" >&2
  ls -l "$findings" >&2
  exit 1
fi
[ "$status" -eq 0 ] || { echo "fuzz.sh: the fuzzer failed ($status)" >&2; exit "$status"; }
echo "fuzz.sh: no findings"
