#include "flat/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "flat/raster.h"

namespace {

// A pixel's four channels, and two pixels'.
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using F8 = float __attribute__((vector_size(32)));
using I8 = int32_t __attribute__((vector_size(32)));

double lanczos3(double x) {
    x = std::abs(x);
    if (x < 1e-9) return 1;
    if (x >= 3) return 0;
    const double px = M_PI * x;
    return 3 * std::sin(px) * std::sin(px / 3) / (px * px);
}

}  // namespace

int lanczosWeights(int src, double centre, double stretch, std::vector<double>& w) {
    const double support = 3 / stretch;
    const int lo = int(std::floor(centre - support)) + 1, hi = int(std::floor(centre + support));
    // Clamped edges: taps beyond the border fold onto the edge pixel.
    const int first = std::clamp(lo, 0, src - 1), last = std::clamp(hi, 0, src - 1);
    w.assign(size_t(last - first + 1), 0.0);
    double sum = 0;
    for (int j = lo; j <= hi; ++j) {
        const double v = lanczos3((j - centre) * stretch);
        w[size_t(std::clamp(j, 0, src - 1) - first)] += v;
        sum += v;
    }
    for (double& v : w) v /= sum;
    return first;
}

namespace {

// Weights for one axis: downscaling widens the kernel so that it also filters.
Lanczos::Taps makeTaps(int src, int dst) {
    Lanczos::Taps t;
    const double scale = double(dst) / src;
    const double stretch = std::min(scale, 1.0);
    t.first.resize(size_t(dst));
    t.count.resize(size_t(dst));
    t.offset.resize(size_t(dst));
    std::vector<double> w;
    for (int i = 0; i < dst; ++i) {
        t.first[size_t(i)] = lanczosWeights(src, (i + 0.5) / scale - 0.5, stretch, w);
        t.count[size_t(i)] = int(w.size());
        t.offset[size_t(i)] = int(t.weight.size());
        for (double v : w) t.weight.push_back(float(v));
    }
    return t;
}

}  // namespace

Lanczos::Lanczos(int srcW, int srcH, int dstW, int dstH)
    : m_sw(srcW), m_sh(srcH), m_dw(dstW), m_dh(dstH), m_x(makeTaps(srcW, dstW)), m_y(makeTaps(srcH, dstH)) {}

std::shared_ptr<const Lanczos> Lanczos::forSizes(int srcW, int srcH, int dstW, int dstH) {
    static std::mutex lock;
    static std::map<std::tuple<int, int, int, int>, std::shared_ptr<const Lanczos>> cache;
    std::lock_guard guard(lock);
    const auto key = std::make_tuple(srcW, srcH, dstW, dstH);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    if (cache.size() >= 32) cache.clear();  // a run uses a handful of scales; never grow without bound
    return cache[key] = std::make_shared<const Lanczos>(srcW, srcH, dstW, dstH);
}

void Lanczos::across(const uint8_t* s, float* out) const {
    // The row as floats first, then the four channels of a pixel side by side: each lane
    // adds its products in the same order as four separate sums would.
    thread_local std::vector<float> row;
    row.resize(size_t(m_sw) * 4);
    for (size_t i = 0; i < row.size(); ++i) row[i] = s[i];
    for (int x = 0; x < m_dw; ++x) {
        const float* w = m_x.weight.data() + m_x.offset[size_t(x)];
        const float* p = row.data() + size_t(m_x.first[size_t(x)]) * 4;
        F4 acc{0, 0, 0, 0};
        for (int k = 0, n = m_x.count[size_t(x)]; k < n; ++k, p += 4) {
            F4 px;
            std::memcpy(&px, p, sizeof px);
            acc += w[k] * px;
        }
        std::memcpy(out + 4 * x, &acc, sizeof acc);
    }
}

