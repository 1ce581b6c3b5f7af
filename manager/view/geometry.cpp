// Geometry: the page spread over the window size by the stretch bands, design rectangles mapped or
// moved to the current size, sprite boxes, the scrollbar's travel, the look in use and its fonts, word wrap
// and the area-averaged resample.
#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

constexpr const char* kWindowBar = "Ardune Systems Manager/Main Windowbar/";

// Left, top, right and bottom insets of a sprite's opaque face.
using Insets = std::array<int32_t, 4>;

// The first solid line among lines [0, n - 1) and the lowest solid line below it; both n - 1 when
// only the last (or no) line is solid.
void solidSpan(int n, const std::function<bool(int)>& solid, int& first, int& last) {
    first = n - 1;
    for (int i = 0; i + 1 < n; ++i)
        if (solid(i)) {
            first = i;
            break;
        }
    last = first;
    if (first == n - 1) return;
    for (int i = n - 1; i > first; --i)
        if (solid(i)) {
            last = i;
            break;
        }
}

Insets measureInsets(const lumo::gui::Bitmap& b) {
    if (b.w < 1 || b.h < 1 || b.pixels.size() < size_t(b.w) * size_t(b.h)) return {0, 0, 0, 0};
    auto px = [&](int x, int y) { return (b.pixels[size_t(y) * size_t(b.w) + size_t(x)] >> 24) >= 128; };
    auto row = [&](int y) {
        int n = 0;
        for (int x = 0; x < b.w; ++x) n += px(x, y);
        return n * 10 >= b.w * 4;
    };
    auto col = [&](int x) {
        int n = 0;
        for (int y = 0; y < b.h; ++y) n += px(x, y);
        return n * 10 >= b.h * 4;
    };
    int top = 0, bottom = 0, left = 0, right = 0;
    solidSpan(b.h, row, top, bottom);
    solidSpan(b.w, col, left, right);
    return {left, top, b.w - 1 - right, b.h - 1 - bottom};
}

Insets insetsOf(const std::string& sprite) {
    static std::mutex mutex;
    static std::map<std::string, Insets> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(sprite);
    if (it != cache.end()) return it->second;
    const lumo::gui::Sprite* s = managerSkin().pack(1.0).sprite(sprite);
    const Insets in = s && s->image ? measureInsets(*s->image) : Insets{0, 0, 0, 0};
    cache.emplace(sprite, in);
    return in;
}

}  // namespace

lumo::gui::Rect boxRect(const lumo::Json& v) {
    const int32_t x0 = lumo::gui::jsonInt(v[0], 0), y0 = lumo::gui::jsonInt(v[1], 0);
    return {x0, y0, lumo::gui::jsonInt(v[2], 0) - x0, lumo::gui::jsonInt(v[3], 0) - y0};
}

lumo::gui::Rect layoutRect(const lumo::Json& v) { return lumo::gui::jsonRect(v); }

bool sliceable(const std::string& name) {
    static const char* const kWhole[] = {"led_", "check_", "label_", "win_", "more_",   "open_",
                                         "sb_",  "cap_",   "sort_",  "row_led", "row_pill"};
    for (const char* prefix : kWhole)
        if (name.rfind(prefix, 0) == 0) return false;
    return name != "over_1";
}

void ManagerView::setSize(int w, int h) {
    bounds = {0, 0, w, h};
    xAxis_.spread(std::max(0, w - pageWidth_), inspectorShare_);
    yAxis_.spread(std::max(0, h - pageHeight_), 0.0);  // the first y band takes all
    listRect_ = look_->listArea(*this, mapRect(layoutRect((*managerLayout_)["list_view"])));
    if (model_) clampScroll();
    repaint();
}

