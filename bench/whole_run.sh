#!/usr/bin/env bash
# A whole mapping run against the same run reading and skipping every block, black-box:
#
#   bench/whole_run.sh QUORVEL CASE_DIR [rounds] [thread counts...]
#
# CASE_DIR holds htc_inputs.in, surface.dat and transfer.out (mapping_bench make_case writes
# one). The skipping run is the same options with start_time after the last block, so it
# reads the surface, builds the octree, and reads and parses every block, mapping none. The
# runs of a round are interleaved (full, skip, for each thread count), so a busy machine
# slows both sides of a ratio alike; figures are medians over the rounds. Peak memory is
# the largest resident set of the full runs.
set -euo pipefail
binary=$(realpath "${1:?usage: whole_run.sh QUORVEL CASE_DIR [rounds] [threads...]}")
case_dir=$(realpath "${2:?usage: whole_run.sh QUORVEL CASE_DIR [rounds] [threads...]}")
rounds=${3:-3}
shift $(($# < 3 ? $# : 3))
threads=("$@")
[ ${#threads[@]} -gt 0 ] || threads=(1 2)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
last_time=$(grep -a -E '^(Time=|Crank)' "$case_dir/transfer.out" | tail -1 | awk '{print $2}')
for kind in full skip; do
    mkdir "$work/$kind"
    ln -s "$case_dir/surface.dat" "$case_dir/transfer.out" "$work/$kind/"
done
cp "$case_dir/htc_inputs.in" "$work/full/"
# start_time past the last block, end_time past that.
awk -v t="$last_time" '$2 == "start_time" { $1 = t * 2 + 1 } $2 == "end_time" { $1 = t * 4 + 2 } { print }' \
    "$case_dir/htc_inputs.in" >"$work/skip/htc_inputs.in"

run() {  # kind threads -> "seconds peak_kB"
    (cd "$work/$1" && /usr/bin/time -f "%e %M" -o ../time.txt \
        "$binary" --threads "$2" surface.dat transfer.out >../stdout.txt 2>&1) ||
        { echo "run failed: $1, $2 threads" >&2; tail -5 "$work/stdout.txt" >&2; exit 1; }
    cat "$work/time.txt"
}

declare -A results
for ((r = 0; r < rounds; ++r)); do
    for n in "${threads[@]}"; do
        for kind in full skip; do
            results[$kind,$n]+="$(run "$kind" "$n") "
        done
    done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
printf "%-8s %10s %10s %7s %12s\n" threads "full s" "skip s" ratio "peak MB"
for n in "${threads[@]}"; do
    read -ra full <<<"${results[full,$n]}"
    read -ra skip <<<"${results[skip,$n]}"
    full_s=$(for ((i = 0; i < ${#full[@]}; i += 2)); do echo "${full[i]}"; done | median)
    skip_s=$(for ((i = 0; i < ${#skip[@]}; i += 2)); do echo "${skip[i]}"; done | median)
    peak=$(for ((i = 1; i < ${#full[@]}; i += 2)); do echo "${full[i]}"; done | sort -g | tail -1)
    printf "%-8s %10s %10s %7.2f %12.0f\n" "$n" "$full_s" "$skip_s" \
        "$(awk -v a="$full_s" -v b="$skip_s" 'BEGIN { print a / b }')" "$((peak / 1024))"
done
