// A 2 x 2 x 1 block of eight-node bricks with its top face as a physical surface.
Point(1) = {0, 0, 0, 1};
a[] = Extrude {2, 0, 0} { Point{1}; Layers{2}; };
b[] = Extrude {0, 2, 0} { Line{a[1]}; Layers{2}; Recombine; };
c[] = Extrude {0, 0, 1} { Surface{b[1]}; Layers{1}; Recombine; };
Physical Surface("TOP") = {c[0]};
Physical Volume("SOLID") = {c[1]};
