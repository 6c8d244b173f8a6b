// transform/transform.h: the transform mode.
#pragma once

#include <string>

void transform_bc_file(const std::string& input_name, const std::string& output_name);
