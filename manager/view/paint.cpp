// Painting: the one paint entry of the main window, which sets the paint state every painter reads
// and runs the layout's "order" list from bottom to top; the row list's sequence and its empty
// message, the inspector's logo box, the fixed labels and the status line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "gui/draw/clip_scope.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

// The status word of a row and its colour key, by state.
std::pair<const char*, const char*> statusOf(tqm::State state) {
    switch (state) {
        case tqm::State::Absent: return {"Get", "row"};
        case tqm::State::Installed: return {"Installed", "row"};
        case tqm::State::Update: return {"Update", "row_status_update"};
        case tqm::State::NeedsManager: return {"Needs app", "row"};
        case tqm::State::Unavailable: return {"Not here", "row"};
        case tqm::State::Delisted: return {"Delisted", "row"};
    }
    return {"", "row"};
}

}  // namespace

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::ClipScope;
using lumo::gui::Rect;
using lumo::gui::meet;

void ManagerView::draw(const lumo::gui::Paint& p) {
    const lumo::gui::Assets& skin = managerSkin();
    const lumo::gui::AssetPack& pack = skin.pack(p.scale);
    paint_ = &p;
    paintAt(skin.packs.empty() ? p.scale : pack.scale, p.rect.x, p.rect.y);
    syncRows();
    Canvas& canvas = p.canvas;
    // Nothing of the window lands outside the canvas area, whatever clip the paint came with.
    ClipScope whole(canvas, canvas.area);
    paintParts_ = parts();
    painting_ = true;
    look_->frame(*this, p, pack);
    for (const lumo::Json& entry : managerSkin().layout["order"].array()) {
        const std::string& kind = entry[0].string();
        const std::string& name = entry[1].string();
        // The rows, the logo and the texts are painted alike in both looks.
        if (kind == "over" || (name != "rows" && name != "logo" && name.rfind("text:", 0) != 0))
            look_->layer(*this, p, pack, kind, name);
        else if (name == "rows")
            rows(canvas, pack);
        else if (name == "logo")
            logo(canvas, pack);
        else if (name.rfind("text:lbl_", 0) == 0)
            label(canvas, pack, name.substr(9));
        else
            inspectorText(canvas, pack, name.substr(5));
    }
    const Rect box = mapRect(layoutRect((*managerLayout_)["status_text"]));
    text(canvas, pack, "val", statusText(), box.x, box.y + box.h - 5, 'l', 0, "status", box.w - 4, 1.0);
    painting_ = false;
    paintParts_ = {};
    paint_ = nullptr;
}

void ManagerView::paintAt(double scale, int32_t x, int32_t y) {
    paintScale_ = scale;
    paintX_ = x;
    paintY_ = y;
}

int ManagerView::selectedIndex() const {
    if (!model_ || selectedId_.empty()) return -1;
    for (size_t i = 0; i < displayList_.size(); ++i) {
        const int32_t e = displayList_[i];
        if (e >= 0 && size_t(e) < model_->rows.size() && model_->rows[size_t(e)].id == selectedId_) return int(i);
    }
    return -1;
}

std::pair<size_t, size_t> ManagerView::linesInView() const {
    const size_t n = displayList_.size();
    if (rowPitch_ <= 0) return {0, n};
    // A line i shows when rowFirstY + i x pitch - scroll lies within [list top - pitch, list bottom].
    const int64_t pitch = rowPitch_, from = int64_t(listRect_.y) - rowFirstY_ + scroll_;
    const int64_t first = std::max<int64_t>(0, (from - pitch) / pitch - 1);
    const int64_t end = std::max<int64_t>(0, (from + listRect_.h) / pitch + 2);
    return {std::min(size_t(first), n), std::min(size_t(end), n)};
}

