// The path fill rasterizer: edges are bucketed once by their first sub-scanline, an active list is
// kept incrementally, and each sub-scanline adds the exact horizontal coverage of its inside spans
// to a row of floats that is then blended in one pass.
#include "gui/draw/raster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "gui/draw/blend.h"

namespace lumo::gui {

namespace {

std::atomic<int> gThreads{1};

// Bands are worth threads only for big edge lists.
constexpr size_t kMinEdgesForThreads = 2048;

struct Entry {
    double x0, y0, slope, yMin, yMax;
    int dir;
    int first;  // first sub-scanline at or below yMin, counted from the top row
};

struct Active {
    double x;
    double x0, y0, slope, yMax;
    int dir;
};

// Per-thread scratch, grown once and reused by later fills on the same thread.
struct Scratch {
    std::vector<Active> active;
    std::vector<float> partial;   // coverage of pixels that spans start or end in
    std::vector<int32_t> delta;   // +1 / -1 where runs of whole pixels start / end
    std::vector<uint64_t> marks;  // one bit per pixel with a partial or a delta
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

struct Job {
    Canvas* canvas;
    const std::vector<Entry>* entries;  // sorted by first
    const std::vector<int>* bucket;     // bucket[k]: index of the first entry with first >= k
    int x0, x1, y0, S;
    const double* off;  // off[k] = (k + 0.5) / S, sub-scanline k's offset within its row
    bool evenOdd;
    uint32_t px;  // the colour as a pixel
    uint32_t alpha;
};

// Height of sub-scanline gi counted from the top row y0: row + (k + 0.5) / S, so that it depends
// only on the row, not on where the fill's top lies.
inline double subY(int y0, int gi, int S, const double* off) { return (double)(y0 + gi / S) + off[gi % S]; }

inline double clampX(double x, double lo, double hi) {
    // Crossings beyond either side act alike; clamping also keeps NaN from the sort.
    if (!(x >= lo)) x = lo;
    if (!(x <= hi)) x = hi;
    return x;
}

// Sorts the active list by x: insertion sort (the order barely changes between sub-scanlines),
// falling back to a full sort when it does change a lot.
void sortActive(std::vector<Active>& a) {
    size_t moves = 0, budget = 8 * a.size() + 64;
    for (size_t i = 1; i < a.size(); ++i) {
        if (!(a[i].x < a[i - 1].x)) continue;
        Active v = a[i];
        size_t j = i;
        while (j > 0 && v.x < a[j - 1].x) {
            a[j] = a[j - 1];
            --j;
        }
        a[j] = v;
        moves += i - j;
        if (moves > budget) {
            std::sort(a.begin(), a.end(), [](const Active& p, const Active& q) { return p.x < q.x; });
            return;
        }
    }
}

// floor for values known to fit an int (crossings are clamped to the columns).
inline int floorInt(double v) {
    int i = (int)v;
    return i - (v < (double)i);
}

// One row's coverage: partial pixels hold their own fractions; between them, whole pixels are
// counted by deltas, so a span costs the same whatever its length.
struct RowCover {
    float* partial;
    int32_t* delta;
    uint64_t* marks;
    int x0, x1;
    double invS;

    void mark(int i) { marks[i >> 6] |= 1ull << (i & 63); }

    // The inside span [a, b], already within [x0, x1].
    void add(double a, double b) {
        if (!(a < b)) return;
        const int fa = floorInt(a), fb = floorInt(b);
        const int ia = fa - x0, ib = fb - x0;
        if (fa == fb) {
            partial[ia] += (float)((b - a) * invS);
            mark(ia);
            return;
        }
        partial[ia] += (float)(((double)fa + 1.0 - a) * invS);
        mark(ia);
        if (ib > ia + 1) {
            delta[ia + 1] += 1;
            delta[ib] -= 1;
            mark(ia + 1);
            mark(ib);
        }
        if (fb < x1) {
            partial[ib] += (float)((b - (double)fb) * invS);
            mark(ib);
        }
    }
};

inline uint32_t weightOf(float c, float alpha) {
    c = std::min(c, 1.0f);
    if ((double)c <= 0.002) return 0;  // 0.002f lies above 0.002
    // Nearest, halves away from zero, for the non-negative product (exact in double).
    return (uint32_t)((double)(alpha * c) + 0.5);
}

// Blends a run of n pixels at one weight.
inline void run(uint32_t* p, int n, uint32_t px, uint32_t w) {
    if (n <= 0 || w == 0) return;
    if (w == 255) {
        const uint32_t v = px | 0xFF000000u;
        int i = 0;
#if defined(__SSE2__)
        const __m128i vv = _mm_set1_epi32((int32_t)v);
        for (; i + 8 <= n; i += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), vv);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 4), vv);
        }
#endif
        for (; i < n; ++i) p[i] = v;
    } else if (n < 4) {
        for (int i = 0; i < n; ++i) p[i] = blend::one(p[i], px, w);
    } else {
        blend::Solid(px, w).span(p, n);
    }
}

