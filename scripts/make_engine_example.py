#!/usr/bin/env python3
"""Writes examples/engine/: one cylinder of a four-stroke engine over a whole cycle.

    scripts/make_engine_example.py [--out DIR]

Everything comes from formulas below, nothing from outside, and the output is the same
bytes on every run, so the committed example can be checked against a fresh one.

The CFD side (transfer.out, metres, cylinder axis z, deck plane z = 0, exhaust side +x):
  boundary 1  piston crown: flat annulus; its rows carry the moved position in X, Y, Z and
              the position at top dead centre in X_ORIG, Y_ORIG, Z_ORIG
  boundary 2  liner: only the part above the piston is wall of the gas, so its faces are
              re-layered every block between the crown and the deck
  boundary 3  head: a spherical dome with an intake and an exhaust valve seat
  boundary 4  piston bowl: moves with the piston, but like a wall the solver does not track
              its rows repeat the moved position as X_ORIG; the pair "4 1" of htc_inputs.in
              shifts them back by the crown's displacement
"Crank" blocks every 10 degrees from 0 to 720, gas state from a one-zone cycle (polytropic
compression, Wiebe combustion, blowdown) and Woschni's heat-transfer coefficient, shaped per
wall by position (valves, squish jet at the bowl rim, distance from the deck).

The structural side (surface.dat) is the same chamber meshed finer and independently, in
millimetres, in the frame of a structural model whose cylinder axis is +y, 220 mm above the
crankshaft, and 90 mm along x: htc_inputs.in brings it into the CFD frame with
sc-tx-ty-tz-rx-ry-rz (scale 0.001, translate, turn the axis up, turn 30 degrees about it).
"""

import argparse
import math
import os

PI = 3.141592654  # the program's value: the inverse transform must match its rotations

# Engine (m): 86 x 86 mm, 145 mm rod, 2000 rpm.
BORE = 0.086
R = BORE / 2
STROKE = 0.086
CRANK = STROKE / 2
ROD = 0.145
RPM = 2000.0
TDC_GAP = 0.002           # crown below the deck at top dead centre
DOME_HEIGHT = 0.012       # head dome above the deck at the axis
BOWL_RADIUS = 0.022
BOWL_DEPTH = 0.006
CROWN_Z = -TDC_GAP        # crown height in the piston's original (TDC) position
LINER_BOTTOM = CROWN_Z - STROKE  # crown height at bottom dead centre

# Valve seats on the head: centre radius and azimuth (exhaust on +x), seat radius.
VALVE_R, VALVE_SIZE = 0.021, 0.013
EXHAUST_PHI, INTAKE_PHI = 0.0, math.pi

# Structural frame: mm, cylinder axis +y, deck at y = 220 mm, axis at x = 90 mm; about the
# axis the structural x axis lies 30 degrees from the CFD's.
SCALE, TRANS = 0.001, (-0.090, -0.220, 0.0)
ROT_X_DEG, ROT_Z_DEG = 90.0, 30.0

CRANK_STEP = 10
CFD_SIZE = 0.008   # CFD wall face size (m)
FE_SIZE = 0.0036   # structural triangle size (m)


def piston_drop(theta_deg):
    """Distance of the piston below top dead centre (slider-crank)."""
    t = math.radians(theta_deg)
    return CRANK * (1 - math.cos(t)) + ROD - math.sqrt(ROD ** 2 - (CRANK * math.sin(t)) ** 2)


def dome_z(r):
    rs = (R ** 2 + DOME_HEIGHT ** 2) / (2 * DOME_HEIGHT)
    return DOME_HEIGHT - rs + math.sqrt(rs * rs - r * r)


def bowl_z(r):
    rb = (BOWL_RADIUS ** 2 + BOWL_DEPTH ** 2) / (2 * BOWL_DEPTH)
    return CROWN_Z - BOWL_DEPTH + rb - math.sqrt(rb * rb - r * r)


def sphere_zone_area(z_of_r, sphere_radius, r1, r2):
    return 2 * math.pi * sphere_radius * abs(z_of_r(r2) - z_of_r(r1))


