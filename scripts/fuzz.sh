#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [seconds per target, default 30] [target ...]
# Targets: options surface transfer abaqus transform (all when none is named). Every
# input under fuzz/regressions/<target>/ is replayed first; the committed seed corpus
# fuzz/corpus/<target>/ starts a working corpus under build-fuzz/corpus/<target>/ that
# grows across runs. A finding is written to build-fuzz/findings/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(options surface transfer abaqus transform)
compiler=$(command -v clang++-14 || command -v clang++)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-fuzz "${generator[@]}" -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON -DQUORVEL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target $(printf '%s_fuzz ' "${targets[@]}")
# Absolute paths: each target works in a scratch directory of its own.
root=$(pwd)
mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
  binary=$root/build-fuzz/fuzz/${target}_fuzz
  corpus=$root/build-fuzz/corpus/$target
  mkdir -p "$corpus"
  regressions=("$root"/fuzz/regressions/$target/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $target: replaying ${#regressions[@]} regression inputs"
    "$binary" -rss_limit_mb=2048 "${regressions[@]}" 2>&1 | tail -n 1
  fi
  echo "== $target: fuzzing for $seconds s"
  "$binary" -max_total_time="$seconds" -max_len=16384 -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$root/build-fuzz/findings/${target}-" \
    "$corpus" "$root/fuzz/corpus/$target" > "build-fuzz/$target.log" 2>&1 || {
    tail -n 60 "build-fuzz/$target.log"
    echo "fuzz target $target found a fault; its input is in build-fuzz/findings/" >&2
    exit 1
  }
  grep -E "^stat::(number_of_executed_units|new_units_added)|cov: " "build-fuzz/$target.log" | tail -n 3
done
