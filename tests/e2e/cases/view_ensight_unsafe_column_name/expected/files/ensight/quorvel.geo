Triangulated surface

node id assign
element id assign
coordinates
       4
 0.00000e+00 0.00000e+00 0.00000e+00
 1.00000e+00 0.00000e+00 0.00000e+00
 1.00000e+00 1.00000e+00 0.00000e+00
 0.00000e+00 1.00000e+00 0.00000e+00
part 1
 boundary_1
tria3
       1
       1       2       3
part 4
 boundary_4
tria3
       1
       1       3       4