DOME_SPHERE = (R ** 2 + DOME_HEIGHT ** 2) / (2 * DOME_HEIGHT)
BOWL_SPHERE = (BOWL_RADIUS ** 2 + BOWL_DEPTH ** 2) / (2 * BOWL_DEPTH)


# ---------------------------------------------------------------- gas state over the cycle

def cycle_gas_state():
    """Pressure (Pa), temperature (K) and Woschni HTC (W/m^2/K) at every whole degree 0..720.

    0 is the gas-exchange top dead centre, 360 the firing one."""
    area = math.pi * R * R
    v_clear = (math.pi * DOME_HEIGHT * (3 * R * R + DOME_HEIGHT ** 2) / 6 + area * TDC_GAP
               + math.pi * BOWL_DEPTH * (3 * BOWL_RADIUS ** 2 + BOWL_DEPTH ** 2) / 6)
    v_disp = area * STROKE

    def volume(theta):
        return v_clear + area * piston_drop(theta)

    gamma, r_gas = 1.32, 287.0
    ivc, evo = 220.0, 500.0
    p_ivc, t_ivc = 1.0e5, 335.0
    mass = p_ivc * volume(ivc) / (r_gas * t_ivc)
    heat = mass / 15.7 * 44.0e6 * 0.8          # fuel energy released, J
    burn_start, burn_length = 348.0, 58.0

    def burned(theta):
        x = (theta - burn_start) / burn_length
        return 0.0 if x <= 0 else 1.0 - math.exp(-5.0 * x ** 3)

    # Closed part: first law with Wiebe heat release, integrated in 0.02 degree steps.
    closed = {}
    p, theta, dtheta = p_ivc, ivc, 0.02
    steps = int(round((evo - ivc) / dtheta))
    for i in range(steps + 1):
        theta = ivc + i * dtheta
        if abs(theta - round(theta)) < 1e-9:
            closed[int(round(theta))] = p
        if i == steps:
            break
        v0, v1 = volume(theta), volume(theta + dtheta)
        dq = heat * (burned(theta + dtheta) - burned(theta))
        vm = 0.5 * (v0 + v1)
        p = p + (-gamma * p * (v1 - v0) + (gamma - 1) * dq) / vm

    p_evo = closed[int(evo)]
    t_evo = p_evo * volume(evo) / (mass * r_gas)
    p_exhaust, p_intake, t_intake = 1.10e5, 0.95e5, 325.0
    t_blowdown_end = t_evo * (p_exhaust / p_evo) ** ((gamma - 1) / gamma)
    t_exhaust_end = 0.8 * t_blowdown_end

    piston_speed = 2 * STROKE * RPM / 60
    states = []
    for theta in range(0, 721):
        motored = None
        if theta < ivc:
            blend = math.exp(-theta / 25.0)       # residual gas mixes with the fresh charge
            p = p_intake + (p_exhaust - p_intake) * blend
            t = t_intake + (t_exhaust_end - t_intake) * blend
            if theta > 160:                       # intake valve closing: charge compressed
                f = (theta - 160) / (ivc - 160)
                p = p + (p_ivc - p) * f
                t = t + (t_ivc - t) * f
            c1 = 6.18
        elif theta <= evo:
            p = closed[theta]
            t = p * volume(theta) / (mass * r_gas)
            motored = p_ivc * (volume(ivc) / volume(theta)) ** gamma
            c1 = 2.28
        else:
            f = math.exp(-(theta - evo) / 18.0)  # blowdown, then the piston pushes out
            p = p_exhaust + (p_evo - p_exhaust) * f
            t_blow = t_evo * (p / p_evo) ** ((gamma - 1) / gamma)
            # Gas cools on the walls while the piston pushes it out.
            t = t_blow * (1 - (1 - t_exhaust_end / t_blowdown_end) * (theta - evo) / (720 - evo))
            c1 = 6.18
        w = c1 * piston_speed
        if motored is not None and theta >= burn_start:
            w += 3.24e-3 * v_disp * t_ivc / (p_ivc * volume(ivc)) * max(p - motored, 0.0)
        htc = 3.26 * BORE ** -0.2 * (p / 1000.0) ** 0.8 * t ** -0.55 * w ** 0.8
        states.append((p, t, htc))
    return states


