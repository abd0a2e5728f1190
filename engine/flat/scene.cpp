#include "flat/scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "flat/dress.h"
#include "flat/plate.h"
#include "flat/raster.h"
#include "flat/resample.h"
#include "base/die.h"

namespace {

// A fixed, well-mixed 32-bit hash of a position (lowbias32 after a linear mix), so the
// grain is the same in every run and independent between pixels.
inline uint32_t hashXY(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y * 0x85EBCA77u + 0x7F4A7C15u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using U4 = uint32_t __attribute__((vector_size(16)));

// grainAt of four neighbours in a row, lane by lane the same arithmetic.
F4 grain4(int x, int y, float amount) {
    U4 h = (U4{0, 1, 2, 3} + uint32_t(x)) * 0x9E3779B1u ^ (uint32_t(y) * 0x85EBCA77u + 0x7F4A7C15u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    auto part = [](U4 v) { return __builtin_convertvector(I4(v & 1023u), F4); };
    const F4 m = (part(h) + part(h >> 10) + part(h >> 20) + 1.5f) * (1.f / 3072.f);
    return amount * (m - 0.5f);
}

// One grain row of the dithered plate, but for `hidden`. The grain image is opaque, so
// the sum's alpha saturates: every plate pixel comes out opaque.
void ditherRow(const PxF* s, Px8* d, int w, int y, double amount, Span hidden = {}) {
    thread_local std::vector<float> grain;
    auto run = [&](int x0, int x1) {
        if (x1 <= x0) return;
        grain.assign(size_t(x1 - x0 + 3), 0.f);
        if (amount != 0)
            for (int x = x0; x < x1; x += 4) {
                const F4 g = grain4(x, y, float(amount)) * 255.f;
                std::memcpy(grain.data() + (x - x0), &g, sizeof g);
            }
        const F4 zero{0, 0, 0, 0}, top{255, 255, 255, 255};
        for (int x = x0; x < x1; ++x) {
            F4 c;
            std::memcpy(&c, s + x, sizeof c);  // r, g, b, a
            F4 v = c * 255.f + grain[size_t(x - x0)];
            v = v < zero ? zero : v;
            v = top < v ? top : v;
            const I4 q = __builtin_convertvector(v + 0.5f, I4);
            d[x] = {uint8_t(q[2]), uint8_t(q[1]), uint8_t(q[0]), 255};
        }
    };
    if (hidden.empty()) return run(0, w);
    run(0, hidden.x0);
    run(hidden.x1, w);
}

// Darkens a row by the glass over [span).
void glassOver(Px8* d, const float* a, Span span) {
    for (int x = span.x0; x < span.x1; ++x) {
        if (a[x] == 0) continue;  // the middle of the screen: the pixel stays as it is
        const float k = 1 - a[x];
        d[x] = {round8(d[x].b * k), round8(d[x].g * k), round8(d[x].r * k), round8(d[x].a * k + 255 * a[x])};
    }
}

// Where a glass row holds anything to darken.
Span glassSpan(const float* a, int w) {
    int x0 = 0, x1 = w;
    while (x0 < w && a[x0] < 1.f / 1024) ++x0;
    while (x1 > x0 && a[x1 - 1] < 1.f / 1024) --x1;
    return {x0, x1};
}

void dieTooLarge(int w, int h) {
    die("size too large: " + std::to_string(w) + "x" + std::to_string(h) + "  (max " + std::to_string(maxSurfaceSide) +
        "x" + std::to_string(maxSurfaceSide) + ")");
}

}  // namespace

// Plate and glass rows at the output size. Outputs whose shorter side is below 2160
// pixels draw both at twice the size and resolve each output pixel from four samples.
class SceneRows {
public:
    SceneRows(int w, int h, Layout layout, double a, double b, const Style& style, double grain)
        : m_w(w), m_ss(std::min(w, h) < 2160 ? 2 : 1), m_grain(grain),
          m_dress(dressFor(style, layout, m_ss * w, m_ss * h, m_ss)),
          m_big(layoutGeo(layout, m_ss * w, m_ss * h, a, b, room(1))), m_pal(style.pal),
          m_rows(m_ss * w, m_ss * h, m_big, style.pal, m_dress) {}

    // The rows the caption leaves to the device at 1/k of the plate's size.
    Room room(int k) const { return m_dress ? m_dress->caption.room.scaled(1.0 / k) : Room{}; }
    int supersampling() const { return m_ss; }

    // Backdrop, glow and caption of row y, without shadows or device.
    void studio(int y, PxF* out) const {
        if (m_ss == 1) return m_rows.studioRow(y, out, {0, m_w});
        thread_local std::vector<PxF> lo, hi;
        lo.resize(2 * size_t(m_w)), hi.resize(2 * size_t(m_w));
        m_rows.studioRow(2 * y, lo.data(), {0, 2 * m_w});
        m_rows.studioRow(2 * y + 1, hi.data(), {0, 2 * m_w});
        resolveRows(lo.data(), hi.data(), out, m_w);
    }

    // Dithered plate row y (from the bottom); the pixels of `hidden` are left as they are.
    void plate(int y, Px8* out, Span hidden) const {
        thread_local std::vector<PxF> lo, hi, row;
        thread_local std::vector<float> scratch;
        row.resize(size_t(m_w));
        if (m_ss == 1) {
            m_rows.row(y, row.data(), scratch, hidden);
        } else {
            lo.resize(2 * size_t(m_w)), hi.resize(2 * size_t(m_w));
            const Span big = hidden.empty() ? Span{} : Span{2 * hidden.x0, 2 * hidden.x1};
            m_rows.row(2 * y, lo.data(), scratch, big);
            m_rows.row(2 * y + 1, hi.data(), scratch, big);
            const Span left = hidden.empty() ? Span{0, m_w} : Span{0, hidden.x0};
            resolveRows(lo.data(), hi.data(), row.data(), left.x1);
            if (!hidden.empty())
                resolveRows(lo.data() + 2 * hidden.x1, hi.data() + 2 * hidden.x1, row.data() + hidden.x1,
                            m_w - hidden.x1);
        }
        ditherRow(row.data(), out, m_w, y, m_grain, hidden);
    }

    bool hasGlass() const { return m_pal.glass > 0; }

    // Glass alpha of row y into w floats, and the pixels that hold any.
    Span glass(int y, float* out) const {
        if (!hasGlass()) return {};
        if (m_ss == 1) {
            std::fill(out, out + m_w, 0.f);
            glassRow(y, out, m_w, m_big, m_pal);
        } else {
            thread_local std::vector<float> upper, lower;
            upper.assign(2 * size_t(m_w), 0.f), lower.assign(2 * size_t(m_w), 0.f);
            glassRow(2 * y + 1, upper.data(), 2 * m_w, m_big, m_pal);
            glassRow(2 * y, lower.data(), 2 * m_w, m_big, m_pal);
            resolveRows(upper.data(), lower.data(), out, m_w);
        }
        return glassSpan(out, m_w);
    }

private:
    int m_w, m_ss;
    double m_grain;
    std::shared_ptr<const Dress> m_dress;
    Geo m_big;
    Palette m_pal;
    PlateRows m_rows;
};

SurfaceF ctx16(int w, int h) {
    if (w < 1 || h < 1 || w > 2 * maxSurfaceSide || h > 2 * maxSurfaceSide) dieTooLarge(w, h);
    return SurfaceF(w, h);
}

float grainAt(int x, int y, double amount) {
    // Three independent uniform values, ten bits each, from one hash of the position.
    const uint32_t h = hashXY(uint32_t(x), uint32_t(y));
    const float m = (float(h & 1023) + float((h >> 10) & 1023) + float((h >> 20) & 1023) + 1.5f) * (1.f / 3072.f);
    return float(amount) * (m - 0.5f);
}

Image8 dither(const SurfaceF& img, double amount) {
    Image8 out(img.w, img.h);
    parallelFor(img.h, [&](int y) { ditherRow(img.row(y), out.row(y), img.w, y, amount); });
    return out;
}

namespace {

#ifdef __SSE2__
// neutralizeGray for eight pixels at once, with the same arithmetic in each lane (the
// float steps in the same order, none fused), so that every colour comes out as it
// does pixel by pixel; a run of greys and colours is left as it is. Returns how many
// pixels it did.
__attribute__((target("avx2"))) int neutralizeGraysAVX2(Px8* row, int w) {
    const __m256i level = _mm256_set1_epi32(255), zero = _mm256_setzero_si256(), three = _mm256_set1_epi32(3);
    const __m256 half = _mm256_set1_ps(0.5f);
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256i* at = reinterpret_cast<__m256i*>(row + x);
        const __m256i px = _mm256_loadu_si256(at);
        const __m256i b = _mm256_and_si256(px, level), g = _mm256_and_si256(_mm256_srli_epi32(px, 8), level),
                      r = _mm256_and_si256(_mm256_srli_epi32(px, 16), level);
        const __m256i chroma =
            _mm256_sub_epi32(_mm256_max_epi32(r, _mm256_max_epi32(g, b)), _mm256_min_epi32(r, _mm256_min_epi32(g, b)));
        const __m256i keep =
            _mm256_or_si256(_mm256_cmpeq_epi32(chroma, zero), _mm256_cmpgt_epi32(chroma, _mm256_set1_epi32(12)));
        if (_mm256_movemask_epi8(keep) == -1) continue;
        const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(r, g), b);
        // (2 sum + 3) / 6 for sums up to 765, as a multiply and a shift.
        const __m256i mean = _mm256_srli_epi32(
            _mm256_mullo_epi32(_mm256_add_epi32(_mm256_add_epi32(sum, sum), three), _mm256_set1_epi32(10923)), 16);
        const __m256 grey = _mm256_div_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(3.f));
        const __m256 m = _mm256_div_ps(
            _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(24.f), _mm256_cvtepi32_ps(chroma)), _mm256_set1_ps(48.f)),
            _mm256_set1_ps(255.f));
        const __m256 greyPart = _mm256_mul_ps(grey, _mm256_sub_ps(_mm256_set1_ps(1.f), m));
        const __m256i flat = _mm256_cmpgt_epi32(three, chroma);  // a chroma of 1 or 2
        __m256i out = _mm256_andnot_si256(_mm256_set1_epi32(0xffffff), px);
        const __m256i channels[3] = {b, g, r};
        for (int c = 0; c < 3; ++c) {
            // round8 of c * m + grey * (1 - m)
            const __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(channels[c]), m), greyPart);
            const __m256i mixed =
                _mm256_min_epi32(_mm256_max_epi32(_mm256_cvttps_epi32(_mm256_add_ps(v, half)), zero), level);
            const __m256i picked = _mm256_blendv_epi8(_mm256_blendv_epi8(mixed, mean, flat), channels[c], keep);
            out = _mm256_or_si256(out, _mm256_slli_epi32(picked, 8 * c));
        }
        _mm256_storeu_si256(at, out);
    }
    return x;
}
#endif

}  // namespace

