// A thick tube in mm (inner radius 20, outer 30, length 20) in first-order tetrahedra.
// The volume is element set TUBE; each geometric surface gets a node set (Surface1 is the
// outer wall), which the CalculiX deck uses for the coolant side.
SetFactory("OpenCASCADE");
Cylinder(1) = {0, 0, 0, 0, 0, 20, 30};
Cylinder(2) = {0, 0, 0, 0, 0, 20, 20};
BooleanDifference(3) = {Volume{1}; Delete;}{Volume{2}; Delete;};
Physical Volume("TUBE") = {3};
Mesh.MeshSizeMin = 3;
Mesh.MeshSizeMax = 3;
Mesh.SaveGroupsOfNodes = -2;