# ---------------------------------------------------------------- walls: local gas and wall values

def gauss(d, width):
    return math.exp(-(d / width) ** 2)


def valve_distance(x, y, phi_valve):
    return math.hypot(x - VALVE_R * math.cos(phi_valve), y - VALVE_R * math.sin(phi_valve))


def exhaust_open(theta):
    return gauss((theta - 610.0) / 70.0, 1.0) if theta > 480 else 0.0


def intake_open(theta):
    return gauss((theta - 100.0) / 70.0, 1.0) if theta < 250 else 0.0


def wall_sample(part, x, y, z, theta, state):
    """(fluid temperature, HTC, wall temperature, y+) of a wall face at (x, y, z)."""
    p, t_gas, h_gas = state
    r = math.hypot(x, y)
    phi = math.atan2(y, x)
    rho = r / R
    if part == "head":
        d_ex = valve_distance(x, y, EXHAUST_PHI)
        d_in = valve_distance(x, y, INTAKE_PHI)
        t_fluid = t_gas * (1 + 0.05 * (1 - rho * rho))
        t_fluid += 250 * exhaust_open(theta) * gauss(d_ex, VALVE_SIZE)
        t_fluid -= (t_fluid - 300) * 0.3 * intake_open(theta) * gauss(d_in, VALVE_SIZE)
        h = h_gas * (1.2 - 0.35 * rho * rho) * (1 + 0.10 * math.cos(phi))
        h *= 1 + 1.8 * exhaust_open(theta) * gauss(d_ex, VALVE_SIZE)
        h *= 1 + 1.5 * intake_open(theta) * gauss(d_in, VALVE_SIZE)
        t_wall = 455 + 70 * gauss(d_ex, 0.016) - 25 * gauss(d_in, 0.016) + 15 * (1 - rho)
    elif part == "liner":
        depth = -z
        t_fluid = t_gas * (1 - 0.12 * min(depth / STROKE, 1.0))
        h = h_gas * (0.45 + 0.55 * math.exp(-depth / 0.02)) * (1 + 0.08 * math.cos(phi))
        t_wall = 375 + 55 * math.exp(-depth / 0.025) + 6 * math.cos(phi)
    elif part == "crown":
        t_fluid = t_gas * (1 + 0.03 * (1 - rho * rho))
        squish = gauss(r - BOWL_RADIUS - 0.003, 0.009)  # the jet off the bowl rim
        h = h_gas * (0.85 + 0.5 * squish) * (1 + 0.06 * math.cos(phi))
        t_wall = 525 + 40 * gauss(r - BOWL_RADIUS, 0.008) - 30 * rho * rho
    else:  # bowl
        t_fluid = t_gas * 1.04
        h = h_gas * (1.25 - 0.3 * (r / BOWL_RADIUS) ** 2) * (1 + 0.08 * math.cos(phi))
        t_wall = 565 - 20 * (r / BOWL_RADIUS) ** 2
    y_plus = 12 + 0.03 * h
    return t_fluid, h, t_wall, y_plus


# ---------------------------------------------------------------- CFD faces

def ring_faces(r_inner, r_outer, rings, size, z_of_r, sphere_radius):
    """Faces of a surface of revolution z(r) in rings: (x, y, z, area) at each face centre."""
    faces = []
    for i in range(rings):
        r1 = r_inner + (r_outer - r_inner) * i / rings
        r2 = r_inner + (r_outer - r_inner) * (i + 1) / rings
        rm = 0.5 * (r1 + r2)
        count = max(4 if r1 == 0 else 8, int(round(2 * math.pi * rm / size)))
        if sphere_radius is None:
            ring_area = math.pi * (r2 * r2 - r1 * r1)
        else:
            ring_area = sphere_zone_area(z_of_r, sphere_radius, r1, r2)
        for k in range(count):
            phi = 2 * math.pi * (k + 0.5 * (i % 2) + 0.5) / count
            faces.append((rm * math.cos(phi), rm * math.sin(phi), z_of_r(rm), ring_area / count))
    return faces