void neutralizeGrays(View8 img) {
    parallelFor((img.h + 31) / 32, [&](int band) {
        for (int i = band * 32; i < std::min(img.h, band * 32 + 32); ++i) {
            Px8* row = img.top(i);
            int x = 0;
#ifdef __SSE2__
            if (wideRegisters()) x = neutralizeGraysAVX2(row, img.w);
#endif
            for (; x < img.w; ++x) neutralizeGray(row[x]);
        }
    });
}

Image8 neutralizeGrays(Image8 img) {
    neutralizeGrays(img.view());
    return img;
}

ScreenContent::ScreenContent(const View8& content, const Geo& geo, int frameW, int frameH)
    : m_content(content), m_geo(geo), m_w(frameW), m_h(frameH) {
    const Rect& s = geo.screen;
    m_x0 = int(std::floor(s.x)), m_y0 = int(std::floor(s.y));
    m_rw = int(std::ceil(s.maxX())) - m_x0, m_rh = int(std::ceil(s.maxY())) - m_y0;
    if (m_rw < 1 || m_rh < 1 || content.w < 1 || content.h < 1) {
        m_rw = m_rh = 0;
        return;
    }
    m_scale = Lanczos::forSizes(content.w, content.h, m_rw, m_rh);
    for (int i = 0; i < content.h && m_opaque; ++i) {
        const Px8* row = content.top(i);
        uint8_t all = 255;
        for (int x = 0; x < content.w; ++x) all &= row[x].a;
        m_opaque = all == 255;
    }
}

