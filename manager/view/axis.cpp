#include "manager/view/axis.h"

#include <algorithm>
#include <cmath>

namespace tqapp {

int32_t scaled(double a, double scale) { return int32_t(std::floor(a * scale + 1e-9)); }

double Axis::map(double v) const {
    double out = v;
    for (const Band& b : bands) {
        if (v >= b.pos + b.len)
            out += b.extra;
        else if (v > b.pos)
            out += (v - b.pos) * b.extra / b.len;
    }
    return out;
}

int32_t Axis::shiftAt(double c) const {
    int32_t d = 0;
    for (const Band& b : bands)
        if (c >= b.pos + b.len * 0.5) d += b.extra;
    return d;
}

int32_t Axis::total() const {
    int32_t d = 0;
    for (const Band& b : bands) d += b.extra;
    return d;
}

void Axis::spread(int32_t extra, double share) {
    extra = std::max(extra, 0);
    if (bands.empty()) return;
    if (bands.size() == 1) {
        bands[0].extra = extra;
        return;
    }
    const int32_t rest = int32_t(std::floor(extra * share));
    bands[0].extra = extra - rest;
    const int32_t n = int32_t(bands.size()) - 1;
    const int32_t q = rest / n, r = rest % n;
    for (int32_t i = 1; i <= n; ++i) bands[size_t(i)].extra = q + (i <= r ? 1 : 0);
}

std::vector<Axis::Seg> Axis::segments(int32_t start, int32_t len, double scale, bool sliceable) const {
    std::vector<Seg> out;
    if (!sliceable) {
        int32_t shift = 0;
        const double centre = (start + len / 2.0) / scale;
        for (const Band& b : bands)
            if (b.pos + b.len / 2.0 <= centre) shift += b.extra;
        out.push_back({0, len, start + scaled(shift, scale), len, false});
        return out;
    }
    if (len < 1) return out;
    if (bands.empty()) {
        out.push_back({0, len, start, len, false});
        return out;
    }
    const int32_t margin = scaled(10, scale);
    int32_t cursor = 0;
    int32_t acc = 0;
    for (const Band& b : bands) {
        const int32_t bandEnd = scaled(b.pos + b.len, scale) - start;
        if (bandEnd <= 0) {  // the band lies before the bitmap
            acc += b.extra;
            continue;
        }
        const int32_t bandStart = scaled(b.pos, scale) - start;
        if (bandStart >= len) break;
        if (margin <= bandStart && bandEnd <= len - margin) {
            const int32_t s = std::max(bandStart, 0);
            if (s > cursor) out.push_back({cursor, s - cursor, start + cursor + scaled(acc, scale), s - cursor, false});
            const int32_t e = std::min(len, bandEnd);
            out.push_back({s, e - s, start + s + scaled(acc, scale),
                           (e - s) - scaled(acc, scale) + scaled(acc + b.extra, scale), true});
            acc += b.extra;
            cursor = e;
        } else if (!out.empty() && out.back().stretched) {
            out.back().dstLen += scaled(acc + b.extra, scale) - scaled(acc, scale);
            acc += b.extra;
        } else if (cursor == 0) {
            if (bandStart + bandEnd < len) acc += b.extra;  // the band's centre lies in the first half
        }
    }
    if (cursor < len) out.push_back({cursor, len - cursor, start + cursor + scaled(acc, scale), len - cursor, false});
    return out;
}

}  // namespace tqapp