def liner_faces(z_low, z_high, size):
    count = int(round(2 * math.pi * R / size))
    layers = max(1, int(math.ceil((z_high - z_low) / size - 1e-9)))
    dz = (z_high - z_low) / layers
    area = 2 * math.pi * R / count * dz
    faces = []
    for j in range(layers):
        z = z_low + (j + 0.5) * dz
        for k in range(count):
            phi = 2 * math.pi * (k + 0.5) / count
            faces.append((R * math.cos(phi), R * math.sin(phi), z, area))
    return faces


def fmt_pos(v):
    s = "%.5f" % v
    return "0.00000" if s == "-0.00000" else s


def write_transfer(path):
    states = cycle_gas_state()
    head = ring_faces(0.0, R, 6, CFD_SIZE, dome_z, DOME_SPHERE)
    crown = ring_faces(BOWL_RADIUS, R, 3, CFD_SIZE, lambda r: CROWN_Z, None)
    bowl = ring_faces(0.0, BOWL_RADIUS, 3, CFD_SIZE, bowl_z, BOWL_SPHERE)
    out = []
    for theta in range(0, 721, CRANK_STEP):
        drop = piston_drop(theta)
        state = states[theta]
        rows = []
        # Rows come in the solver's boundary order: crown, liner, head, bowl. Each carries
        # the position written as X, Y, Z, the one written as X_ORIG.., and the wall's place
        # at top dead centre, which decides its values.
        for x, y, z, a in crown:
            rows.append((1, "crown", (x, y, z - drop), (x, y, z), (x, y, z), a))
        for x, y, z, a in liner_faces(CROWN_Z - drop, 0.0, CFD_SIZE):
            rows.append((2, "liner", (x, y, z), (x, y, z), (x, y, z), a))
        for x, y, z, a in head:
            rows.append((3, "head", (x, y, z), (x, y, z), (x, y, z), a))
        for x, y, z, a in bowl:
            moved = (x, y, z - drop)
            rows.append((4, "bowl", moved, moved, (x, y, z), a))
        out.append("Crank angle %.1f\n" % theta)
        out.append("Kelvora wall transfer data, 86 x 86 mm cylinder at 2000 rpm\n")
        out.append("boundary 1 piston_crown\nboundary 2 liner\nboundary 3 head\n")
        out.append("boundary 4 piston_bowl\n")
        out.append("cells %d\n" % len(rows))
        out.append("Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS "
                   "X_ORIG Y_ORIG Z_ORIG\n")
        for n, (bid, part, pos, orig, home, area) in enumerate(rows, 1):
            t_fluid, h, t_wall, y_plus = wall_sample(part, home[0], home[1], home[2], theta,
                                                     state)
            flux = h * (t_fluid - t_wall)
            out.append("%d %d %s %s %s %.1f %.4e %.3e %.1f %.1f %.1f %s %s %s\n" % (
                n, bid, fmt_pos(pos[0]), fmt_pos(pos[1]), fmt_pos(pos[2]), t_fluid, flux, area,
                h, t_wall, y_plus, fmt_pos(orig[0]), fmt_pos(orig[1]), fmt_pos(orig[2])))
    with open(path, "w", newline="\n") as f:
        f.write("".join(out))


# ---------------------------------------------------------------- structural surface

class Mesh:
    def __init__(self):
        self.points = []     # (id, x, y, z) in the CFD frame
        self.triangles = []  # (id1, id2, id3, boundary)

    def add(self, node_id, x, y, z):
        self.points.append((node_id, x, y, z))
        return node_id


def circle(mesh, next_id, r, z, count, offset):
    ids = []
    for k in range(count):
        phi = 2 * math.pi * (k + offset) / count
        ids.append(mesh.add(next_id + k, r * math.cos(phi), r * math.sin(phi), z))
    return ids, next_id + count


