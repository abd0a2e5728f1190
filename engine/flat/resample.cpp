#include "flat/resample.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

#include "flat/raster.h"

namespace {

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

inline uint8_t to8(float v) { return round8(v); }

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

void Lanczos::run(const View8& src, View8 dst) const {
    // Horizontal pass into floats, only over the source rows the vertical pass reads.
    std::vector<float> mid(size_t(m_dw) * size_t(m_sh) * 4);
    parallelFor((m_sh + 31) / 32, [&](int band) {
        for (int i = band * 32; i < std::min(m_sh, band * 32 + 32); ++i) {
            const uint8_t* s = reinterpret_cast<const uint8_t*>(src.top(i));
            float* out = mid.data() + size_t(i) * size_t(m_dw) * 4;
            for (int x = 0; x < m_dw; ++x) {
                const float* w = m_x.weight.data() + m_x.offset[size_t(x)];
                const uint8_t* p = s + size_t(m_x.first[size_t(x)]) * 4;
                float b = 0, g = 0, r = 0, a = 0;
                for (int k = 0, n = m_x.count[size_t(x)]; k < n; ++k, p += 4) {
                    b += w[k] * p[0];
                    g += w[k] * p[1];
                    r += w[k] * p[2];
                    a += w[k] * p[3];
                }
                out[4 * x] = b;
                out[4 * x + 1] = g;
                out[4 * x + 2] = r;
                out[4 * x + 3] = a;
            }
        }
    });
    parallelFor((m_dh + 15) / 16, [&](int band) {
        std::vector<float> acc(size_t(m_dw) * 4);
        for (int i = band * 16; i < std::min(m_dh, band * 16 + 16); ++i) {
            std::fill(acc.begin(), acc.end(), 0.f);
            const float* w = m_y.weight.data() + m_y.offset[size_t(i)];
            for (int k = 0, n = m_y.count[size_t(i)]; k < n; ++k) {
                const float* s = mid.data() + size_t(m_y.first[size_t(i)] + k) * size_t(m_dw) * 4;
                const float wk = w[k];
                for (size_t j = 0; j < acc.size(); ++j) acc[j] += wk * s[j];
            }
            Px8* d = dst.top(i);
            for (int x = 0; x < m_dw; ++x) {
                // Ringing may push a colour above its alpha; premultiplied colour may not.
                const uint8_t a = to8(acc[4 * size_t(x) + 3]);
                d[x] = {std::min(to8(acc[4 * size_t(x)]), a), std::min(to8(acc[4 * size_t(x) + 1]), a),
                        std::min(to8(acc[4 * size_t(x) + 2]), a), a};
            }
        }
    });
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

bool Lanczos::row(const Plane& src, int dstTop, float* out, std::vector<float>& scratch) const {
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
    for (int x = 0; x < m_dw; ++x) {
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

void resolveRows(const PxF* a, const PxF* b, PxF* out, int w) {
    for (int x = 0; x < w; ++x) {
        const PxF p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], s = b[2 * x + 1];
        out[x] = {(p.r + q.r + r.r + s.r) * 0.25f, (p.g + q.g + r.g + s.g) * 0.25f, (p.b + q.b + r.b + s.b) * 0.25f,
                  (p.a + q.a + r.a + s.a) * 0.25f};
    }
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
