// tests/surface/surface_test_support.h: surfaces from string literals, and the identity frame.
#pragma once

#include "config/options.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <string>
#include <unistd.h>

inline void use_identity_frame() {
    settings = MapSettings();
    settings.scale_xyz = 1;
    operation_order = OperationOrder{{"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}};
}

inline void read_surface_text(const std::string& text, const std::string& name = "surf.dat") {
    LineReader in;
    open_memory_reader(in, text, name);
    read_surface_from(in);
}

// fatal() writes to standard output; death tests see only standard error, so the child
// sends its standard output there.
inline void stdout_to_stderr() { dup2(2, 1); }
