#pragma once
// The embedded manager skin as the window loads it, and the facts about it that the tests share.
#include <cmath>
#include <string>
#include <vector>

#include "embedded/managerSkin.h"
#include "gui/draw/assets.h"

namespace skintest {

inline const lumo::gui::Assets& skin() {
    static const lumo::gui::Assets assets = [] {
        lumo::gui::Assets a;
        a.load(lumo::embedded::managerSkin, lumo::embedded::managerSkinCount);
        return a;
    }();
    return assets;
}

inline const double kScales[] = {1.0, 1.2, 1.25, 1.5, 2.0, 3.0};

// A design coordinate on a pack's device grid.
inline int F(double v, double s) { return int(std::floor(v * s + 1e-9)); }

// Sprites the window never cuts (every other one is sliced at the stretch bands).
inline bool sliceable(const std::string& name) {
    for (const char* p : {"led_", "check_", "label_", "win_", "more_", "open_", "sb_", "cap_", "sort_", "row_led", "row_pill"})
        if (name.rfind(p, 0) == 0) return false;
    return name != "over_1";
}

// Every sprite name the window's painting, hit testing and geometry read.
inline std::vector<std::string> spriteNames() {
    std::vector<std::string> n = {"page", "over_1", "over_2", "over_3", "over_4_b", "over_4_w", "over_5",
                                  "sort_pill_normal", "sort_pill_pressed", "sort_arrow_down", "sort_arrow_up",
                                  "cap_sb", "cap_sb_hover", "cap_sb_grabbed", "main_pill_normal",
                                  "main_pill_pressed", "update_all_normal", "update_all_pressed", "account_normal",
                                  "account_pressed", "row_plate", "row_recesses", "row_led_on", "row_led_off"};
    for (const char* b : {"sb_up", "sb_down", "row_pill"})
        for (const char* st : {"_normal", "_hover", "_pressed"}) n.push_back(std::string(b) + st);
    for (const char* b : {"open", "more"})
        for (const char* st : {"_up", "_hover", "_down"}) n.push_back(std::string(b) + st);
    for (const char* f : {"vst3", "clap", "au"}) {
        for (const char* st : {"_on", "_off", "_press_on", "_press_off"}) n.push_back(std::string("check_") + f + st);
        for (const char* st : {"_on", "_off"}) n.push_back(std::string("led_") + f + st);
        n.push_back(std::string("label_") + f);
    }
    return n;
}

// Stretch bands of the layout (design units): x and y.
struct Band {
    int pos, len;
};
inline const Band kBandsX[] = {{84, 4}, {347, 4}, {377, 2}};
inline const Band kBandsY[] = {{152, 2}};

}  // namespace skintest