void renderRows(const Job& job, int rowBegin, int rowEnd) {
    Scratch& sc = scratch();
    const int S = job.S;
    const int width = job.x1 - job.x0;
    const size_t words = (size_t)(width + 1 + 63) / 64;
    sc.partial.assign((size_t)width + 1, 0.f);
    sc.delta.assign((size_t)width + 1, 0);
    sc.marks.assign(words, 0);
    RowCover rc{sc.partial.data(), sc.delta.data(), sc.marks.data(), job.x0, job.x1, 1.0 / S};
    auto& act = sc.active;
    act.clear();
    const auto& entries = *job.entries;
    const auto& bucket = *job.bucket;
    const float fullS = 1.0f / (float)S;
    const double lx = job.x0 - 1, rx = job.x1 + 1;

    // Edges that began above this band and are still active at its first sub-scanline.
    const int firstSub = (rowBegin - job.y0) * S;
    const double sStart = subY(job.y0, firstSub, S, job.off);
    for (int i = 0; i < bucket[firstSub]; ++i) {
        const Entry& e = entries[i];
        if (e.yMax > sStart) act.push_back({0, e.x0, e.y0, e.slope, e.yMax, e.dir});
    }
    for (int row = rowBegin; row < rowEnd; ++row) {
        for (int k = 0; k < S; ++k) {
            const int gi = (row - job.y0) * S + k;
            const double s = (double)row + job.off[k];
            // Leave when s >= yMax; the rest keep their order and move to this height.
            size_t w = 0;
            for (size_t i = 0; i < act.size(); ++i) {
                if (!(s < act[i].yMax)) continue;
                Active a = act[i];
                a.x = clampX(a.x0 + (s - a.y0) * a.slope, lx, rx);
                act[w++] = a;
            }
            act.resize(w);
            for (int i = bucket[gi]; i < bucket[gi + 1]; ++i) {
                const Entry& e = entries[i];
                if (!(s < e.yMax)) continue;
                act.push_back({clampX(e.x0 + (s - e.y0) * e.slope, lx, rx), e.x0, e.y0, e.slope, e.yMax, e.dir});
            }
            sortActive(act);
            // Walk the crossings; a run of inside spans is added as one span.
            int wind = 0;
            bool inside = false;
            double start = 0;
            for (const Active& a : act) {
                wind += job.evenOdd ? 1 : a.dir;
                bool now = job.evenOdd ? (wind & 1) != 0 : wind != 0;
                if (now == inside) continue;
                if (now) {
                    start = a.x;
                } else {
                    rc.add(std::max(start, (double)job.x0), std::min(a.x, (double)job.x1));
                }
                inside = now;
            }
        }
        // Walk the marked pixels left to right; between two marks the coverage is constant.
        uint32_t* line = job.canvas->pixels.data() + (size_t)row * (size_t)job.canvas->width + (size_t)job.x0;
        const float A = (float)job.alpha;
        int count = 0, pos = -1;
        for (size_t wi = 0; wi < words; ++wi) {
            uint64_t bits = sc.marks[wi];
            if (!bits) continue;
            sc.marks[wi] = 0;
            do {
                const int i = (int)(wi * 64) + __builtin_ctzll(bits);
                bits &= bits - 1;
                if (pos >= 0 && count > 0) run(line + pos, i - pos, job.px, weightOf((float)count * fullS, A));
                count += sc.delta[(size_t)i];
                sc.delta[(size_t)i] = 0;
                if (i >= width) {
                    pos = -1;
                    break;
                }
                const float c = sc.partial[(size_t)i] + (float)count * fullS;
                sc.partial[(size_t)i] = 0.f;
                line[i] = blend::one(line[i], job.px, weightOf(c, A));
                pos = i + 1;
            } while (bits);
        }
    }
}

}  // namespace

void setRasterThreads(int n) { gThreads.store(std::clamp(n, 1, 64), std::memory_order_relaxed); }
int rasterThreads() { return gThreads.load(std::memory_order_relaxed); }

