#pragma once
// One file compiled into the program; tables of them are made by the build's embedding step
// (lumo_embed in resources/CMakeLists.txt). The data is read-only and lives for the whole run.
#include <cstddef>
#include <cstdint>

namespace lumo {

struct EmbeddedFile {
    const char* name = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

}  // namespace lumo
