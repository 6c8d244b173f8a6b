#!/usr/bin/env bash
# Builds quorvel and runs the bundled example case in out/example/ (a fresh copy of
# examples/basic/), then lists what the run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target quorvel -j "$(nproc)"
rm -rf out/example
mkdir -p out
cp -r examples/basic out/example
cd out/example
../../build/src/driver/quorvel surface.dat transfer.out
echo
echo "Results in out/example/:"
ls -l
