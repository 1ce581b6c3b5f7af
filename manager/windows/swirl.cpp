#include "gui/draw/clip_scope.h"
#include "manager/windows/swirl.h"

#include <algorithm>
#include <cmath>

#include "gui/place.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp {

namespace {

// Ten glyphs of 3 x 5 dots, emptiest first.
constexpr const char* kGlyphs[10][5] = {
    {"...", "...", "...", "...", "..."}, {"...", "...", "...", "...", ".#."},
    {"...", ".#.", "...", ".#.", "..."}, {"...", "...", "###", "...", "..."},
    {"...", ".#.", "#.#", ".#.", "..."}, {"...", ".#.", "###", ".#.", "..."},
    {".#.", "#.#", ".#.", "#.#", ".#."}, {".#.", "#.#", "#.#", "#.#", ".#."},
    {"##.", "#.#", "##.", "#.#", "##."}, {"#.#", "###", "#.#", "###", "#.#"},
};

// The 32-bit linear congruential step; a draw is one step, then bits 8 to 23.
struct Lcg {
    uint32_t s;
    void step() { s = s * 1664525u + 1013904223u; }
    uint32_t draw() {
        step();
        return (s >> 8) & 0xFFFFu;
    }
};

float fade(float t) { return t * t * t * (t * (6 * t - 15) + 10); }
float lerp(float a, float b, float k) { return a + (b - a) * k; }

// The low 8 bits of floor(v) as a signed integer; fills in the fraction. v is finite and below
// 1e15 in size: the truncation toward zero, one less for a negative fraction, is floor(v) exactly
// (and cheaper than the library's floor where the processor has no rounding instruction).
int lattice(float v, float& frac) {
    int64_t i = int64_t(v);
    if (float(i) > v) --i;
    frac = v - float(i);
    return int(i & 255);
}

}  // namespace

Swirl::Swirl() {
    Lcg rng{7};
    for (int i = 0; i < 256; ++i) {
        permutation[i] = uint8_t(i);
        values[i] = float(rng.draw()) / 65535.0f;
    }
    for (uint32_t n = 256; n >= 2; --n) {
        rng.step();
        const uint32_t j = (rng.s >> 8) % n;
        std::swap(permutation[n - 1], permutation[j]);
    }
    std::copy(permutation, permutation + 256, permutation + 256);
}

float Swirl::noise(float x, float y, float z) const {
    // Far or non-finite coordinates have no lattice cell; they read as empty.
    constexpr float kFar = 1e15f;
    if (!(std::fabs(x) < kFar && std::fabs(y) < kFar && std::fabs(z) < kFar)) return 0.0f;
    float fx, fy, fz;
    const int X = lattice(x, fx), Y = lattice(y, fy), Z = lattice(z, fz);
    const uint8_t* P = permutation;
    const int A = P[X] + Y, AA = P[A] + Z, AB = P[A + 1] + Z;
    const int B = P[X + 1] + Y, BA = P[B] + Z, BB = P[B + 1] + Z;
    const float u = fade(fx), v = fade(fy), w = fade(fz);
    return lerp(lerp(lerp(values[P[AA]], values[P[BA]], u), lerp(values[P[AB]], values[P[BB]], u), v),
                lerp(lerp(values[P[AA + 1]], values[P[BA + 1]], u), lerp(values[P[AB + 1]], values[P[BB + 1]], u), v),
                w);
}

float Swirl::fbm(float x, float y, float z, int octaves) const {
    float sum = 0, total = 0, amplitude = 0.5f, frequency = 1.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += noise(x * frequency, y * frequency, z * frequency) * amplitude;
        total += amplitude;
        amplitude *= 0.5f;
        frequency *= 2.03f;
    }
    return total > 0 ? sum / total : 0.0f;
}

