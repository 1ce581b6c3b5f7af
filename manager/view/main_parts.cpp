// The printed names of the main window's parts, both ways.
#include "manager/view/main_parts.h"

#include <cstdlib>
#include <cstring>

namespace tqapp {
namespace {

struct Named {
    MainPart kind;
    const char* name;    // the whole name, or the prefix before the index
    const char* const* keys;  // the index's words, or null for a decimal index
    int32_t count;        // how many words; 0 for parts without an index
};

constexpr Named kNames[] = {
    {MainPart::WinClose, "win:close", nullptr, 0}, {MainPart::Status, "status", nullptr, 0},
    {MainPart::WinMin, "win:min", nullptr, 0},     {MainPart::Column, "col:", kColumnKeys, 3},
    {MainPart::Sort, "sort", nullptr, 0},          {MainPart::ScrollUp, "sb:up", nullptr, 0},
    {MainPart::ScrollDown, "sb:down", nullptr, 0}, {MainPart::Cap, "cap:sb", nullptr, 0},
    {MainPart::Open, "open", nullptr, 0},          {MainPart::More, "more", nullptr, 0},
    {MainPart::MainPill, "main_pill", nullptr, 0}, {MainPart::UpdateAll, "update_all", nullptr, 0},
    {MainPart::Account, "account", nullptr, 0},    {MainPart::Check, "check:", kSlotKeys, 3},
    {MainPart::Label, "label:", kSlotKeys, 3},     {MainPart::Led, "led:", kSlotKeys, 3},
    {MainPart::RowPill, "rowpill:", nullptr, -1},  {MainPart::Row, "row:", nullptr, -1},
};

}  // namespace

std::string partSprite(const MainId& id) {
    const std::string slot = id.index >= 0 && id.index < 3 ? kSlotKeys[id.index] : "";
    switch (id.kind) {
        case MainPart::Sort: return "sort_pill_normal";
        case MainPart::ScrollUp: return "sb_up_normal";
        case MainPart::ScrollDown: return "sb_down_normal";
        case MainPart::Cap: return "cap_sb";
        case MainPart::Open: return "open_up";
        case MainPart::More: return "more_up";
        case MainPart::MainPill: return "main_pill_normal";
        case MainPart::UpdateAll: return "update_all_normal";
        case MainPart::Account: return "account_normal";
        case MainPart::Check: return slot.empty() ? "" : "check_" + slot + "_off";
        case MainPart::Label: return slot.empty() ? "" : "label_" + slot;
        case MainPart::Led: return slot.empty() ? "" : "led_" + slot + "_off";
        default: return {};
    }
}

std::string partName(const MainId& id) {
    for (const Named& n : kNames) {
        if (n.kind != id.kind) continue;
        if (n.count == 0) return n.name;
        if (!n.keys) return n.name + std::to_string(id.index);
        return id.index >= 0 && id.index < n.count ? std::string(n.name) + n.keys[id.index] : std::string();
    }
    return {};
}

std::optional<MainId> partOf(const std::string& name) {
    for (const Named& n : kNames) {
        if (n.count == 0) {
            if (name == n.name) return mainPart(n.kind);
            continue;
        }
        const size_t len = std::strlen(n.name);
        if (name.compare(0, len, n.name) != 0) continue;
        const std::string rest = name.substr(len);
        if (!n.keys) {
            if (rest.empty() || rest.find_first_not_of("0123456789") != std::string::npos || rest.size() > 9)
                return std::nullopt;
            return mainPart(n.kind, int32_t(std::atoi(rest.c_str())));
        }
        for (int32_t i = 0; i < n.count; ++i)
            if (rest == n.keys[i]) return mainPart(n.kind, i);
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tqapp