Span ScreenContent::hides(int y) const {
    if (!m_opaque || y < m_y0 || y >= m_y0 + m_rh) return {};
    const Span in = rowCover(m_geo.screen, float(m_geo.screenR), 0.5f, m_w, y).interior;
    const Span s{std::max(in.x0, m_x0), std::min(in.x1, m_x0 + m_rw)};
    return s.empty() ? Span{} : s;
}

void ScreenContent::paint(View8 band, int top) const {
    if (m_rh == 0) return;
    // Band rows hold frame rows y = m_h - 1 - (top + i); the screen image's top row is
    // frame row m_y0 + m_rh - 1.
    const int yHigh = std::min(m_h - 1 - top, m_y0 + m_rh - 1), yLow = std::max(m_h - top - band.h, m_y0);
    if (yHigh < yLow) return;
    thread_local std::vector<Px8> pixels;
    thread_local std::vector<float> scratch;
    const int first = m_y0 + m_rh - 1 - yHigh;  // the screen image's top row in this band
    pixels.resize(size_t(m_rw) * size_t(yHigh - yLow + 1));
    const View8 scaled{reinterpret_cast<uint8_t*>(pixels.data()), m_rw, yHigh - yLow + 1, ptrdiff_t(m_rw) * 4};
    m_scale->rows(m_content, scaled, first, scratch);
    for (int y = yHigh; y >= yLow; --y) {
        const Px8* src = scaled.top(yHigh - y);
        Px8* dst = band.top(m_h - 1 - y - top);
        // The screen image covers whole pixels; the clip follows the exact outline and so
        // anti-aliases the screen's edge. Content is drawn over what lies beneath it.
        scanRoundedRectRow(
            m_geo.screen, float(m_geo.screenR), 0.5f, m_w, y,
            [&](int, int a, int b) {
                a = std::max(a, m_x0), b = std::min(b, m_x0 + m_rw);
                if (b <= a) return;
                if (m_opaque) return void(std::memcpy(dst + a, src + (a - m_x0), size_t(b - a) * 4));
                for (int x = a; x < b; ++x) {
                    const Px8 p = src[x - m_x0];
                    const int ia = 255 - p.a;
                    Px8& q = dst[x];
                    q = {uint8_t(p.b + (q.b * ia + 127) / 255), uint8_t(p.g + (q.g * ia + 127) / 255),
                         uint8_t(p.r + (q.r * ia + 127) / 255), uint8_t(p.a + (q.a * ia + 127) / 255)};
                }
            },
            [&](int x, int, float d) {
                if (x < m_x0 || x >= m_x0 + m_rw) return;
                const Px8 c = src[x - m_x0];
                const float cov = coverageOf(d), keep = 1 - c.a / 255.f * cov;
                Px8& p = dst[x];
                auto mix = [&](uint8_t a, uint8_t b) { return round8(a * cov + b * keep); };
                p = {mix(c.b, p.b), mix(c.g, p.g), mix(c.r, p.r), mix(c.a, p.a)};
            });
    }
}