lumo::gui::Rect ManagerView::mapRect(lumo::gui::Rect r) const {
    const long x0 = std::lround(xAxis_.map(r.x)), x1 = std::lround(xAxis_.map(double(r.x) + r.w));
    const long y0 = std::lround(yAxis_.map(r.y)), y1 = std::lround(yAxis_.map(double(r.y) + r.h));
    return {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

lumo::gui::Rect ManagerView::shiftRect(lumo::gui::Rect r) const {
    return {r.x + xAxis_.shiftAt(r.x + r.w * 0.5), r.y + yAxis_.shiftAt(r.y + r.h * 0.5), r.w, r.h};
}

double ManagerView::left(const std::string& layer) const {
    const lumo::Json& v = (*layoutRects_)[layer]["r"][0];
    return xAxis_.map(v.isNumber() ? v.number : 0.0);
}

double ManagerView::base(const std::string& layer) const {
    const lumo::Json& v = (*layoutRects_)[layer]["base"];
    return yAxis_.map(v.isNumber() ? v.number : 0.0);
}

lumo::gui::Rect ManagerView::spriteRect(const std::string& name) const {
    const lumo::gui::Sprite* s = managerSkin().pack(1.0).sprite(name);
    if (!s) return {};
    const bool cut = sliceable(name);
    const std::vector<Axis::Seg> xs = xAxis_.segments(s->x, s->w, 1.0, cut);
    const std::vector<Axis::Seg> ys = yAxis_.segments(s->y, s->h, 1.0, cut);
    if (xs.empty() || ys.empty()) return {};
    return {xs.front().dst, ys.front().dst, xs.back().dst + xs.back().dstLen - xs.front().dst,
            ys.back().dst + ys.back().dstLen - ys.front().dst};
}

lumo::gui::Rect ManagerView::faceRect(const std::string& name) const { return faceRect(name, spriteRect(name)); }

lumo::gui::Rect ManagerView::faceRect(const std::string& name, lumo::gui::Rect r) const {
    const Insets in = insetsOf(name);
    return {r.x + in[0], r.y + in[1], std::max(1, r.w - in[0] - in[2]), std::max(1, r.h - in[1] - in[3])};
}

lumo::gui::Rect ManagerView::windowSlot(bool close) const {
    const std::string layer =
        std::string(kWindowBar) + (close ? "Window Close Button" : "Window Minimize Button");
    const lumo::gui::Rect r = boxRect((*layoutRects_)[layer]["r"]);
    return {r.x + xAxis_.total() - 1, r.y, 17, 17};
}

int32_t ManagerView::maxScroll() const {
    const int64_t m = int64_t(rowFirstY_) - (int64_t(listRect_.y) + listRect_.h) +
                      int64_t(displayList_.size()) * rowPitch_ + 2;
    return int32_t(std::clamp<int64_t>(m, 0, INT32_MAX));
}

lumo::gui::Rect ManagerView::scrollPart(MainPart kind) const { return look_->partBox(*this, mainPart(kind)); }

int32_t ManagerView::trackTravel() const {
    const lumo::gui::Rect up = scrollPart(MainPart::ScrollUp);
    const lumo::gui::Rect down = scrollPart(MainPart::ScrollDown);
    const lumo::gui::Rect cap = scrollPart(MainPart::Cap);
    return std::max(0, down.y - (up.y + up.h) - cap.h - 4);
}

int32_t ManagerView::capOffset() const {
    const lumo::gui::Rect up = scrollPart(MainPart::ScrollUp);
    const lumo::gui::Rect cap = scrollPart(MainPart::Cap);
    const int32_t top = up.y + up.h - cap.y + 2;
    const int32_t most = maxScroll();
    if (most < 1) return top;
    return top + int32_t(std::lround(double(trackTravel()) * scroll_ / most));
}

const lumo::gui::BitmapFont* ManagerView::fontAt(const lumo::gui::AssetPack& pack, const std::string& role,
                                                 double scale) const {
    return look_->font(pack, role, scale);
}

const lumo::gui::BitmapFont* ManagerView::fontOf(const lumo::gui::AssetPack& pack, const std::string& role) const {
    return fontAt(pack, role, paintScale_);
}

void ManagerView::setLook(int32_t which) {
    look_ = makeLook(which);
    setSize(bounds.w, bounds.h);
}

lumo::gui::Bitmap ManagerView::boxResize(const lumo::gui::Bitmap& src, int w, int h) {
    lumo::gui::Bitmap out;
    out.w = std::max(w, 0);
    out.h = std::max(h, 0);
    out.pixels.assign(size_t(out.w) * size_t(out.h), 0u);
    if (w < 1 || h < 1 || src.w < 1 || src.h < 1 || src.pixels.size() < size_t(src.w) * size_t(src.h))
        return out;
    // Per destination column (row): the source columns (rows) it covers with their overlap, in flat
    // arrays (one resize per newly shown row: this runs while a list scrolls).
    struct Covers {
        std::vector<int> first, begin;  // first source index; where its weights start (one past the last at the end)
        std::vector<double> weight;
    };
    auto covers = [](int sn, int dn) {
        Covers c;
        c.first.resize(size_t(dn));
        c.begin.resize(size_t(dn) + 1);
        for (int d = 0; d < dn; ++d) {
            const double a = double(d) * sn / dn, b = double(d + 1) * sn / dn;
            const int first = int(std::floor(a)), last = std::min(sn - 1, int(std::ceil(b)) - 1);
            c.first[size_t(d)] = first;
            c.begin[size_t(d)] = int(c.weight.size());
            for (int s = first; s <= last; ++s) c.weight.push_back(std::min<double>(b, s + 1) - std::max<double>(a, s));
        }
        c.begin[size_t(dn)] = int(c.weight.size());
        return c;
    };
    const Covers cx = covers(src.w, w), cy = covers(src.h, h);
    for (int y = 0; y < h; ++y) {
        const int j0 = cy.begin[size_t(y)], j1 = cy.begin[size_t(y) + 1];
        const uint32_t* rows = src.pixels.data() + size_t(cy.first[size_t(y)]) * size_t(src.w);
        uint32_t* line = out.pixels.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const int i0 = cx.begin[size_t(x)], i1 = cx.begin[size_t(x) + 1];
            const uint32_t* at = rows + cx.first[size_t(x)];
            double sum[4] = {0, 0, 0, 0}, total = 0;
            for (int j = j0; j < j1; ++j, at += src.w)
                for (int i = i0; i < i1; ++i) {
                    const double wgt = cy.weight[size_t(j)] * cx.weight[size_t(i)];
                    const uint32_t p = at[i - i0];
                    for (int k = 0; k < 4; ++k) sum[k] += wgt * double(p >> (24 - 8 * k) & 0xFF);
                    total += wgt;
                }
            uint32_t px = 0;
            for (int k = 0; k < 4; ++k) {
                // lround of a value in [0, 255], without the library call: the fraction is exact.
                const double q = total > 0 ? sum[k] / total : 0;
                long v = long(q);
                v += q - double(v) >= 0.5;
                px |= uint32_t(std::clamp<long>(v, 0, 255)) << (24 - 8 * k);
            }
            line[x] = px;
        }
    }
    return out;
}

std::vector<std::string> ManagerView::wrap(const lumo::gui::AssetPack& pack, const std::string& text,
                                           double width) const {
    const lumo::gui::BitmapFont* font = fontOf(pack, "val");
    const int limit = int(std::floor(width * paintScale_ + 1e-9));
    std::vector<std::string> lines;
    std::string line, word;
    auto place = [&] {
        if (word.empty()) return;
        const std::string candidate = line.empty() ? word : line + " " + word;
        if (font && font->width(candidate) > limit && !line.empty()) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
        word.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == '\n')
            place();
        else
            word += c;
    }
    place();
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void ManagerView::setAxes(Axis x, Axis y) {
    xAxis_ = std::move(x);
    yAxis_ = std::move(y);
    repaint();
}

}  // namespace tqapp
