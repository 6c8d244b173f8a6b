#!/usr/bin/python3
"""scripts/render_map.py on the small example.

    render_map_check.py QUORVEL_BINARY REPOSITORY

Maps examples/basic, draws it, and checks the PNG: its size, and that it shows the mapped
values in colour, not an empty frame. A run without its map file is refused with a message.
Skipped (status 77) when matplotlib is missing.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 1800, 760
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def main():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.image
    except ImportError:
        print("SKIPPED: matplotlib is missing (Debian: python3-matplotlib, which "
              "scripts/install_deps.sh installs)")
        return 77
    binary, repository = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    render = os.path.join(repository, "scripts", "render_map.py")
    root = tempfile.mkdtemp(prefix="quorvel-render-")
    try:
        work = os.path.join(root, "work")
        shutil.copytree(os.path.join(repository, "examples", "basic"), work)

        refused = subprocess.run([sys.executable, render, "surface.dat"], cwd=work,
                                 capture_output=True, text=True)
        check(refused.returncode == 1 and "htc_triangles.map" in refused.stderr,
              "without a map: status %d, %r" % (refused.returncode, refused.stderr))

        subprocess.run([binary, "surface.dat", "transfer.out"], cwd=work, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        png = os.path.join(root, "plate.png")
        drawn = subprocess.run([sys.executable, render, "--dir", work, "--out", png,
                                "surface.dat"], capture_output=True, text=True,
                               env=dict(os.environ, DISPLAY="", MPLBACKEND=""))
        check(drawn.returncode == 0, "render_map.py failed: %s" % drawn.stderr)
        if drawn.returncode == 0:
            with open(png, "rb") as f:
                head = f.read(24)
            check(head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
            width, height = struct.unpack(">II", head[16:24])
            check((width, height) == (WIDTH, HEIGHT),
                  "PNG of %dx%d, expected %dx%d" % (width, height, WIDTH, HEIGHT))
            pixels = matplotlib.image.imread(png)
            rgb = pixels[:, :, :3]
            # Coloured pixels: the mapped plate in both panels of both rows, and the bars.
            spread = rgb.max(axis=2) - rgb.min(axis=2)
            coloured = float((spread > 0.15).mean())
            check(coloured > 0.05, "only %.1f%% of the picture is in colour" % (100 * coloured))
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for failure in failures:
        print("FAILED: " + failure)
    print("render_map.py: %s" % ("failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
