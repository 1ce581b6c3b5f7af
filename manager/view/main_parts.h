#pragma once
// The parts of the main window: a kind and, for repeated parts, an index (a column, a format slot
// or a display line), and the text name each prints as ("win:close", "col:name", "check:vst3",
// "rowpill:3", "row:3"). The view lists them in its part table (ManagerView::parts).
#include <cstdint>
#include <optional>
#include <string>

#include "manager/parts.h"

namespace tqapp {

enum class MainPart : uint8_t {
    WinClose,    // the window's close button
    Status,      // the status line while it offers the manager's own update
    WinMin,      // the window's minimise button
    Column,      // a sortable column header (index: 0 name, 1 version, 2 status)
    Sort,        // the sort pill
    ScrollUp,    // the scrollbar's arrows and cap
    ScrollDown,
    Cap,
    Open,        // the inspector's "open" button
    More,        // the row menu's button
    MainPill,    // the main button
    UpdateAll,
    Account,
    Check,       // a format slot's tick box, lamp and label (index: the slot)
    Label,
    Led,
    RowPill,     // a list line's action button (index: the display line)
    Row,         // a list line
};

using MainId = PartId<MainPart>;
using MainParts = PartTable<MainId>;

constexpr MainId mainPart(MainPart kind, int32_t index = -1) { return {kind, index}; }

// The format slots of the inspector by index, and the sortable columns by index.
inline constexpr const char* kSlotKeys[3] = {"vst3", "clap", "au"};
inline constexpr const char* kColumnKeys[4] = {"name", "version", "status", "action"};

// The skin sprite whose page place is the part's place in the layout; empty for the parts placed
// otherwise (window buttons, status line, column headers, list lines).
std::string partSprite(const MainId& id);

// The name an id prints as; the id a printed name stands for (none for a name of no part).
std::string partName(const MainId& id);
std::optional<MainId> partOf(const std::string& name);

}  // namespace tqapp
