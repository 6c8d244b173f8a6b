// surface/coordinate_ops.h: the user's scale, rotate and translate operations.
#pragma once

// The seven entries of operation_order with the values of settings, read once: the names
// are looked up and the sines and cosines taken when the frame is made, not per point.
struct CoordinateFrame {
    enum class Operation { scale, move_x, move_y, move_z, turn_x, turn_y, turn_z };
    struct Step {
        Operation operation;
        double value;  // the factor or the offset
        double c, s;   // cosine and sine of a rotation's angle
    };
    Step steps[7];
    int step_count = 0;  // rotations by 0 are left out: they leave every point as it is

    void apply(double& x, double& y, double& z) const;
};

// Ends the run on a name that is no operation (the options reader has refused those).
CoordinateFrame coordinate_frame();

// Moves one point by the current operations (a frame made for the one point).
void apply_coordinate_operations(double& x, double& y, double& z);
