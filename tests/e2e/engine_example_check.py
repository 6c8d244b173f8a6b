#!/usr/bin/python3
"""The engine example end to end.

    engine_example_check.py QUORVEL_BINARY REPOSITORY

1. examples/engine is what scripts/make_engine_example.py writes, byte for byte.
2. quorvel maps it as the README shows; every boundary's triangles get data, the map files
   of the three groups are written, and the piston (crown through X_ORIG, bowl through the
   moving-surface pair) is hit or grown in every step of the cycle.
3. The heat each wall takes over the cycle, summed from the triangle map (flux times area),
   matches the heat summed from the CFD samples within half a percent.
4. The mapping report agrees: no sample lost, the same source heat, the same accuracy.
"""

import collections
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


# Boundary: (name, group, largest relative difference of the cycle's heat). The example maps
# with the overlap deposit, which keeps each wall's heat to round-off (the sliver fill
# rescales to the wall's totals); half a percent leaves room for nothing but a fault.
WALLS = {1: ("piston crown", "piston", 0.005), 2: ("liner", "liner", 0.005),
         3: ("head", "head", 0.005), 4: ("piston bowl", "piston", 0.005)}


def read_map(path):
    """Rows of a triangle map: index -> (words); and its heading line."""
    rows = {}
    with open(path, newline="") as f:
        heading = f.readline()
        for line in f:
            check(line.endswith("\r\n"), "%s: a line without CR LF" % os.path.basename(path))
            words = line.split()
            rows[int(words[0])] = words
    return heading, rows


def surface_boundaries(path):
    with open(path) as f:
        words = f.read().split()
    vertex_count, triangle_count = int(words[1]), int(words[2])
    at = 3 + 4 * vertex_count
    return [int(words[at + 4 * t + 3]) for t in range(triangle_count)]


def cfd_heat(path, start, end):
    """Heat rate per boundary averaged over the window as the mapping integrates it: each
    used block's sum of flux times area, held over the interval that ends at its time."""
    totals = collections.defaultdict(float)
    previous, block, used = None, collections.defaultdict(float), False
    def close():
        if used:
            for boundary, q in block.items():
                totals[boundary] += q * interval
    interval = 0.0
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == "Crank":
                close()
                time = float(words[2])
                used = previous is not None and start <= time <= end
                interval = time - previous if used else 0.0
                previous = time
                block = collections.defaultdict(float)
            elif words[0].isdigit() and len(words) >= 14:
                block[int(words[1])] += float(words[6]) * float(words[7])
        close()
    return {boundary: q / (end - start) for boundary, q in totals.items()}


def check_report(work, stdout, cfd):
    """The mapping report: every boundary mapped with no sample lost, its source heat the
    same as summed here from transfer.out, its mapped heat within the wall's allowance, and
    the summary block on standard output."""
    import csv
    with open(os.path.join(work, "quorvel_report.csv"), newline="") as f:
        rows = {row["boundary_id"]: row for row in csv.DictReader(f)}
    check(set(rows) == {str(b) for b in WALLS} | {"all"},
          "quorvel_report.csv rows: %s" % sorted(rows))
    check("Mapping report: quorvel_report.csv" in stdout, "no 'Mapping report:' block")
    for boundary, (name, _, tolerance) in WALLS.items():
        row = rows.get(str(boundary))
        if row is None:
            continue
        check(int(row["samples"]) > 0 and row["samples"] == row["samples_mapped"],
              "%s: %s of %s samples mapped" % (name, row["samples_mapped"], row["samples"]))
        check(row["triangles"] == row["triangles_initialized"],
              "%s: %s of %s triangles initialized" % (
                  name, row["triangles_initialized"], row["triangles"]))
        source = float(row["q_source_W"])
        check(abs(source - cfd[boundary]) <= 1e-6 * abs(cfd[boundary]),
              "%s: the report's source heat %.6g W against %.6g W from transfer.out" % (
                  name, source, cfd[boundary]))
        error = float(row["q_error_pct"])
        check(abs(error) <= 100 * tolerance, "%s: the report's heat error %+.2f%% (allowed "
              "%.1f%%)" % (name, error, 100 * tolerance))