namespace {

// One or two pixels (F holds their channels) of a row of down's output from x on: pixel
// x's four channels are floats 4x on in each of the n rows at `first`, n4 apart, weighed
// by w. Each lane adds its products in the same order as a sum per channel would.
template <class F, class I>
__attribute__((always_inline)) inline void downAt(const float* first, size_t n4, const float* w, int n, int x, Px8* d) {
    constexpr int P = int(sizeof(F) / 16);
    F acc{};
    const float* s = first + 4 * size_t(x);
    for (int k = 0; k < n; ++k, s += n4) {
        F v;
        std::memcpy(&v, s, sizeof v);
        acc += w[k] * v;
    }
    // round8 lane by lane: nearest level, 0 at or below 0, 255 from 254.5 on.
    I q = __builtin_convertvector(acc + 0.5f, I);
    q = acc >= 254.5f ? I{} + 255 : q;
    q = acc <= 0.f ? I{} : q;
    // Ringing may push a colour above its alpha; premultiplied colour may not.
    for (int p = 0; p < P; ++p) {
        const int a = q[4 * p + 3];
        d[x + p] = {uint8_t(std::min(q[4 * p], a)), uint8_t(std::min(q[4 * p + 1], a)),
                    uint8_t(std::min(q[4 * p + 2], a)), uint8_t(a)};
    }
}

// A row of down's output, two pixels to a vector where the processor has 256-bit
// registers (the same sums either way).
__attribute__((target_clones("avx2", "default"))) void downRow(const float* first, size_t n4, const float* w, int n,
                                                               int dw, Px8* d) {
    int x = 0;
    for (; x + 2 <= dw; x += 2) downAt<F8, I8>(first, n4, w, n, x, d);
    if (x < dw) downAt<F4, I4>(first, n4, w, n, x, d);
}

}  // namespace

void Lanczos::down(int i, const float* mid, int midFirst, Px8* d) const {
    const size_t n4 = size_t(m_dw) * 4;
    downRow(mid + size_t(m_y.first[size_t(i)] - midFirst) * n4, n4, m_y.weight.data() + m_y.offset[size_t(i)],
            m_y.count[size_t(i)], m_dw, d);
}

void Lanczos::run(const View8& src, View8 dst) const {
    // Horizontal pass into floats, only over the source rows the vertical pass reads.
    std::vector<float> mid(size_t(m_dw) * size_t(m_sh) * 4);
    parallelFor((m_sh + 31) / 32, [&](int band) {
        for (int i = band * 32; i < std::min(m_sh, band * 32 + 32); ++i)
            across(reinterpret_cast<const uint8_t*>(src.top(i)), mid.data() + size_t(i) * size_t(m_dw) * 4);
    });
    parallelFor((m_dh + 15) / 16, [&](int band) {
        for (int i = band * 16; i < std::min(m_dh, band * 16 + 16); ++i) down(i, mid.data(), 0, dst.top(i));
    });
}

void Lanczos::rows(const View8& src, View8 dst, int top, std::vector<float>& scratch) const {
    if (dst.h < 1) return;
    // Only the source rows these destination rows read; neighbouring bands share a few.
    const int s0 = m_y.first[size_t(top)];
    const int s1 = m_y.first[size_t(top + dst.h - 1)] + m_y.count[size_t(top + dst.h - 1)];
    const size_t n4 = size_t(m_dw) * 4;
    scratch.resize(size_t(s1 - s0) * n4);
    for (int i = s0; i < s1; ++i)
        across(reinterpret_cast<const uint8_t*>(src.top(i)), scratch.data() + size_t(i - s0) * n4);
    for (int i = 0; i < dst.h; ++i) down(top + i, scratch.data(), s0, dst.top(i));
}

void Lanczos::run(const Plane& src, Plane& dst) const {
    std::vector<float> mid(size_t(m_dw) * size_t(m_sh));
    parallelFor(m_sh, [&](int i) {
        const float* s = src.top(i);
        float* out = mid.data() + size_t(i) * size_t(m_dw);
        for (int x = 0; x < m_dw; ++x) {
            const float* w = m_x.weight.data() + m_x.offset[size_t(x)];
            const float* p = s + m_x.first[size_t(x)];
            float acc = 0;
            for (int k = 0, n = m_x.count[size_t(x)]; k < n; ++k) acc += w[k] * p[k];
            out[x] = acc;
        }
    });
    parallelFor((m_dh + 15) / 16, [&](int band) {
        for (int i = band * 16; i < std::min(m_dh, band * 16 + 16); ++i) {
            float* d = dst.top(i);
            std::fill(d, d + m_dw, 0.f);
            const float* w = m_y.weight.data() + m_y.offset[size_t(i)];
            for (int k = 0, n = m_y.count[size_t(i)]; k < n; ++k) {
                const float* s = mid.data() + size_t(m_y.first[size_t(i)] + k) * size_t(m_dw);
                for (int x = 0; x < m_dw; ++x) d[x] += w[k] * s[x];
            }
        }
    });
}