void ManagerView::rows(Canvas& canvas, const lumo::gui::AssetPack& pack) {
    if (!displayList_.empty()) {
        const int sel = selectedIndex();
        const auto [first, end] = linesInView();
        for (int i = int(first); i < int(end); ++i)
            if (i != sel) row(canvas, pack, i);
        // The selected line goes last, over both its neighbours.
        if (sel >= 0) row(canvas, pack, sel);
        return;
    }
    const char* message = "No plugins";
    if (model_ && model_->loading)
        message = "Loading the catalog...";
    else if (model_ && model_->catalog && !model_->catalog->ok)
        message = "No catalog";
    text(canvas, pack, "val", message, listRect_.x, listRect_.y + 40, 'c', listRect_.w, "row", 0, 1.0);
}

void ManagerView::row(Canvas& canvas, const lumo::gui::AssetPack& pack, int i) {
    if (!model_ || i < 0 || size_t(i) >= displayList_.size()) return;
    const int32_t e = displayList_[size_t(i)];
    // A stale entry (rows replaced since the list was made) is never painted.
    if (e >= 0 && size_t(e) >= model_->rows.size()) return;
    const double top = double(rowFirstY_) + double(i) * rowPitch_ - scroll_;
    if (top + rowPitch_ < listRect_.y || top > double(listRect_.y) + listRect_.h) return;
    const Rect listBox = listDeviceBox();
    const lumo::Json& m = *managerLayout_;
    const double rowBase = lumo::gui::jsonInt(m["row_base"], 0);

    if (e < 0) {
        ClipScope clip(canvas, listBox);
        const char* word = e == kAppsHeader ? "APPS" : "PLUGINS";
        const double b = top + rowBase;
        text(canvas, pack, "bold", word, rowFirstX_ + 4, b, 'l', 0, "lbl_col_version", 0, 1.0);
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "bold"))
            look_->headerRule(*this, canvas, rowFirstX_ + std::ceil(f->width(word) / paintScale_) + 8, b);
        return;
    }
    look_->productLine(*this, canvas, pack, i, top);
}


const char* ManagerView::rowStatus(const tqm::Row& r, std::string& status) const {
    if (model_ && model_->busy && model_->jobIds.count(r.id)) {
        status = shortProgress();
        return "row_status_update";
    }
    if (model_ && model_->failed.count(r.id)) {
        status = "Error";
        return "row_status_update";
    }
    const auto [word, key] = statusOf(r.state);
    status = word;
    return key;
}

namespace {

// A picture may be a few times its box at the largest scale, never more: beyond that it is refused
// from its header, before anything is decoded.
constexpr double kLargestScale = 3.0 * 1.5;  // the largest display scale, times the pixel look's rows
constexpr double kRoom = 4.0;

int32_t mostPixels(double units) { return int32_t(std::ceil(units * kLargestScale * kRoom)); }

// "1x", "1.5x": the scale a picture key names, or 0.
double keyScale(const std::string& key) {
    if (key.size() < 2 || key.back() != 'x') return 0;
    char* end = nullptr;
    const double s = std::strtod(key.c_str(), &end);
    return end == key.c_str() + key.size() - 1 && s > 0 ? s : 0;
}

}  // namespace

const Bitmap* ManagerView::rowPicture(size_t entry, double k) {
    if (!model_ || entry >= model_->rows.size()) return nullptr;
    const std::string& id = model_->rows[entry].id;
    if (thumbMemo_.size() < model_->rows.size()) thumbMemo_.resize(model_->rows.size());
    ThumbMemo& memo = thumbMemo_[entry];
    const double scale = paintScale_ * k;
    if (memo.stamp == model_->pictures.stamp() && memo.drops == thumbCache.drops() && memo.scale == scale && memo.id == id)
        return memo.bitmap;
    const Bitmap* found = rowThumb(id, k);
    // Taken after the search, which may have decoded or resized and so dropped older pictures.
    memo = ThumbMemo{model_->pictures.stamp(), thumbCache.drops(), scale, id, found};
    return found;
}

