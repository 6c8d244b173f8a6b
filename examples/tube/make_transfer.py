#!/usr/bin/env python3
"""Stands in for the CFD run: one transfer.out block of gas samples on the tube's inner
wall (radius 0.02 m, length 0.02 m, boundary ID 2): 800 K, HTC 1000 W/m^2/K."""
import math

around, along, radius, length = 160, 40, 0.02, 0.02
area = 2 * math.pi * radius * length / (around * along)
print("Time= 1.0\nKelvora wall boundary transfer data\ncells per boundary follow\nunits SI\n"
      "temperatures K\nfluxes W/m^2\nareas m^2\n"
      "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG")
n = 0
for j in range(along):
    z = (j + 0.5) * length / along
    for i in range(around):
        a = 2 * math.pi * (i + 0.5) / around
        x, y = radius * math.cos(a), radius * math.sin(a)
        n += 1
        print(f"{n} 2 {x:.9e} {y:.9e} {z:.9e} 800 0 {area:.6e} 1000 400 30 {x:.9e} {y:.9e} {z:.9e}")
