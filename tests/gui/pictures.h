#pragma once
// Pictures the painting tests write for a person to look at: into LUMO_TEST_PNG_DIR when it is set,
// else into the build folder's "pictures" folder.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "gui/draw/canvas.h"
#include "tests/support/png.h"

namespace pictures {

inline std::string dir() {
    const char* keep = std::getenv("LUMO_TEST_PNG_DIR");
    const std::string d = keep ? keep : LUMO_PICTURE_DIR;
    std::error_code ec;
    std::filesystem::create_directories(d, ec);
    return d;
}

// Writes the canvas as <dir>/<name>; false when it could not be written.
inline bool write(const lumo::gui::Canvas& c, const std::string& name) {
    const std::string png = testsupport::encodePng(c.width, c.height, c.pixels);
    std::ofstream f(dir() + "/" + name, std::ios::binary);
    f << png;
    return bool(f) && !png.empty();
}

}  // namespace pictures
