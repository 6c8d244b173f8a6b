#!/usr/bin/env bash
# Point location beside Embree on the team's benchmark data, one line per surface:
#
#   bench/compare_peers.sh BUILD_DIR DATA_DIR [rounds] [BEFORE_BUILD_DIR]
#
# BUILD_DIR holds bench/locate_peers (configured with -DQUORVEL_BENCH=ON, Embree found);
# DATA_DIR is what gen_data.py wrote. Each run is pinned to one core and interleaves quorvel's
# and Embree's rounds, of set-up and of location; the figures are medians of the rounds, the
# ratios the medians of the rounds' ratios. With BEFORE_BUILD_DIR (another build of
# locate_peers, say of an older commit) the last columns give the other build's location
# ratio and set-up ratio and compare the two builds, each measured against its own run's
# Embree, so that a machine busy with other work slows both sides of every ratio alike.
set -euo pipefail
build=${1:?usage: compare_peers.sh BUILD_DIR DATA_DIR [rounds] [BEFORE_BUILD_DIR]}
data=${2:?usage: compare_peers.sh BUILD_DIR DATA_DIR [rounds] [BEFORE_BUILD_DIR]}
rounds=${3:-5}
before=${4:-}
core=${CORE:-1}

run() {  # binary surface points -> "ours theirs ratio octree_s embree_s setup_ratio"
    taskset -c "$core" "$1" "$2" "$3" "$rounds" | awk '
        /^set-up/ { for (i = 1; i <= NF; ++i) { if ($i == "octree" && octree == "") octree = $(i + 1);
                                                 if ($i == "BVH" && bvh == "") bvh = $(i + 1) }
                    setup = $NF }
        /^quorvel M points/ { ours = $5 }
        /^Embree M points/ { theirs = $5 }
        /^ratio/ { ratio = $NF }
        END { gsub(",", "", octree); gsub(";", "", bvh); gsub(",", "", theirs)
              print ours, theirs, ratio, octree, bvh, setup }'
}

header="surface            points  quorvel M/s  Embree M/s  ratio  octree s  BVH s  set-up/BVH"
[ -n "$before" ] && header="$header  ratio before  set-up/BVH before  after/before"
echo "$header"
for surface in cyl_10k plate_10k cyl_100k plate_100k cyl_1m plate_1m; do
    [ -f "$data/$surface.surf" ] || continue
    points="$data/${surface%_*}_pts_1m.txt"
    [ -f "$points" ] || continue
    read -r ours theirs ratio octree bvh setup <<<"$(run "$build/bench/locate_peers" "$data/$surface.surf" "$points")"
    line=$(printf "%-18s %6s  %11s  %10s  %5s  %8s  %5s  %10s" "$surface" 1m "$ours" "$theirs" "$ratio" "$octree" "$bvh" "$setup")
    if [ -n "$before" ]; then
        read -r _ _ old_ratio _ _ old_setup <<<"$(run "$before/bench/locate_peers" "$data/$surface.surf" "$points")"
        line="$line  $(printf "%12s  %17s  %12s" "$old_ratio" "$old_setup" "$(awk -v a="$ratio" -v b="$old_ratio" 'BEGIN { printf "%.2f", a / b }')")"
    fi
    echo "$line"
done
