#pragma once
// Menus are data: a vector of MenuItem feeds both the drawn list popups and the platform's native
// popup menu (PlatformWindow::popupMenu).
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumo::gui {

// An in-menu slider; shared so that the caller keeps seeing the value.
struct MenuSlider {
    double min = 0.0;
    double max = 1.0;
    double value = 0.0;
    double step = 0.0;                           // <= 0: no snapping
    std::function<std::string(double)> format;   // value text; "%.2f" when not set
    std::function<void(double, bool)> onChange;  // value, final
};

struct MenuItem {
    std::string label;  // UTF-8
    bool enabled = true;
    bool checked = false;
    bool separator = false;
    int id = 0;
    std::vector<MenuItem> children;  // non-empty: the row opens a submenu
    std::string icon;
    std::shared_ptr<MenuSlider> slider;
    bool action = false;
};

}  // namespace lumo::gui