void drawScreen(View8 dst, const View8& content, const Geo& geo) {
    const ScreenContent screen(content, geo, dst.w, dst.h);
    const int rows = 32;
    parallelFor((dst.h + rows - 1) / rows,
                [&](int k) { screen.paint(dst.band(k * rows, std::min(rows, dst.h - k * rows)), k * rows); });
}

void drawScreen(View8 dst, const Image8& content, const Geo& geo) { drawScreen(dst, content.view(), geo); }

namespace {

Glass makeGlass(const SceneRows& rows, int w, int h) {
    Glass g;
    g.alpha = Plane(w, h);
    g.spans.resize(size_t(h));
    parallelFor(h, [&](int i) {
        const Span s = rows.glass(h - 1 - i, g.alpha.top(i));
        g.spans[size_t(i)] = {s.x0, s.x1};
    });
    return g;
}

}  // namespace

bool sceneMayFail(int w, int h, const Style& style) {
    return !style.caption.empty() || w > maxSurfaceSide || h > maxSurfaceSide || !readColour(style.pal.base) ||
           !readColour(style.pal.bodyTop) || !readColour(style.pal.bodyBot);
}

Scene::Scene(int width, int height, Layout layout, double a, double b, const Style& style, double grain, PlateUse use)
    : w(width), h(height) {
    if (w > maxSurfaceSide || h > maxSurfaceSide) dieTooLarge(w, h);
    auto made = std::make_shared<const SceneRows>(w, h, layout, a, b, style, grain);
    room = made->room(made->supersampling());
    geo = layoutGeo(layout, w, h, a, b, room);
    backing = made;
    if (use == PlateUse::once) {
        rows = std::move(made);
        return;
    }
    if (made->hasGlass()) glass = makeGlass(*made, w, h);
    // The plate streams: each output row is drawn (from two rows when supersampled),
    // resolved and dithered, so no full-size high-precision surface is ever held.
    plate = Image8(w, h);
    const int band = 16;
    parallelFor((h + band - 1) / band, [&](int k) {
        for (int y = k * band; y < std::min(h, (k + 1) * band); ++y) made->plate(y, plate.row(y), {});
    });
}