def zip_rings(mesh, inner, outer, boundary):
    """Triangles between two closed rings of any counts, always advancing the side whose
    next point comes first in angle."""
    a, b = len(inner), len(outer)
    i = j = 0
    while i < a or j < b:
        if j >= b or (i < a and (i + 1) / a < (j + 1) / b):
            mesh.triangles.append((inner[i % a], inner[(i + 1) % a], outer[j % b], boundary))
            i += 1
        else:
            mesh.triangles.append((inner[i % a], outer[(j + 1) % b], outer[j % b], boundary))
            j += 1


def disc(mesh, next_id, r_inner, r_outer, z_of_r, boundary, size, first_ring=None):
    """Rings from r_inner (0: a centre point) to r_outer. Returns the outer ring's ids."""
    rings = max(1, int(round((r_outer - r_inner) / size)))
    if first_ring is not None:
        previous = first_ring
    elif r_inner == 0:
        previous = [mesh.add(next_id, 0.0, 0.0, z_of_r(0.0))]
        next_id += 1
    else:
        count = int(round(2 * math.pi * r_inner / size))
        previous, next_id = circle(mesh, next_id, r_inner, z_of_r(r_inner), count, 0.0)
    for i in range(1, rings + 1):
        r = r_inner + (r_outer - r_inner) * i / rings
        count = max(6, int(round(2 * math.pi * r / size)))
        ring, next_id = circle(mesh, next_id, r, z_of_r(r), count, 0.25 * (i % 2))
        if len(previous) == 1:
            centre = previous[0]
            for k in range(count):
                mesh.triangles.append((centre, ring[k], ring[(k + 1) % count], boundary))
        else:
            zip_rings(mesh, previous, ring, boundary)
        previous = ring
    return previous, next_id


def structural_mesh():
    mesh = Mesh()
    # Node numbers by part, as a structural model numbers them; they are names only.
    # Bowl and crown are two surfaces of the piston with nodes of their own along the rim,
    # so values never grow from one onto the other.
    disc(mesh, 1, 0.0, BOWL_RADIUS, bowl_z, 4, FE_SIZE)
    disc(mesh, 5001, BOWL_RADIUS, R, lambda r: CROWN_Z, 1, FE_SIZE)
    disc(mesh, 20001, 0.0, R, dome_z, 3, FE_SIZE)
    count = int(round(2 * math.pi * R / FE_SIZE))
    layers = int(round((0.0 - LINER_BOTTOM) / FE_SIZE))
    first = 10001
    for j in range(layers + 1):
        z = LINER_BOTTOM + (0.0 - LINER_BOTTOM) * j / layers
        circle(mesh, first + j * count, R, z, count, 0.0)
    for j in range(layers):
        for k in range(count):
            a = first + j * count + k
            b = first + j * count + (k + 1) % count
            c, d = a + count, b + count
            if (j + k) % 2:
                mesh.triangles += [(a, b, d, 2), (a, d, c, 2)]
            else:
                mesh.triangles += [(a, b, c, 2), (b, d, c, 2)]
    return mesh


def to_structural_frame(x, y, z):
    """The inverse of sc-tx-ty-tz-rx-ry-rz as htc_inputs.in gives it: CFD m -> structural mm."""
    cz, sz = math.cos(ROT_Z_DEG * PI / 180), math.sin(ROT_Z_DEG * PI / 180)
    x, y = cz * x + sz * y, -sz * x + cz * y
    cx, sx = math.cos(ROT_X_DEG * PI / 180), math.sin(ROT_X_DEG * PI / 180)
    y, z = cx * y + sx * z, -sx * y + cx * z
    x, y, z = x - TRANS[0], y - TRANS[1], z - TRANS[2]
    return x / SCALE, y / SCALE, z / SCALE


def write_surface(path, mesh):
    out = ["%d %d %d\n" % (max(p[0] for p in mesh.points), len(mesh.points), len(mesh.triangles))]
    for node_id, x, y, z in mesh.points:
        fx, fy, fz = to_structural_frame(x, y, z)
        out.append("%d %.4f %.4f %.4f\n" % (node_id, fx, fy, fz))
    for a, b, c, boundary in mesh.triangles:
        out.append("%d %d %d %d\n" % (a, b, c, boundary))
    with open(path, "w", newline="\n") as f:
        f.write("".join(out).replace("-0.0000 ", "0.0000 ").replace("-0.0000\n", "0.0000\n"))


