// A unit cube meshed with four-node tetrahedra; its x = 1 face as a physical surface.
SetFactory("OpenCASCADE");
Box(1) = {0, 0, 0, 1, 1, 1};
Physical Surface("XFACE") = {2};
Physical Volume("SOLID") = {1};
Mesh.MeshSizeMin = 1;
Mesh.MeshSizeMax = 1;
