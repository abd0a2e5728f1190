#include "flat/raster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

float roundedRectDistance(float px, float py, const Rect& r, float radius) {
    const float hw = float(r.w) / 2, hh = float(r.h) / 2;
    radius = std::clamp(radius, 0.f, std::min(hw, hh));
    const float qx = std::abs(px - float(r.x + r.w / 2)) - (hw - radius);
    const float qy = std::abs(py - float(r.y + r.h / 2)) - (hh - radius);
    const float ox = std::max(qx, 0.f), oy = std::max(qy, 0.f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.f) - radius;
}

float normalCdf(float x) {
    // Abramowitz and Stegun 7.1.26 for erf (error below 1.5e-7): the soft bands call
    // this for every pixel near an outline.
    // From 15 on exp(-z * z) is 0 in floats and the formula gives exactly 0 or 1.
    if (std::abs(x) >= 15) return x > 0 ? 1.f : 0.f;
    const float z = std::abs(x) * float(M_SQRT1_2);
    const float t = 1.f / (1.f + 0.3275911f * z);
    const float poly =
        t * (0.254829592f + t * (-0.284496736f + t * (1.421413741f + t * (-1.453152027f + t * 1.061405429f))));
    const float erfz = 1.f - poly * std::exp(-z * z);
    return x >= 0 ? 0.5f * (1 + erfz) : 0.5f * (1 - erfz);
}

namespace {
bool processorHasAVX2() {
#ifdef __SSE2__
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::atomic<bool>& wide() {
    static std::atomic<bool> on{processorHasAVX2()};
    return on;
}
}  // namespace

bool wideRegisters() { return wide().load(std::memory_order_relaxed); }
void useWideRegisters(bool on) { wide() = on && processorHasAVX2(); }

void parallelForImpl(int n, void (*fn)(void*, int), void* ctx) {
    if (n <= 0) return;
    const int workers = std::min<int>(n, std::max(1u, std::thread::hardware_concurrency()));
    if (workers == 1) {
        for (int i = 0; i < n; ++i) fn(ctx, i);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < n;) fn(ctx, i);
    };
    std::vector<std::jthread> pool;
    for (int t = 1; t < workers; ++t) pool.emplace_back(work);
    work();
}

void fill(View8 dst, Color c) {
    const Px8 p{unit8(float(c.b * c.a)), unit8(float(c.g * c.a)), unit8(float(c.r * c.a)), unit8(float(c.a))};
    const int ia = 255 - p.a;
    for (int i = 0; i < dst.h; ++i) {
        Px8* row = dst.top(i);
        for (int x = 0; x < dst.w; ++x) {
            Px8& d = row[x];
            d = ia == 0 ? p
                        : Px8{uint8_t(p.b + (d.b * ia + 127) / 255), uint8_t(p.g + (d.g * ia + 127) / 255),
                              uint8_t(p.r + (d.r * ia + 127) / 255), uint8_t(p.a + (d.a * ia + 127) / 255)};
        }
    }
}

void fillRoundedRect(View8 dst, const Rect& r, double radius, Color c) {
    const float cr = float(c.r * c.a) * 255, cg = float(c.g * c.a) * 255, cb = float(c.b * c.a) * 255;
    const float ca = float(c.a);
    auto paint = [&](Px8& d, float cov) {
        const float ik = 1 - ca * cov;
        d = {round8(cb * cov + d.b * ik), round8(cg * cov + d.g * ik), round8(cr * cov + d.r * ik),
             round8(ca * 255 * cov + d.a * ik)};
    };
    scanRoundedRect(
        r, float(radius), 0.5f, dst.w, dst.h,
        [&](int y, int x0, int x1) {
            for (int x = x0; x < x1; ++x) paint(dst.row(y)[x], 1);
        },
        [&](int x, int y, float d) { paint(dst.row(y)[x], coverageOf(d)); });
}

void fillRoundedRect(SurfaceF& dst, const Rect& r, double radius, Color c) {
    const float cr = float(c.r * c.a), cg = float(c.g * c.a), cb = float(c.b * c.a), ca = float(c.a);
    auto paint = [&](PxF& d, float cov) {
        const float ik = 1 - ca * cov;
        d = {cr * cov + d.r * ik, cg * cov + d.g * ik, cb * cov + d.b * ik, ca * cov + d.a * ik};
    };
    scanRoundedRect(
        r, float(radius), 0.5f, dst.w, dst.h,
        [&](int y, int x0, int x1) {
            for (int x = x0; x < x1; ++x) paint(dst.row(y)[x], 1);
        },
        [&](int x, int y, float d) { paint(dst.row(y)[x], coverageOf(d)); });
}