OPTIONS = """\
# Options of the engine example: one cylinder (86 mm bore, 86 mm stroke) over a whole
# four-stroke cycle, 0 to 720 crank-angle degrees. surface.dat is the chamber of a
# structural model (liner, head, piston with its bowl) in millimetres, its cylinder axis
# along +y; transfer.out holds the CFD wall samples in metres, cylinder axis along z.
# The piston moves: its samples are mapped at their X_ORIG, Y_ORIG, Z_ORIG columns, the
# crown's place at top dead centre, which is where the structural model has it.
# Made by scripts/make_engine_example.py. Each line is "value key", in this fixed order;
# text after # or ! is ignored. Copy this file next to your own surface and transfer files.

0.0005 tolerance            # m: how far a sample may lie from a triangle and still land on it
1 grow_mult                 # growth radius factor for triangles no sample hit (0: no growth)
0.001 scale_xyz             # the surface is in mm; the CFD frame is in m
90 rot_angle_x              # degrees: turns the structural y axis (cylinder axis) onto z
0 rot_angle_y               # degrees
30 rot_angle_z              # degrees: then turns it 30 degrees about the cylinder axis
-0.090 trans_x              # m: the structural model has this bore at x = 90 mm
-0.220 trans_y              # m: and its deck 220 mm above the crankshaft
0 trans_z                   # m
sc-tx-ty-tz-rx-ry-rz orderofoperations   # scale, then translate, then rotate (left to right)
0 read_abaqus               # 0: surface.dat is a surface file; 1 or 2: an ABAQUS deck
5000 max_htc                # W/m^2/K: larger sample HTCs are cut to this, with a warning
1 enforce_boundID_match     # 1: samples land only on triangles of their own boundary ID
0 hit_location_output_files # 1: point files of hits, growth and samples in detailedoutput/
0 map_additional_variables  # 1: map the extra transfer.out columns too
0 use_convective_ht         # 1: map HTC_CONV and FLUX_CONV instead of HTC and FLUX
0 ensight_outputfiles       # 0 none, 1 ASCII, 2 binary, 3 scrambled binary
0 gmv_outputfiles           # 0 none, 1 quorvel.gmv
0 fieldview_outputfiles     # 0 none, negative ASCII, positive binary
3 dedicatedboundaryoutputfiles  # boundary groups with map files of their own, three:
head name                   #   group 1: htc_triangles_head.map, htc_vertex_head.map
1 numboundaries             #   how many boundary IDs the group takes
3 boundary                  #   one line per boundary ID: the head
piston name                 #   group 2: htc_triangles_piston.map, htc_vertex_piston.map
2 numboundaries             #   the crown and the bowl
1 boundary                  #   crown
4 boundary                  #   bowl
liner name                  #   group 3: htc_triangles_liner.map, htc_vertex_liner.map
1 numboundaries             #   one boundary ID
2 boundary                  #   the liner
0 start_time                # crank-angle degrees ("Crank" blocks); seconds for "Time=" blocks
720 end_time                # one whole cycle
0 startoption               # 0: the first block (0 CA) only marks the start of the window
1 num_valve_entries         # moving-boundary pairs "moving reference", one a line:
4 1                         #   the bowl's samples move back with the crown's displacement
# Extension settings: optional lines after the fixed sequence above, in any order.
1 mapping_method            # overlap deposit: liner under the piston gets no gas, heat is kept
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--out", default=os.path.join(here, "..", "examples", "engine"))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    write_surface(os.path.join(args.out, "surface.dat"), structural_mesh())
    write_transfer(os.path.join(args.out, "transfer.out"))
    with open(os.path.join(args.out, "htc_inputs.in"), "w", newline="\n") as f:
        f.write(OPTIONS)


if __name__ == "__main__":
    main()
