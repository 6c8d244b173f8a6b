#!/usr/bin/env bash
# Builds quorvel and maps the engine example (examples/engine/: one cylinder over a
# four-stroke cycle) in a fresh out/engine/, draws the mapped walls into
# out/engine/quorvel_map.png and says where everything is. examples/basic, the small case
# the tests use, runs the same way: quorvel surface.dat transfer.out in a copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target quorvel -j "$(nproc)"
rm -rf out/engine
mkdir -p out/engine
cp examples/engine/htc_inputs.in examples/engine/surface.dat examples/engine/transfer.out \
   out/engine/
cd out/engine
# The log runs to a thousand lines; the terminal gets its end-of-run part (and, while the
# run lasts, the progress line on standard error).
../../build/src/driver/quorvel surface.dat transfer.out > quorvel.log
sed -n '/^\*\{96\}$/,$p' quorvel.log
# Debian's Python, whose python3-matplotlib install_deps.sh installed.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
"$python" ../../scripts/render_map.py surface.dat \
  --title "Engine example: one 86 x 86 mm cylinder over a four-stroke cycle" >/dev/null
echo
echo "Results in out/engine/:"
echo "  htc_triangles.map, htc_vertex.map  time-averaged wall data per triangle and per vertex"
echo "  htc_triangles_<group>.map, htc_vertex_<group>.map  the same per group: head, piston, liner"
echo "  quorvel.log                        the run's log (its standard output)"
for report in quorvel_report.txt quorvel_report.csv quorvel_steps.csv; do
  if [ -e "$report" ]; then printf '  %-34s the mapping report\n' "$report"; fi
done
echo "  quorvel_map.png                    the picture: HTC and fluid temperature of each wall"