float Swirl::field(float x, float y, float t) const {
    const float px = x / 95.0f, py = y / 95.0f, tau = 0.03f * t;
    const float q1 = fbm(px, py, tau, 1);
    const float q2 = fbm(px + 5.2f, py + 1.3f, tau + 3.7f, 1);
    const float wx = px + 1.5f * q1, wy = py + 1.5f * q2;
    const float r1 = fbm(wx + 1.7f + tau, wy + 9.2f, 1.2f * tau, 2);
    const float r2 = fbm(wx + 8.3f, wy + 2.8f - 0.02f * t, 1.2f * tau + 5.1f, 2);
    const float f = fbm(px + 1.9f * r1, py + 1.9f * r2, 0.8f * tau, 2);
    float ridge = 1.0f - 2.0f * std::fabs(f - 0.5f) / 0.6f;
    ridge = ridge < 0 ? 0.0f : std::pow(std::min(ridge, 1.0f), 1.6f);
    float body = (f - 0.48f) / 0.3f;
    body = body < 0 ? 0.0f : std::min(body, 1.0f) * 0.5f;
    const float m = std::max(body, ridge);
    return std::clamp((m - 0.44f) / 0.56f, 0.0f, 1.0f);
}

int Swirl::glyphFor(float f, double energy, float cellPhase, double phase, bool failed, int c, int r) {
    const double g = f + energy * (0.35 + 0.65 * f);
    const double G = g < 0 ? 0.0 : std::min(g, 1.0);
    const double raw = std::floor(G * 9 + 0.5 + 0.12 * std::sin(cellPhase + 2.1 * phase));
    const int level = raw >= 9 ? 9 : raw <= 0 ? 0 : int(raw);
    if (failed ? level > 2 : level > 0) return failed ? level - 2 : level;
    // The faint dot grid where the figure is empty.
    return (r & 1) && (c + (r & 2)) % 4 == 1 ? 1 : -1;
}

void Swirl::draw(lumo::gui::Canvas& canvas, lumo::gui::Rect area, int unit, double scale, double phase,
                 double energy, bool failed) {
    canvas.fillRect(area, dev::bg);
    const int u = std::max(unit, 1);
    const int cw = 4 * u, ch = 6 * u;
    const int cols = std::max(area.w, 0) / cw, rows = std::max(area.h, 0) / ch;
    if (cols < 1 || rows < 1) return;
    if (cols != gridColumns || rows != gridRows) {
        gridColumns = cols;
        gridRows = rows;
        cellPhases.resize(size_t(cols) * size_t(rows));
        Lcg rng{11};
        for (float& ph : cellPhases) ph = float(rng.draw()) / 65535.0f * 6.2831855f;
    }
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
    const int left = area.x + (area.w % cw) / 2, top = area.y + (area.h % ch) / 2;
    dev::ClipScope clip(canvas, area);
    // The dots are set straight into the pixels inside the clip (what an opaque fill of each would do).
    const lumo::gui::Rect in = lumo::gui::intersect(canvas.clip, lumo::gui::Rect{0, 0, canvas.width, canvas.height});
    const uint32_t ink = lumo::gui::pixelOf(dev::cream) | 0xFF000000u;
    const bool direct = (dev::cream >> 24) == 0xFF && canvas.pixels.size() >= size_t(canvas.width) * size_t(canvas.height);
    auto dot = [&](int x, int y) {
        if (!direct) {
            canvas.fillRect(lumo::gui::Rect{x, y, u, u}, dev::cream);
            return;
        }
        const int x0 = std::max(x, in.x), x1 = std::min(x + u, in.x + in.w);
        const int y0 = std::max(y, in.y), y1 = std::min(y + u, in.y + in.h);
        for (int py = y0; py < y1; ++py)
            std::fill_n(canvas.pixels.data() + size_t(py) * size_t(canvas.width) + size_t(x0), std::max(0, x1 - x0), ink);
    };
    for (int r = 0; r < rows; ++r) {
        const float ly = float((r + 0.5) * ch / scale);
        for (int c = 0; c < cols; ++c) {
            const float f = field(float((c + 0.5) * cw / scale), ly, float(phase));
            const int g = glyphFor(f, energy, cellPhases[size_t(r) * cols + c], phase, failed, c, r);
            if (g <= 0) continue;
            const int x0 = left + c * cw, y0 = top + r * ch;
            for (int i = 0; i < 5; ++i)
                for (int j = 0; j < 3; ++j)
                    if (kGlyphs[g][i][j] == '#') dot(x0 + j * u, y0 + i * u);
        }
    }
}

}  // namespace tqapp