namespace raster {

void addPolygon(std::vector<Edge>& edges, const Pt* p, size_t n, bool orient) {
    if (n < 2) return;
    bool reverse = false;
    if (orient) {
        double area = 0;
        for (size_t i = 0; i < n; ++i) {
            const Pt& a = p[i];
            const Pt& b = p[(i + 1) % n];
            area += a.x * b.y - b.x * a.y;
        }
        reverse = area < 0;
    }
    for (size_t i = 0; i < n; ++i) {
        Pt a = p[i], b = p[(i + 1) % n];
        if (reverse) std::swap(a, b);
        if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) continue;
        if (a.y == b.y) continue;
        edges.push_back({a.x, a.y, b.x, b.y, b.y > a.y ? 1 : -1});
    }
}

void rasterize(Canvas& canvas, const std::vector<Edge>& edges, Color color, bool evenOdd, int samples) {
    if (edges.empty()) return;
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (const Edge& e : edges) {
        minX = std::min({minX, e.x0, e.x1});
        maxX = std::max({maxX, e.x0, e.x1});
        minY = std::min({minY, e.y0, e.y1});
        maxY = std::max({maxY, e.y0, e.y1});
    }
    const blend::Box clip = blend::clipBox(canvas);
    if (clip.empty()) return;
    // Bounds meet the clip in doubles, so huge coordinates never reach an integer conversion.
    const int x0 = (int)std::max(std::floor(minX), (double)clip.x0);
    const int x1 = (int)std::min(std::ceil(maxX) + 1, (double)clip.x1);
    const int y0 = (int)std::max(std::floor(minY), (double)clip.y0);
    const int y1 = (int)std::min(std::ceil(maxY) + 1, (double)clip.y1);
    if (x1 <= x0 || y1 <= y0) return;
    const int S = std::clamp(samples, 1, 64);
    const int rows = y1 - y0;
    const int subs = rows * S;
    double off[64];
    for (int k = 0; k < S; ++k) off[k] = ((double)k + 0.5) / S;

    thread_local std::vector<Entry> entries, sorted;
    thread_local std::vector<int> bucket;
    entries.clear();
    bucket.assign((size_t)subs + 2, 0);
    for (const Edge& e : edges) {
        double yMin = std::min(e.y0, e.y1), yMax = std::max(e.y0, e.y1);
        if (yMax <= y0 || yMin >= y1) continue;
        // First sub-scanline s with yMin <= s, found in doubles and then checked exactly.
        double k = std::ceil((yMin - y0) * S - 0.5);
        int first = k <= 0 ? 0 : k >= subs ? subs : (int)k;
        while (first > 0 && subY(y0, first - 1, S, off) >= yMin) --first;
        while (first < subs && subY(y0, first, S, off) < yMin) ++first;
        if (first >= subs) continue;
        entries.push_back({e.x0, e.y0, (e.x1 - e.x0) / (e.y1 - e.y0), yMin, yMax, e.dir, first});
        ++bucket[(size_t)first + 1];
    }
    if (entries.empty()) return;
    for (int i = 1; i <= subs + 1; ++i) bucket[(size_t)i] += bucket[(size_t)i - 1];
    sorted.resize(entries.size());
    {
        thread_local std::vector<int> fillAt;
        fillAt.assign(bucket.begin(), bucket.end());
        for (const Entry& e : entries) sorted[(size_t)fillAt[(size_t)e.first]++] = e;
    }

    const uint32_t alpha = color >> 24;
    if (alpha == 0) return;
    Job job{&canvas, &sorted, &bucket, x0, x1, y0, S, off, evenOdd, pixelOf(color), alpha};

    int threads = std::min(rows / 8, rasterThreads());
    if (threads < 2 || edges.size() < kMinEdgesForThreads) {
        renderRows(job, y0, y1);
        return;
    }
    const int bands = std::min(2 * threads, rows);
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < bands;)
            renderRows(job, y0 + (int)((int64_t)rows * i / bands), y0 + (int)((int64_t)rows * (i + 1) / bands));
    };
    std::vector<std::thread> pool;
    pool.reserve((size_t)threads - 1);
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work);
        } catch (...) {
            break;  // no more threads: the ones running and this one share the bands
        }
    }
    work();
    for (auto& t : pool) t.join();
}

}  // namespace raster

void fillPath(Canvas& canvas, const Path& path, Color color, bool evenOdd, int samples) {
    thread_local std::vector<raster::Edge> edges;
    edges.clear();
    for (const auto& sub : path.subs) raster::addPolygon(edges, sub.points.data(), sub.points.size(), false);
    raster::rasterize(canvas, edges, color, evenOdd, samples);
}

}  // namespace lumo::gui
