// transform/transform.cpp: placeholder until the transform mode lands.
#include "transform/transform.h"
#include "platform/fatal.h"

void transform_bc_file(const std::string&, const std::string&) {
    fatal("Error: the transform mode is not built yet\n");
}
