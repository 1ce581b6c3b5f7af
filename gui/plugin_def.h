#pragma once
// A plug-in's definition and one parameter's definition, as far as the toolkit reads them.
#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// Parameter flags read by the undo history.
constexpr uint32_t kParamNoUndoSnapshot = 0x8;  // left out of undo snapshots (reads as 0.0)
constexpr uint32_t kParamNoUndoStep = 0x20;     // a change is never recorded as an undo step

struct ParamDef {
    uint32_t id = 0;
    std::string name;
    uint32_t flags = 0;
};

struct PluginDef {
    std::string id;
    std::string name;
    std::string maker;
    std::string version;
    std::vector<ParamDef> params;  // in definition order
};

}  // namespace lumo