SurfaceF Scene::studio() const {
    SurfaceF s(w, h);
    parallelFor(h, [&](int y) { backing->studio(y, s.row(y)); });
    return s;
}

void Scene::draw(View8 dst, const Image8& content) const {
    const SceneFrame frame(*this, content.view());
    const int band = 32;
    parallelFor((h + band - 1) / band,
                [&](int k) { frame.draw(dst.band(k * band, std::min(band, h - k * band)), k * band); });
}

SceneFrame::SceneFrame(const Scene& scene, const View8& content)
    : m_scene(scene), m_screen(content, scene.geo, scene.w, scene.h) {}

void SceneFrame::draw(View8 band, int top) const {
    const Scene& s = m_scene;
    for (int i = 0; i < band.h; ++i) {
        const int y = s.h - 1 - (top + i);
        if (s.rows) s.rows->plate(y, band.top(i), m_screen.hides(y));
        else std::memcpy(band.top(i), s.plate.row(y), size_t(s.w) * 4);
    }
    m_screen.paint(band, top);
    thread_local std::vector<float> alpha;
    for (int i = 0; i < band.h; ++i) {
        const int t = top + i;
        if (s.rows) {
            alpha.resize(size_t(s.w));
            glassOver(band.top(i), alpha.data(), s.rows->glass(s.h - 1 - t, alpha.data()));
        } else if (s.glass) {
            const auto [x0, x1] = s.glass->spans[size_t(t)];
            glassOver(band.top(i), s.glass->alpha.top(t), {x0, x1});
        }
    }
}
