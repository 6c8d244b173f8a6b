#!/usr/bin/python3
"""Draws the mapped heat-transfer coefficient and fluid temperature of a quorvel run.

    scripts/render_map.py [--dir DIR] [--out FILE] SURFACE_FILE

Run after quorvel, on its working directory (default: the current one). It reads the
options file htc_inputs.in (coordinate operations and boundary groups), the surface file
and htc_triangles.map, and writes a PNG (default DIR/quorvel_map.png) with one panel per
boundary group (per boundary ID when the options name no groups): walls that face up or
down, such as a head or a piston, are seen from above; walls around the z axis, such as a
liner, are unrolled, angle times radius against height. Triangles without data are grey.
Needs Debian's python3-matplotlib; no display.
"""

import argparse
import math
import os
import sys

PI = 3.141592654  # the mapping program's value, so the surface lands where it mapped it
WIDTH_PX, HEIGHT_PX, DPI = 1800, 760, 100


def fail(message):
    sys.stderr.write("render_map.py: %s\n" % message)
    sys.exit(1)


# ---------------------------------------------------------------- inputs

def significant_lines(path):
    """Lines as quorvel reads its options: comments cut at # or !, blank lines dropped."""
    try:
        with open(path) as f:
            for number, line in enumerate(f, 1):
                for mark in "#!":
                    cut = line.find(mark)
                    if cut >= 0:
                        line = line[:cut]
                words = line.split()
                if words:
                    yield number, words
    except OSError as error:
        fail("cannot read %s: %s" % (path, error.strerror))


def leading_number(word):
    """The number at the start of a word, as the C library reads it; 0 when there is none."""
    for end in range(len(word), 0, -1):
        try:
            return float(word[:end].replace("_", "!"))  # Python alone reads 1_0 as 10
        except ValueError:
            continue
    return 0.0


def read_options(path):
    """Coordinate operations, read_abaqus and boundary groups, found by their keys."""
    values, order, groups, read_abaqus = {}, None, [], 0
    lines = list(significant_lines(path))
    i = 0
    while i < len(lines):
        number, words = lines[i]
        key = words[1] if len(words) > 1 else ""
        if key == "orderofoperations":
            order = [name.upper() for name in words[0].split("-") if name]
        elif key in ("scale_xyz", "rot_angle_x", "rot_angle_y", "rot_angle_z",
                     "trans_x", "trans_y", "trans_z"):
            values[key] = leading_number(words[0])
        elif key == "read_abaqus":
            read_abaqus = int(leading_number(words[0]))
        elif key == "dedicatedboundaryoutputfiles":
            count = int(leading_number(words[0]))
            for _ in range(max(count, 0)):
                try:
                    name = lines[i + 1][1][0]
                    numboundaries = int(leading_number(lines[i + 2][1][0]))
                    ids = [int(leading_number(lines[i + 3 + k][1][0]))
                           for k in range(max(numboundaries, 0))]
                except IndexError:
                    fail("%s ends inside its boundary groups" % path)
                groups.append((name, ids))
                i += 2 + max(numboundaries, 0)
        i += 1
    missing = [k for k in ("scale_xyz", "rot_angle_x", "rot_angle_y", "rot_angle_z",
                           "trans_x", "trans_y", "trans_z") if k not in values]
    if missing or order is None:
        fail("%s has no %s line" % (path, (missing or ["orderofoperations"])[0]))
    return values, order, groups, read_abaqus


def transform(points, values, order):
    """quorvel's coordinate operations, in the options' order."""
    angles = {axis: values["rot_angle_" + axis] * PI / 180 for axis in "xyz"}
    out = []
    for x, y, z in points:
        for op in order:
            if op == "SC":
                s = values["scale_xyz"]
                x, y, z = s * x, s * y, s * z
            elif op in ("TX", "TY", "TZ"):
                t = values["trans_" + op[1].lower()]
                if op == "TX":
                    x += t
                elif op == "TY":
                    y += t
                else:
                    z += t
            elif op in ("RX", "RY", "RZ"):
                a = angles[op[1].lower()]
                if a == 0:
                    continue
                c, s = math.cos(a), math.sin(a)
                if op == "RX":
                    y, z = c * y - s * z, s * y + c * z
                elif op == "RY":
                    x, z = c * x + s * z, c * z - s * x
                else:
                    x, y = c * x - s * y, s * x + c * y
        out.append((x, y, z))
    return out


def read_surface(path):
    """Vertex positions in file order and triangles as (i, j, k, boundary) by vertex index."""
    try:
        with open(path) as f:
            words = f.read().split()
    except OSError as error:
        fail("cannot read %s: %s" % (path, error.strerror))
    try:
        vertex_count, triangle_count = int(words[1], 0), int(words[2], 0)
        at = 3
        index_of, points = {}, []
        for i in range(vertex_count):
            index_of[int(words[at], 0)] = i
            points.append((float(words[at + 1]), float(words[at + 2]), float(words[at + 3])))
            at += 4
        triangles = []
        for _ in range(triangle_count):
            ids = [index_of[int(w, 0)] for w in words[at:at + 3]]
            triangles.append((ids[0], ids[1], ids[2], int(words[at + 3], 0)))
            at += 4
    except (IndexError, ValueError, KeyError):
        fail("%s is not a surface file quorvel has mapped" % path)
    return points, triangles


