#!/usr/bin/env bash
# Installs the Debian packages quorvel's build, tests and benchmarks need, when missing.
set -euo pipefail
# gmsh and calculix-ccx: the end-to-end run of a meshed tube through CalculiX;
# python3-matplotlib: the picture of a map; clang-14 and its runtime (libFuzzer,
# sanitizers): the fuzz targets of scripts/fuzz.sh.
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev python3-vtk9
          python3-matplotlib gmsh calculix-ccx clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "quorvel needs these Debian packages: ${missing[*]} (run this script as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
