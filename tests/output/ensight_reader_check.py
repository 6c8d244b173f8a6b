#!/usr/bin/python3
"""Opens quorvel's EnSight ASCII and standard binary output with VTK's EnSight reader and
checks node count, triangles per part and every variable against what the writer program
says it wrote. Usage: ensight_reader_check.py <ensight_reader_writer program>.

Without VTK the check fails, so a CI machine that lost the package is noticed; set
QUORVEL_NO_VTK=1 to skip it (exit 77, reported as skipped) where VTK cannot be had."""
import os
import subprocess
import sys
import tempfile

SKIP = 77


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def read_expected(path):
    expected = {"variables": {}}
    with open(path) as f:
        for line in f:
            words = line.split()
            if words[0] == "nodes":
                expected["nodes"] = int(words[1])
            elif words[0] == "parts":
                expected["parts"] = [int(w) for w in words[1:]]
            elif words[0] == "variable":
                expected["variables"][words[1]] = [float(w) for w in words[2:]]
    return expected


def check(vtk, form, directory, expected):
    reader = vtk.vtkGenericEnSightReader()
    reader.SetCaseFileName(os.path.join(directory, "ensight", "quorvel.case"))
    reader.ReadAllVariablesOn()
    reader.Update()
    output = reader.GetOutput()
    if output is None or output.GetNumberOfBlocks() == 0:
        fail("%s: the reader found no parts" % form)
    blocks = [output.GetBlock(i) for i in range(output.GetNumberOfBlocks())]
    triangles = [b.GetNumberOfCells() for b in blocks]
    if triangles != expected["parts"]:
        fail("%s: triangles per part %s, expected %s" % (form, triangles, expected["parts"]))
    # ASCII values carry six significant digits, binary ones are single precision.
    tolerance = 1e-5 if form == "ascii" else 1e-6
    for index, block in enumerate(blocks):
        for c in range(block.GetNumberOfCells()):
            if block.GetCellType(c) != vtk.VTK_TRIANGLE:
                fail("%s: part %d cell %d is not a triangle" % (form, index, c))
        if block.GetNumberOfPoints() != expected["nodes"]:
            fail("%s: part %d has %d nodes, expected %d"
                 % (form, index, block.GetNumberOfPoints(), expected["nodes"]))
        data = block.GetPointData()
        for name, values in expected["variables"].items():
            array = data.GetArray(name)
            if array is None:
                fail("%s: part %d has no variable %s" % (form, index, name))
            if array.GetNumberOfTuples() != len(values):
                fail("%s: %s has %d values, expected %d"
                     % (form, name, array.GetNumberOfTuples(), len(values)))
            for v, want in enumerate(values):
                got = array.GetValue(v)
                if abs(got - want) > tolerance * max(1.0, abs(want)):
                    fail("%s: %s of node %d is %r, expected %r" % (form, name, v, got, want))
    print("%s: %d nodes, triangles per part %s, %d variables checked"
          % (form, expected["nodes"], triangles, len(expected["variables"])))


def main():
    if len(sys.argv) != 2:
        fail("usage: ensight_reader_check.py <ensight_reader_writer>")
    if os.environ.get("QUORVEL_NO_VTK") == "1":
        print("SKIPPED: QUORVEL_NO_VTK=1, the EnSight files are not opened with a real reader")
        sys.exit(SKIP)
    try:
        import vtk
    except ImportError as error:
        fail("python3-vtk9 is needed to check the EnSight files with a real reader (%s); "
             "install it, or set QUORVEL_NO_VTK=1 to skip this test" % error)
    for form in ("ascii", "binary"):
        with tempfile.TemporaryDirectory(prefix="quorvel_ensight_") as directory:
            result = subprocess.run([os.path.abspath(sys.argv[1]), form], cwd=directory,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if result.returncode != 0:
                fail("%s: the writer exited %d:\n%s" % (form, result.returncode, result.stdout))
            check(vtk, form, directory, read_expected(os.path.join(directory, "expected.txt")))
    print("PASS")


main()
