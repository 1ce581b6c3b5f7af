#pragma once
// Small builders shared by the menu and text entry tests.
#include <string>

#include "gui/menu_item.h"
#include "gui/widget.h"

namespace menutest {

using namespace lumo::gui;

inline MenuItem item(const std::string& label, int id = 0, bool enabled = true) {
    MenuItem m;
    m.label = label;
    m.id = id;
    m.enabled = enabled;
    return m;
}

inline MenuItem separator() {
    MenuItem m;
    m.separator = true;
    return m;
}

inline MouseEvent mouseAt(int x, int y, bool shift = false) {
    MouseEvent e;
    e.x = x;
    e.y = y;
    e.shift = shift;
    return e;
}

inline KeyEvent keyPress(Key k, bool shift = false) {
    KeyEvent e;
    e.key = k;
    e.shift = shift;
    return e;
}

}  // namespace menutest
