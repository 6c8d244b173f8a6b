// surface/coordinate_ops.cpp: moves a point into the mapping frame by the user's ordered
// scale, rotate and translate operations.
#include "surface/coordinate_ops.h"

#include "config/options.h"
#include "platform/fatal.h"

#include <cmath>

namespace {

enum class Operation { scale, move_x, move_y, move_z, turn_x, turn_y, turn_z };

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

void apply_coordinate_operations(double& x, double& y, double& z) {
    for (const std::string& name : operation_order.name) {
        double old_x = x, old_y = y, old_z = z;
        switch (operation_of(name)) {
        case Operation::scale:
            x = settings.scale_xyz * old_x;
            y = settings.scale_xyz * old_y;
            z = settings.scale_xyz * old_z;
            break;
        case Operation::move_x: x = old_x + settings.trans_x; break;
        case Operation::move_y: y = old_y + settings.trans_y; break;
        case Operation::move_z: z = old_z + settings.trans_z; break;
        // A zero angle leaves the point untouched: cos and sin of 0 are exact, but skipping
        // them keeps the identity bit for bit even for -0.0 and keeps the loop cheap.
        case Operation::turn_x:
            if (settings.rot_angle_x != 0) {
                double c = std::cos(settings.rot_angle_x), s = std::sin(settings.rot_angle_x);
                y = c * old_y - s * old_z;
                z = s * old_y + c * old_z;
            }
            break;
        case Operation::turn_y:
            if (settings.rot_angle_y != 0) {
                double c = std::cos(settings.rot_angle_y), s = std::sin(settings.rot_angle_y);
                x = c * old_x + s * old_z;
                z = c * old_z - s * old_x;
            }
            break;
        case Operation::turn_z:
            if (settings.rot_angle_z != 0) {
                double c = std::cos(settings.rot_angle_z), s = std::sin(settings.rot_angle_z);
                x = c * old_x - s * old_y;
                y = s * old_x + c * old_y;
            }
            break;
        }
    }
}