const Bitmap* ManagerView::rowThumb(const std::string& id, double k) {
    if (!model_) return nullptr;
    art::Pictures& pictures = model_->pictures;
    const lumo::Json& size = (*managerLayout_)["row_thumb"];
    const double W = size[2].isNumber() ? size[2].number : 68, H = size[3].isNumber() ? size[3].number : 12;
    const int32_t maxW = mostPixels(W), maxH = mostPixels(H);
    char label[16];
    std::snprintf(label, sizeof label, "%gx", paintScale_ * k);
    if (const Bitmap* exact = pictures.get(id, art::Kind::Row, label, maxW, maxH)) return exact;
    const long w = std::lround(W * paintScale_ * k), h = std::lround(H * paintScale_ * k);
    if (w < 1 || h < 1 || w > 1 << 14 || h > 1 << 14) return nullptr;
    // The smallest picture at least as wide as the box, else the widest; resized once and kept.
    // A picture that cannot be had is not tried twice, so the search always ends.
    std::vector<std::string> tried;
    for (;;) {
        std::string best, widest;
        int32_t bestW = 0, widestW = 0;
        for (const std::string& key : pictures.keys(id, art::Kind::Row)) {
            int32_t pw = 0, ph = 0;
            if (std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
            if (!pictures.size(id, art::Kind::Row, key, pw, ph) || pw > maxW || ph > maxH) continue;
            if (pw >= w && (best.empty() || pw < bestW)) best = key, bestW = pw;
            if (widest.empty() || pw > widestW) widest = key, widestW = pw;
        }
        const std::string& from = best.empty() ? widest : best;
        if (from.empty()) return nullptr;
        const std::string thumbKey = pictures.fileKey(id, art::Kind::Row, from) + "@" + std::to_string(w) + "x" +
                                     std::to_string(h);
        if (const Bitmap* made = thumbCache.find(thumbKey)) return made;
        if (const Bitmap* source = pictures.get(id, art::Kind::Row, from, maxW, maxH))
            return thumbCache.put(thumbKey, boxResize(*source, int(w), int(h)));
        tried.push_back(from);  // it did not decode after all: try the next
    }
}

void ManagerView::logo(Canvas& canvas, const lumo::gui::AssetPack& pack) {
    const tqm::Row* row = selected();
    if (!row) return;
    const Rect box = mapRect(layoutRect((*managerLayout_)["logo_view"]));
    if (const Bitmap* b = logoPicture(row->id, box)) {
        const Rect shown = look_->logoBox(*this, box);
        canvas.drawBitmap(*b, shown.x + (shown.w - b->w) / 2, shown.y + (shown.h - b->h) / 2, 1, 255);
        return;
    }
    text(canvas, pack, "val", row->name, box.x, box.y + box.h / 2 + 4, 'c', box.w, "title", 0, 1.0);
}

const Bitmap* ManagerView::logoPicture(const std::string& id, Rect box) {
    if (!model_) return nullptr;
    art::Pictures& pictures = model_->pictures;
    const int32_t maxW = mostPixels(box.w), maxH = mostPixels(box.h);
    // A picture is shown whole inside the look's frame: one larger than it is made smaller to fit,
    // its shape kept. The copy is kept by the file and the size it was made at.
    const Rect frame = look_->logoBox(*this, box);
    if (frame.w < 1 || frame.h < 1) return nullptr;
    auto fit = [&](long& w, long& h) {
        if (w <= frame.w && h <= frame.h) return;
        const double k = std::min(double(frame.w) / double(w), double(frame.h) / double(h));
        w = std::max(1L, long(std::floor(double(w) * k + 1e-9)));
        h = std::max(1L, long(std::floor(double(h) * k + 1e-9)));
    };
    auto resized = [&](const std::string& fileKey, long w, long h, auto source) -> const Bitmap* {
        const std::string key = fileKey + "@" + std::to_string(w) + "x" + std::to_string(h);
        if (const Bitmap* made = thumbCache.find(key)) return made;
        const Bitmap* from = source();
        return from ? thumbCache.put(key, boxResize(*from, int(w), int(h))) : nullptr;
    };
    char label[32];
    std::snprintf(label, sizeof label, "%gx", paintScale_);
    if (const Bitmap* exact = pictures.get(id, art::Kind::Logo, label, maxW, maxH)) {
        long w = exact->w, h = exact->h;
        fit(w, h);
        if (w == exact->w && h == exact->h) return exact;
        return resized(pictures.fileKey(id, art::Kind::Logo, label), w, h, [exact] { return exact; });
    }
    // No logo at this scale: the one of the nearest scale the catalog has (the larger on a tie), resized.
    // One that is refused or does not decode is not tried twice, so the search always ends.
    std::vector<std::string> tried;
    for (;;) {
        std::string nearest;
        double nearestScale = 0;
        int32_t pw = 0, ph = 0;
        for (const std::string& key : pictures.keys(id, art::Kind::Logo)) {
            const double s = keyScale(key);
            if (s <= 0 || std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
            if (!pictures.size(id, art::Kind::Logo, key, pw, ph) || pw > maxW || ph > maxH) continue;
            const double d = std::fabs(s - paintScale_), best = std::fabs(nearestScale - paintScale_);
            if (nearest.empty() || d < best || (d == best && s > nearestScale)) nearest = key, nearestScale = s;
        }
        if (nearest.empty() || !pictures.size(id, art::Kind::Logo, nearest, pw, ph)) return nullptr;
        long w = std::lround(pw * paintScale_ / nearestScale), h = std::lround(ph * paintScale_ / nearestScale);
        if (w < 1 || h < 1 || w > maxW || h > maxH) return nullptr;
        fit(w, h);
        if (const Bitmap* made = resized(pictures.fileKey(id, art::Kind::Logo, nearest), w, h,
                                         [&] { return pictures.get(id, art::Kind::Logo, nearest, maxW, maxH); }))
            return made;
        tried.push_back(nearest);
    }
}

void ManagerView::label(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key) {
    // Font and text of every fixed label.
    static const std::map<std::string, std::pair<const char*, const char*>> kLabels = {
        {"title", {"head", "ARDUNE SYSTEMS"}}, {"col_name", {"small", "Name"}},
        {"col_version", {"bold", "Version"}}, {"col_status", {"bold", "Status"}},
        {"col_action", {"bold", "Action"}},   {"inspect", {"bold", "INSPECT"}},
        {"manage", {"bold", "MANAGE"}},       {"more", {"small", "More"}},
        {"open", {"small", "Open"}},          {"update_all", {"pill", "UPDATE ALL"}},
        {"account", {"pill", "ACCOUNT"}},
    };
    // Labels that sit on a button: they take the button's x and width.
    // The ones on a pill sink with it while it is held.
    struct On {
        MainPart part;
        bool sinks;
    };
    static const std::map<std::string, On> kOn = {{"update_all", {MainPart::UpdateAll, true}},
                                                  {"account", {MainPart::Account, true}},
                                                  {"col_name", {MainPart::Sort, false}}};
    const auto found = kLabels.find(key);
    if (found == kLabels.end()) return;
    const auto [font, words] = found->second;
    const lumo::Json& box0 = (*managerLayout_)["labels"][key];
    Rect box = mapRect(boxRect(box0));
    const std::string colour = "lbl_" + key;
    std::string shown = words;
    if (key == "title") {
        const lumo::gui::BitmapFont* f = fontOf(pack, "head");
        if (!f || !look_->labelShape(*this, key, box, shown)) return;
        const double y = box.y + box.h * 0.5 + f->cap_height / paintScale_ * 0.5;
        text(canvas, pack, "head", shown, box.x, y, 'l', 0, colour.c_str(), 0, 1.0);
        return;
    }
    if (const auto on = kOn.find(key); on != kOn.end()) {
        const Rect s = partRect(mainPart(on->second.part));
        box.x = s.x;
        box.w = s.w;
        if (on->second.sinks && held(mainPart(on->second.part))) box.y += 1;
    }
    if (key == "more" || key == "open") box = shiftRect(boxRect(box0));
    if (!look_->labelShape(*this, key, box, shown)) return;
    const bool off = key == "more" && !enabled(mainPart(MainPart::More));
    centred(canvas, pack, font, shown, box, colour.c_str(), off ? kOffGain : 1.0);
}

}  // namespace tqapp
