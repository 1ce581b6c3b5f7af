#include "gui/draw/cursor_image.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace lumo::gui {

namespace {

// lround for sizes: non-finite or out-of-range values are pulled into the int range first.
int64_t roundSize(double v) {
    if (!(v > 0)) return 0;
    return std::lround(std::min(v, 2147483647.0));
}

}  // namespace

uint64_t CursorImage::nextId() {
    static std::atomic<uint64_t> counter{0};
    return counter.fetch_add(1) + 1;
}

void CursorImage::add(const Bitmap& bitmap, double scale) {
    if (bitmap.w < 1 || bitmap.h < 1 || !(scale > 0)) return;
    for (Entry& e : images) {
        if (e.scale == scale) {
            e.bitmap = bitmap;
            return;
        }
    }
    images.push_back(Entry{scale, bitmap});
    std::stable_sort(images.begin(), images.end(), [](const Entry& a, const Entry& b) { return a.scale < b.scale; });
}

int CursorImage::width() const {
    return images.empty() ? 0 : int(roundSize(images.front().bitmap.w / images.front().scale));
}

int CursorImage::height() const {
    return images.empty() ? 0 : int(roundSize(images.front().bitmap.h / images.front().scale));
}

Bitmap CursorImage::render(double scale) const {
    if (!(scale > 0) || images.empty()) return Bitmap{};
    const Entry* chosen = &images.back();
    for (const Entry& e : images) {
        if (e.scale >= scale - 1e-9) {
            chosen = &e;
            break;
        }
    }
    const Entry& first = images.front();
    const int64_t tw = std::max<int64_t>(1, roundSize(double(roundSize(first.bitmap.w / first.scale)) * scale));
    const int64_t th = std::max<int64_t>(1, roundSize(double(roundSize(first.bitmap.h / first.scale)) * scale));
    const Bitmap& src = chosen->bitmap;
    if (src.w == tw && src.h == th) return src;
    if (src.w < 1 || src.h < 1 || src.pixels.size() < size_t(src.w) * size_t(src.h)) return Bitmap{};
    // A cursor larger than this is no cursor; refuse rather than allocate without bound.
    if (tw > 4096 || th > 4096) return Bitmap{};
    Bitmap out;
    out.w = int32_t(tw);
    out.h = int32_t(th);
    out.pixels.resize(size_t(tw * th));
    for (int64_t y = 0; y < th; ++y) {
        const int64_t sy = std::min<int64_t>(src.h - 1, y * src.h / th);
        for (int64_t x = 0; x < tw; ++x) {
            const int64_t sx = std::min<int64_t>(src.w - 1, x * src.w / tw);
            out.pixels[size_t(y * tw + x)] = src.pixels[size_t(sy * src.w + sx)];
        }
    }
    return out;
}

}  // namespace lumo::gui
