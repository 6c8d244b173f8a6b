#!/usr/bin/env bash
# Builds quorvel and its tests and runs every test. QUORVEL_SANITIZE=1 builds with
# AddressSanitizer and UndefinedBehaviorSanitizer in a build directory of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
if [ "${QUORVEL_SANITIZE:-0}" = 1 ]; then
  dir=build-sanitize
  flags=(-DQUORVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
else
  dir=build
  flags=(-DCMAKE_BUILD_TYPE=Release)
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