def read_triangle_map(path):
    """Per triangle index: (HTC, fluid temperature); the time unit and the longest total time."""
    values, unit, window = {}, "", 0.0
    try:
        with open(path) as f:
            header = f.readline()
            if "timewithhits(" in header:
                unit = header.split("timewithhits(")[1].split(")")[0]
            for line in f:
                words = line.split()
                if len(words) >= 13:
                    values[int(words[0])] = (float(words[7]), float(words[8]))
                    window = max(window, float(words[11]))
    except OSError as error:
        fail("cannot read %s: %s (run quorvel first)" % (path, error.strerror))
    return values, unit, window


# ---------------------------------------------------------------- panels

def normal_z(p, q, r):
    ax, ay, az = q[0] - p[0], q[1] - p[1], q[2] - p[2]
    bx, by, bz = r[0] - p[0], r[1] - p[1], r[2] - p[2]
    nx, ny, nz = ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx
    length = math.sqrt(nx * nx + ny * ny + nz * nz)
    return (abs(nz) / length if length > 0 else 0.0), 0.5 * length


def panel_polygons(points, triangles, unit_scale):
    """2-D polygons of one panel, their triangle indices, axis labels and kind."""
    facing = area = 0.0
    for _, (a, b, c, _) in triangles:
        nz, size = normal_z(points[a], points[b], points[c])
        facing += nz * size
        area += size
    top_view = area == 0 or facing / area >= 0.5
    polygons, indices = [], []
    if top_view:
        for index, (a, b, c, _) in triangles:
            polygons.append([(points[v][0] * unit_scale, points[v][1] * unit_scale)
                             for v in (a, b, c)])
            indices.append(index)
        return polygons, indices, ("x", "y"), "seen from above"
    # Unrolled about a vertical axis through the panel's centre.
    used = sorted({v for _, tri in triangles for v in tri[:3]})
    cx = sum(points[v][0] for v in used) / len(used)
    cy = sum(points[v][1] for v in used) / len(used)
    radius = sum(math.hypot(points[v][0] - cx, points[v][1] - cy) for v in used) / len(used)
    half = math.pi * radius * unit_scale
    for index, (a, b, c, _) in triangles:
        corners = [(math.atan2(points[v][1] - cy, points[v][0] - cx), points[v][2])
                   for v in (a, b, c)]
        angles = [phi for phi, _ in corners]
        if max(angles) - min(angles) > math.pi:  # crosses the seam behind the axis
            corners = [(phi + 2 * math.pi if phi < 0 else phi, z) for phi, z in corners]
        polygon = [(phi * radius * unit_scale, z * unit_scale) for phi, z in corners]
        polygons.append(polygon)
        indices.append(index)
        if any(u > half for u, _ in polygon):  # its other half, at the left edge
            polygons.append([(u - 2 * half, z) for u, z in polygon])
            indices.append(index)
    return polygons, indices, ("angle \u00d7 radius", "z"), "unrolled"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("surface", help="the surface file quorvel mapped onto")
    parser.add_argument("--dir", default=".", help="quorvel's working directory")
    parser.add_argument("--out", help="PNG to write (default DIR/quorvel_map.png)")
    parser.add_argument("--title", help="first line of the title")
    args = parser.parse_args()

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        from matplotlib.collections import PolyCollection
        from matplotlib import colors
        import numpy
    except ImportError:
        fail("needs matplotlib (Debian: apt-get install python3-matplotlib)")

    values, order, groups, read_abaqus = read_options(os.path.join(args.dir, "htc_inputs.in"))
    if read_abaqus != 0:
        fail("draws runs on a surface file; this run mapped an ABAQUS deck (read_abaqus %d)"
             % read_abaqus)
    surface_path = args.surface if os.path.isabs(args.surface) else os.path.join(args.dir,
                                                                                  args.surface)
    raw_points, triangles = read_surface(surface_path)
    points = transform(raw_points, values, order)
    mapped, time_unit, window = read_triangle_map(os.path.join(args.dir, "htc_triangles.map"))

    boundary_ids = sorted({t[3] for t in triangles})
    panels = [(name, set(ids)) for name, ids in groups if set(ids) & set(boundary_ids)]
    grouped = set().union(*[ids for _, ids in panels]) if panels else set()
    panels += [("boundary %d" % b, {b}) for b in boundary_ids if b not in grouped]

    extent = max(max(p[k] for p in points) - min(p[k] for p in points) for k in range(3))
    unit_scale, length_unit = (1000.0, "mm") if extent < 1.0 else (1.0, "m")

    views = []
    for name, ids in panels:
        members = [(i, t) for i, t in enumerate(triangles) if t[3] in ids]
        polygons, indices, labels, kind = panel_polygons(points, members, unit_scale)
        us = [u for polygon in polygons for u, _ in polygon]
        vs = [v for polygon in polygons for _, v in polygon]
        views.append((name, ids, polygons, indices, labels, kind,
                      (min(us), max(us), min(vs), max(vs))))
    # Unrolled walls are clipped to one turn: their seam copies stick out either side.
    limits = []
    for name, ids, polygons, indices, labels, kind, (u0, u1, v0, v1) in views:
        if kind == "unrolled":
            half = max(abs(u0), abs(u1))
            inner = [u for polygon in polygons for u, _ in polygon if abs(u) < half]
            half = 0.5 * (max(inner) - min(inner)) if inner else half
            u0, u1 = -half, half
        pad = 0.02 * max(u1 - u0, v1 - v0)
        limits.append((u0 - pad, u1 + pad, v0 - pad, v1 + pad))

    quantities = [(0, "heat-transfer coefficient (W/m\u00b2/K)", "viridis"),
                  (1, "fluid temperature (K)", "inferno")]
    # Panels laid out by hand in pixels: every panel of a row has the same height and its
    # data's own width, so nothing is squeezed and the colour bar sits right beside them.
    ratios = [(l[1] - l[0]) / max(l[3] - l[2], 1e-12) for l in limits]
    ratios = [min(max(r, 0.5), 5.0) for r in ratios]
    label_gap, panel_gap, bar_gap, bar_width, bar_label = 62, 28, 22, 16, 70
    fixed = len(views) * label_gap + (len(views) - 1) * panel_gap + bar_gap + bar_width + bar_label
    top_band, row_band = 92, 84  # the title; each panel's title and axis label
    height = (HEIGHT_PX - top_band - 2 * row_band) / 2
    height = min(height, (WIDTH_PX - 40 - fixed) / sum(ratios))
    row_width = fixed + height * sum(ratios)
    fig = plt.figure(figsize=(WIDTH_PX / DPI, HEIGHT_PX / DPI), dpi=DPI)

    def box(x, y, w, h):  # pixels from the top left corner to figure fractions
        return [x / WIDTH_PX, 1 - (y + h) / HEIGHT_PX, w / WIDTH_PX, h / HEIGHT_PX]

    for row, (column, label, cmap_name) in enumerate(quantities):
        known = [mapped[i][column] for _, _, _, indices, *_ in views for i in indices
                 if i in mapped]
        low, high = (min(known), max(known)) if known else (0.0, 1.0)
        if high <= low:
            high = low + 1.0
        norm = colors.Normalize(vmin=low, vmax=high)
        cmap = plt.get_cmap(cmap_name).copy()
        cmap.set_bad("#c8c8c8")
        y = top_band + row * (height + row_band) + 24
        x = (WIDTH_PX - row_width) / 2
        for (name, ids, polygons, indices, labels, kind, _), lim, ratio in zip(
                views, limits, ratios):
            x += label_gap
            ax = fig.add_axes(box(x, y, ratio * height, height))
            x += ratio * height + panel_gap
            data = numpy.ma.masked_invalid(numpy.array(
                [mapped[i][column] if i in mapped else numpy.nan for i in indices]))
            collection = PolyCollection(polygons, array=data, cmap=cmap, norm=norm,
                                        edgecolors="face", linewidths=0.4, antialiaseds=False)
            ax.add_collection(collection)
            ax.set_xlim(lim[0], lim[1])
            ax.set_ylim(lim[2], lim[3])
            ax.set_aspect("auto")
            ax.tick_params(labelsize=8)
            ax.set_xlabel("%s (%s)" % (labels[0], length_unit), fontsize=9, labelpad=2)
            ax.set_ylabel("%s (%s)" % (labels[1], length_unit), fontsize=9, labelpad=2)
            ids_text = ", ".join(str(b) for b in sorted(ids))
            plural = "ies" if len(ids) > 1 else "y"
            if name.startswith("boundary "):  # not a group: the ID is its name
                ax.set_title("%s, %s" % (name, kind), fontsize=10)
            else:
                ax.set_title("%s (boundar%s %s), %s" % (name, plural, ids_text, kind),
                             fontsize=10)
        bar_axis = fig.add_axes(box(x - panel_gap + bar_gap, y, bar_width, height))
        bar = fig.colorbar(plt.cm.ScalarMappable(norm=norm, cmap=cmap), cax=bar_axis)
        bar.set_label(label, fontsize=10)
        bar.ax.tick_params(labelsize=8)

    title = args.title or "quorvel: wall heat transfer mapped onto %s" % os.path.basename(
        args.surface)
    unit_text = {"CA": "crank-angle degrees", "s": "s"}.get(time_unit, time_unit)
    fig.suptitle("%s\naveraged over %g %s: HTC over the whole window, fluid temperature "
                 "weighted by HTC; grey: no data" % (title, window, unit_text), fontsize=12)
    out = args.out or os.path.join(args.dir, "quorvel_map.png")
    fig.savefig(out, dpi=DPI)
    print("wrote %s" % out)


if __name__ == "__main__":
    main()
