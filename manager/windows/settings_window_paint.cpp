// The settings window's painting in the pixel look: frame and bar, the scope rows, one folder row per
// format, the manager's version line and the buttons. Every rectangle is in window units and mapped
// through the paint; outlines are one dot wide. The parts (close box, scope rows, buttons) are drawn
// where the part table puts them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"
#include "manager/windows/settings_window.h"

namespace tqapp {

namespace {

using lumo::gui::BitmapFont;
using lumo::gui::Color;
using lumo::gui::Paint;
using lumo::gui::Rect;

constexpr Color kHeaderFill = 0xFF1F1D1Du;
constexpr int kFolderInset = 4;

void outline(const Paint& p, Rect logical, Color c) { p.canvas.strokeRect(dev::device(p, logical), c, dev::one(p.scale)); }

// A section header: a band across the window with its title in bold.
void header(const Paint& p, int y, const char* title) {
    p.canvas.fillRect(dev::device(p, Rect{1, y, AccountWindow::kWidth - 2, 13}), kHeaderFill);
    dev::textIn(p, dev::font(p.scale, true, false), Rect{8, y, 284, 13}, title, dev::cream, 0, false);
}

const char* titleOf(const std::string& format) {
    return format == "vst3" ? "VST3" : format == "clap" ? "CLAP" : "AU";
}

}  // namespace

std::string shortenPath(const BitmapFont& font, const std::string& text, int maxWidth) {
    int64_t rest = 0;
    for (unsigned char c : text) rest += font.advance(c);
    if (rest <= maxWidth) return text;
    const int64_t dots = 3 * int64_t(font.advance('.'));
    size_t from = 0;
    // Each step drops one character (a UTF-8 sequence whole); with nothing left to drop it stops.
    while (from < text.size() && dots + rest > maxWidth) {
        do {
            rest -= font.advance(static_cast<unsigned char>(text[from]));
            ++from;
        } while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80);
    }
    return "..." + text.substr(from);
}

void AccountWindow::draw(const Paint& p) {
    if (!live()) return;
    const int u = dev::one(p.scale);
    const Rect whole = dev::device(p, Rect{0, 0, kWidth, kHeight});
    dev::ClipScope clip(p.canvas, whole);
    p.canvas.fillRect(whole, dev::bg);
    p.canvas.strokeRect(whole, dev::rule, u);
    const PartTable<AccountPartId> table = parts();
    if (const Part<AccountPartId>* close = table.find(accountPart(AccountPart::Close)))
        dev::windowBar(p, kWidth, kBarHeight, close->rect, hot(*close), down(*close));
    const tqm::Layout layout = host.layout();

    header(p, 80, "INSTALL");
    for (const auto& [scope, caption] : {std::pair{tqm::Scope::User, "NO ADMIN PROMPTS"},
                                         std::pair{tqm::Scope::System, "ONE ADMIN PROMPT A JOB"}})
        if (const Part<AccountPartId>* row = table.find(accountPart(AccountPart::Scope, int32_t(scope))))
            drawScopeRow(p, *row, caption);

    const std::vector<std::string>& formats = tqm::formatsHere();
    for (size_t k = 0; k < formats.size(); ++k) {
        drawFolderRow(p, layout, formats[k], 129 + 18 * int(k));
        for (const AccountPart kind : {AccountPart::Change, AccountPart::Reset})
            if (const Part<AccountPartId>* b = table.find(accountPart(kind, int32_t(k)))) drawButton(p, *b);
    }
    const int noteY = formats.empty() ? 130 : 129 + 18 * int(formats.size() - 1) + 19;
    const BitmapFont* regular = dev::font(p.scale, false, false);
    dev::textIn(p, regular, Rect{8, noteY, 284, 11}, "PLUGINS ALREADY INSTALLED STAY WHERE THEY ARE", dev::dim, 0, false);

    header(p, 182, "MANAGER");
    const std::string next = host.managerUpdate();
    const bool loading = host.loading();
    // Without a catalog nothing was compared: that is not "up to date".
    const std::string state = loading                ? "CHECKING"
                              : !next.empty()        ? next + " IS AVAILABLE"
                              : host.catalogLoaded() ? "UP TO DATE"
                                                     : "NO CATALOG";
    dev::textIn(p, regular, Rect{8, 200, 200, 15}, "MANAGER " + host.version() + "  -  " + state,
                !loading && !next.empty() ? dev::cream : dev::wave, 0, false);

    for (const AccountPart kind : {AccountPart::Check, AccountPart::Update, AccountPart::Logs, AccountPart::Notices})
        if (const Part<AccountPartId>* b = table.find(accountPart(kind))) drawButton(p, *b);
}

// A scope row: a box with a dot when the row's scope is the layout's (the part is checked), its label
// and a caption.
void AccountWindow::drawScopeRow(const Paint& p, const Part<AccountPartId>& part, const char* caption) {
    const Rect r = part.rect;
    const bool on = part.checked;
    const Color border = !part.enabled  ? dev::rule
                         : down(part)   ? dev::cream
                         : hot(part)    ? dev::wave
                                        : dev::dim;
    const int top = r.y + (r.h - 9) / 2;
    const Rect box = dev::device(p, Rect{r.x, top, 9, 9});
    p.canvas.fillRect(box, dev::bg);
    p.canvas.strokeRect(box, border, dev::one(p.scale));
    if (on) p.canvas.fillRect(dev::device(p, Rect{r.x + 3, top + 3, 3, 3}), part.enabled ? dev::cream : dev::wave);
    dev::textIn(p, dev::font(p.scale, true, false), Rect{r.x + 14, r.y, 86, r.h}, label(part.id),
                on ? dev::cream : dev::wave, 0, false);
    dev::textIn(p, dev::font(p.scale, false, false), Rect{r.x + 100, r.y, r.w - 100, r.h}, caption, dev::wave, 0, false);
}

void AccountWindow::drawFolderRow(const Paint& p, const tqm::Layout& layout, const std::string& format, int y) {
    const BitmapFont* regular = dev::font(p.scale, false, false);
    dev::textIn(p, regular, Rect{8, y, 30, 15}, titleOf(format), dev::wave, 0, false);
    const Rect box{40, y, 144, 15};
    outline(p, box, dev::rule);
    if (!regular) return;
    const auto over = layout.folders.find(format);
    const bool overridden = over != layout.folders.end() && !over->second.empty();
    const Rect d = dev::device(p, box);
    const int room = std::max(1, d.w - 2 * int(std::lround(kFolderInset * p.scale)));
    dev::textIn(p, regular, box, shortenPath(*regular, layout.formatDir(format), room), overridden ? dev::cream : dev::wave,
                kFolderInset, false);
}

void AccountWindow::drawButton(const Paint& p, const Part<AccountPartId>& part) {
    const bool isHot = hot(part), isDown = down(part);
    dev::button(p, dev::device(p, part.rect), isHot, isDown, part.enabled);
    dev::textIn(p, dev::font(p.scale, true, false), part.rect, label(part.id), dev::buttonInk(isHot, isDown, part.enabled),
                0, true);
}

}  // namespace tqapp