void Lanczos::run(const SurfaceF& src, SurfaceF& dst) const {
    std::vector<PxF> mid(size_t(m_dw) * size_t(m_sh));
    parallelFor(m_sh, [&](int i) {
        const PxF* s = src.top(i);
        PxF* out = mid.data() + size_t(i) * size_t(m_dw);
        for (int x = 0; x < m_dw; ++x) {
            const float* w = m_x.weight.data() + m_x.offset[size_t(x)];
            const PxF* p = s + m_x.first[size_t(x)];
            PxF acc{0, 0, 0, 0};
            for (int k = 0, n = m_x.count[size_t(x)]; k < n; ++k) {
                acc.r += w[k] * p[k].r;
                acc.g += w[k] * p[k].g;
                acc.b += w[k] * p[k].b;
                acc.a += w[k] * p[k].a;
            }
            out[x] = acc;
        }
    });
    parallelFor((m_dh + 15) / 16, [&](int band) {
        for (int i = band * 16; i < std::min(m_dh, band * 16 + 16); ++i) {
            PxF* d = dst.top(i);
            std::fill(d, d + m_dw, PxF{0, 0, 0, 0});
            const float* w = m_y.weight.data() + m_y.offset[size_t(i)];
            for (int k = 0, n = m_y.count[size_t(i)]; k < n; ++k) {
                const PxF* s = mid.data() + size_t(m_y.first[size_t(i)] + k) * size_t(m_dw);
                const float wk = w[k];
                for (int x = 0; x < m_dw; ++x) {
                    d[x].r += wk * s[x].r;
                    d[x].g += wk * s[x].g;
                    d[x].b += wk * s[x].b;
                    d[x].a += wk * s[x].a;
                }
            }
        }
    });
}

bool Lanczos::row(const Plane& src, int dstTop, float* out, std::vector<float>& scratch, int x0, int x1) const {
    scratch.assign(size_t(m_sw), 0.f);
    const float* w = m_y.weight.data() + m_y.offset[size_t(dstTop)];
    for (int k = 0, n = m_y.count[size_t(dstTop)]; k < n; ++k) {
        const float* s = src.top(m_y.first[size_t(dstTop)] + k);
        for (int x = 0; x < m_sw; ++x) scratch[size_t(x)] += w[k] * s[x];
    }
    // Only the stretch of the row that holds anything needs its horizontal taps.
    int lo = 0, hi = m_sw;
    while (lo < hi && scratch[size_t(lo)] == 0) ++lo;
    while (hi > lo && scratch[size_t(hi - 1)] == 0) --hi;
    if (lo == hi) return false;
    for (int x = std::max(x0, 0); x < std::min(x1, m_dw); ++x) {
        const int first = m_x.first[size_t(x)], n = m_x.count[size_t(x)];
        if (first + n <= lo || first >= hi) {
            out[x] = 0;
            continue;
        }
        const float* wx = m_x.weight.data() + m_x.offset[size_t(x)];
        const float* p = scratch.data() + first;
        float acc = 0;
        for (int k = 0; k < n; ++k) acc += wx[k] * p[k];
        out[x] = acc;
    }
    return true;
}

Image8 resample(const View8& src, int w, int h) {
    Image8 out(w, h);
    Lanczos::forSizes(src.w, src.h, w, h)->run(src, out.view());
    return out;
}

SurfaceF downscale(const SurfaceF& src, int w, int h) {
    SurfaceF out(w, h);
    if (src.w == 2 * w && src.h == 2 * h) {
        // A supersampled surface resolves exactly by averaging its 2 x 2 samples.
        parallelFor(h, [&](int i) { resolveRows(src.top(2 * i), src.top(2 * i + 1), out.top(i), w); });
        return out;
    }
    Lanczos(src.w, src.h, w, h).run(src, out);
    return out;
}
