#include "gui/fonts.h"

#include "embedded/lumoFontTable.h"

namespace lumo::gui {

const Assets& lumoFonts() {
    static const Assets* fonts = [] {
        auto* a = new Assets;  // never freed: fonts are handed out for the whole run
        a->loadOnDemand(embedded::lumoFontTable, embedded::lumoFontTableCount);
        return a;
    }();
    return *fonts;
}

}  // namespace lumo::gui