void coverRoundedRect(Plane& dst, const Rect& r, double radius) {
    scanRoundedRect(
        r, float(radius), 0.5f, dst.w, dst.h,
        [&](int y, int x0, int x1) { std::fill(dst.row(y) + x0, dst.row(y) + x1, 1.f); },
        [&](int x, int y, float d) { dst.row(y)[x] = std::max(dst.row(y)[x], coverageOf(d)); });
}

namespace {

// One vertical pass of a normalised kernel, accumulating whole rows so that the inner
// loop runs along memory and vectorises.
void blurColumns(const Plane& src, Plane& dst, const std::vector<float>& k, int rad) {
    // Where each source row holds anything: zeros add nothing to any sum, so they are
    // skipped (shadow shapes leave most of their layer's rows and columns empty).
    std::vector<Span> live(size_t(src.h));
    parallelFor(src.h, [&](int j) {
        const float* in = src.top(j);
        int a = 0, b = src.w;
        while (a < b && in[a] == 0) ++a;
        while (b > a && in[b - 1] == 0) --b;
        live[size_t(j)] = {a, b};
    });
    const int bands = std::min(src.h, 64);
    parallelFor(bands, [&](int band) {
        const int i0 = int(int64_t(src.h) * band / bands), i1 = int(int64_t(src.h) * (band + 1) / bands);
        for (int i = i0; i < i1; ++i) {
            float* out = dst.top(i);
            std::fill(out, out + src.w, 0.f);
            const int a = std::max(0, i - rad), b = std::min(src.h - 1, i + rad);
            for (int j = a; j <= b; ++j) {
                const float kw = k[size_t(j - i + rad)];
                const float* in = src.top(j);
                for (int x = live[size_t(j)].x0; x < live[size_t(j)].x1; ++x) out[x] += kw * in[x];
            }
        }
    });
}

// The same kernel along each row, one tap at a time over the whole row: each sum still
// takes its terms from left to right.
void blurRows(Plane& p, const std::vector<float>& k, int rad) {
    parallelFor(p.h, [&](int i) {
        thread_local std::vector<float> out;
        float* in = p.top(i);
        int a = 0, b = p.w;
        while (a < b && in[a] == 0) ++a;
        while (b > a && in[b - 1] == 0) --b;
        out.assign(size_t(p.w), 0.f);
        for (int o = -rad; o <= rad; ++o) {
            const float kw = k[size_t(o + rad)];
            for (int x = std::max(a - o, 0), end = std::min(b - o, p.w); x < end; ++x) out[size_t(x)] += kw * in[x + o];
        }
        std::copy(out.begin(), out.end(), in);
    });
}

}  // namespace

void gaussianBlur(Plane& p, double sigma) {
    if (sigma <= 0 || p.w == 0 || p.h == 0) return;
    const int rad = blurReach(sigma);
    std::vector<float> k(size_t(2 * rad + 1));
    double sum = 0;
    for (int i = -rad; i <= rad; ++i) sum += k[size_t(i + rad)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& v : k) v = float(v / sum);
    Plane tmp(p.w, p.h);
    blurColumns(p, tmp, k, rad);
    blurRows(tmp, k, rad);
    p = std::move(tmp);
}

void drawOver(View8 dst, const Image8& src, int x, int y) {
    for (int sy = 0; sy < src.h; ++sy) {
        const int dy = y + sy;
        if (dy < 0 || dy >= dst.h) continue;
        const Px8* s = src.row(sy);
        Px8* d = dst.row(dy);
        for (int sx = 0; sx < src.w; ++sx) {
            const int dx = x + sx;
            if (dx < 0 || dx >= dst.w) continue;
            const Px8 p = s[sx];
            if (p.a == 255) {
                d[dx] = p;
            } else if (p.a) {
                const int ia = 255 - p.a;
                Px8& q = d[dx];
                q = {uint8_t(p.b + (q.b * ia + 127) / 255), uint8_t(p.g + (q.g * ia + 127) / 255),
                     uint8_t(p.r + (q.r * ia + 127) / 255), uint8_t(p.a + (q.a * ia + 127) / 255)};
            }
        }
    }
}