def main():
    binary, repository = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    example = os.path.join(repository, "examples", "engine")
    root = tempfile.mkdtemp(prefix="quorvel-engine-")
    try:
        # 1. The committed example is the generator's.
        fresh = os.path.join(root, "fresh")
        subprocess.run([sys.executable, os.path.join(repository, "scripts",
                                                     "make_engine_example.py"), "--out", fresh],
                       check=True)
        for name in ("htc_inputs.in", "surface.dat", "transfer.out"):
            check(filecmp.cmp(os.path.join(example, name), os.path.join(fresh, name),
                              shallow=False),
                  "examples/engine/%s is not what scripts/make_engine_example.py writes" % name)

        # 2. The run.
        work = os.path.join(root, "work")
        os.mkdir(work)
        for name in ("htc_inputs.in", "surface.dat", "transfer.out"):
            shutil.copy(os.path.join(example, name), work)
        result = subprocess.run([binary, "surface.dat", "transfer.out"], cwd=work,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        stdout = result.stdout.decode("latin-1")
        check(result.returncode == 0, "exit status %d" % result.returncode)
        check(result.stderr == b"", "standard error: %r" % result.stderr[:300])
        boundaries = surface_boundaries(os.path.join(work, "surface.dat"))
        check("1 boundary entries for moving surfaces" in stdout, "the pair 4 1 was not read")
        check("All triangles were assigned heat flux information from the mapping" in stdout,
              "some triangles got no data")
        check("Of %d triangeles, printed results for %d initialized triangles"
              % (len(boundaries), len(boundaries)) in stdout, "not every triangle printed")
        steps = stdout.count("this time interval was 1.000000e+001 CA")
        check(steps == 72, "%d steps of 10 CA, expected 72" % steps)
        # A piston sample taken where the piston was, not where it is in the structural
        # model, would land nowhere.
        misses = re.findall(r"there were (\d+) cell datapoints that did not hit a triangle",
                            stdout)
        check(len(misses) == 72 and all(m == "0" for m in misses),
              "samples that hit nothing: %s" % sorted(set(misses)))

        heading, rows = read_map(os.path.join(work, "htc_triangles.map"))
        check(heading.rstrip("\r\n").endswith("timewithhits(CA) totaltime(CA) BoundaryID"),
              "heading of htc_triangles.map: %r" % heading)
        per_boundary = collections.Counter(boundaries)
        mapped = collections.Counter(int(words[-1]) for words in rows.values())
        for boundary, (name, group, _) in WALLS.items():
            check(per_boundary[boundary] > 0 and mapped[boundary] == per_boundary[boundary],
                  "%s: %d of %d triangles mapped" % (name, mapped[boundary],
                                                      per_boundary[boundary]))
        for group in ("head", "piston", "liner"):
            for kind in ("triangles", "vertex"):
                path = os.path.join(work, "htc_%s_%s.map" % (kind, group))
                check(os.path.exists(path), "htc_%s_%s.map was not written" % (kind, group))
            _, group_rows = read_map(os.path.join(work, "htc_triangles_%s.map" % group))
            want = {t for t, b in enumerate(boundaries) if WALLS[b][1] == group}
            check(set(group_rows) == want, "htc_triangles_%s.map does not hold exactly the "
                  "group's triangles" % group)
        for index, words in rows.items():
            if boundaries[index] in (1, 4):
                if not (float(words[10]) == 720.0 and float(words[11]) == 720.0):
                    check(False, "piston triangle %d has data for %s of %s CA" % (
                        index, words[10], words[11]))
                    break

        # 3. Heat per wall.
        cfd = cfd_heat(os.path.join(work, "transfer.out"), 0.0, 720.0)
        heat = collections.defaultdict(float)
        for words in rows.values():
            heat[int(words[-1])] += float(words[4]) * float(words[6])
        for boundary, (name, _, tolerance) in WALLS.items():
            difference = (heat[boundary] - cfd[boundary]) / cfd[boundary]
            print("%-12s CFD %7.1f W, mapped %7.1f W, %+.1f%%" % (
                name, cfd[boundary], heat[boundary], 100 * difference))
            check(abs(difference) <= tolerance, "%s: mapped heat %.1f W against %.1f W from "
                  "the samples (%+.1f%%, allowed %.0f%%)" % (
                      name, heat[boundary], cfd[boundary], 100 * difference, 100 * tolerance))

        # 4. The report.
        check_report(work, stdout, cfd)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for failure in failures:
        print("FAILED: " + failure)
    print("engine example: %s" % ("failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
