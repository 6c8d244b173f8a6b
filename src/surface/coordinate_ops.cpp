// surface/coordinate_ops.cpp: moves a point into the mapping frame by the user's ordered
// scale, rotate and translate operations.
#include "surface/coordinate_ops.h"

#include "config/options.h"
#include "platform/fatal.h"

#include <cmath>
#include <string>

namespace {

using Operation = CoordinateFrame::Operation;

// Names are compared in this order and the first match wins; the options reader has
// already refused anything else, so the fatal branch guards only a caller that skipped it.
Operation operation_of(const std::string& name) {
    if (name == "SC") return Operation::scale;
    if (name == "TX") return Operation::move_x;
    if (name == "TY") return Operation::move_y;
    if (name == "TZ") return Operation::move_z;
    if (name == "RX") return Operation::turn_x;
    if (name == "RY") return Operation::turn_y;
    if (name == "RZ") return Operation::turn_z;
    fatal("Error, %s is not a valid operation", name.c_str());
}

}  // namespace

CoordinateFrame coordinate_frame() {
    CoordinateFrame frame;
    for (const std::string& name : operation_order.name) {
        CoordinateFrame::Step step{operation_of(name), 0, 1, 0};
        double angle = 0;
        switch (step.operation) {
        case Operation::scale: step.value = settings.scale_xyz; break;
        case Operation::move_x: step.value = settings.trans_x; break;
        case Operation::move_y: step.value = settings.trans_y; break;
        case Operation::move_z: step.value = settings.trans_z; break;
        case Operation::turn_x: angle = settings.rot_angle_x; break;
        case Operation::turn_y: angle = settings.rot_angle_y; break;
        case Operation::turn_z: angle = settings.rot_angle_z; break;
        }
        bool turn = step.operation == Operation::turn_x || step.operation == Operation::turn_y ||
                    step.operation == Operation::turn_z;
        // A zero angle leaves the point untouched: cos and sin of 0 are exact, but leaving
        // the step out keeps the identity bit for bit even for -0.0.
        if (turn) {
            if (angle == 0) continue;
            step.c = std::cos(angle);
            step.s = std::sin(angle);
        }
        frame.steps[frame.step_count++] = step;
    }
    return frame;
}

void CoordinateFrame::apply(double& x, double& y, double& z) const {
    for (int k = 0; k < step_count; ++k) {
        const Step& step = steps[k];
        const double old_x = x, old_y = y, old_z = z;
        const double c = step.c, s = step.s;
        switch (step.operation) {
        case Operation::scale:
            x = step.value * old_x;
            y = step.value * old_y;
            z = step.value * old_z;
            break;
        case Operation::move_x: x = old_x + step.value; break;
        case Operation::move_y: y = old_y + step.value; break;
        case Operation::move_z: z = old_z + step.value; break;
        case Operation::turn_x:
            y = c * old_y - s * old_z;
            z = s * old_y + c * old_z;
            break;
        case Operation::turn_y:
            x = c * old_x + s * old_z;
            z = c * old_z - s * old_x;
            break;
        case Operation::turn_z:
            x = c * old_x - s * old_y;
            y = s * old_x + c * old_y;
            break;
        }
    }
}

void apply_coordinate_operations(double& x, double& y, double& z) {
    coordinate_frame().apply(x, y, z);
}
