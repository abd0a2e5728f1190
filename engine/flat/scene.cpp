#include "flat/scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// One grain row of the dithered plate. The grain image is opaque, so the sum's alpha
// saturates: every plate pixel comes out opaque.
void ditherRow(const PxF* s, Px8* d, int w, int y, double amount) {
    for (int x = 0; x < w; ++x) {
        const float g = amount != 0 ? grainAt(x, y, amount) * 255.f : 0.f;
        auto level = [&](float c) { return uint8_t(int(std::clamp(c * 255.f + g, 0.f, 255.f) + 0.5f)); };
        d[x] = {level(s[x].b), level(s[x].g), level(s[x].r), 255};
    }
}

Glass makeGlass(const Plane& big, int w, int h) {
    Glass g;
    if (big.w == w) {
        g.alpha = big;
    } else {
        g.alpha = Plane(w, h);
        for (int i = 0; i < h; ++i) {
            const float *a = big.top(2 * i), *b = big.top(2 * i + 1);
            float* d = g.alpha.top(i);
            for (int x = 0; x < w; ++x) d[x] = (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1]) * 0.25f;
        }
    }
    // Most of the overlay is empty; remember where each row has something to darken.
    g.spans.resize(size_t(h));
    for (int i = 0; i < h; ++i) {
        const float* a = g.alpha.top(i);
        int x0 = 0, x1 = w;
        while (x0 < w && a[x0] < 1.f / 1024) ++x0;
        while (x1 > x0 && a[x1 - 1] < 1.f / 1024) --x1;
        g.spans[size_t(i)] = {x0, x1};
    }
    return g;
}

}  // namespace

SurfaceF ctx16(int w, int h) {
    if (w < 1 || h < 1 || w > 2 * maxSurfaceSide || h > 2 * maxSurfaceSide)
        die("size too large: " + std::to_string(w) + "x" + std::to_string(h) + "  (max " +
            std::to_string(maxSurfaceSide) + "x" + std::to_string(maxSurfaceSide) + ")");
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

void neutralizeGrays(View8 img) {
    parallelFor((img.h + 31) / 32, [&](int band) {
        for (int i = band * 32; i < std::min(img.h, band * 32 + 32); ++i) {
            Px8* row = img.top(i);
            for (int x = 0; x < img.w; ++x) neutralizeGray(row[x]);
        }
    });
}

Image8 neutralizeGrays(Image8 img) {
    neutralizeGrays(img.view());
    return img;
}

void drawScreen(View8 dst, const View8& content, const Geo& geo) {
    const Rect& s = geo.screen;
    const int x0 = int(std::floor(s.x)), y0 = int(std::floor(s.y));
    const int rw = int(std::ceil(s.maxX())) - x0, rh = int(std::ceil(s.maxY())) - y0;
    if (rw < 1 || rh < 1 || content.w < 1 || content.h < 1) return;
    Image8 scaled(rw, rh);
    Lanczos::forSizes(content.w, content.h, rw, rh)->run(content, scaled.view());
    // The screen image covers whole pixels; the clip follows the exact outline and so
    // anti-aliases the screen's edge.
    scanRoundedRect(
        s, float(geo.screenR), 0.5f, dst.w, dst.h,
        [&](int y, int a, int b) {
            const int sy = y - y0, sx = a - x0;
            if (sy < 0 || sy >= rh) return;
            a = std::max(a, x0), b = std::min(b, x0 + rw);
            if (b > a) std::memcpy(dst.row(y) + a, scaled.row(sy) + (a - x0), size_t(b - a) * 4);
            (void)sx;
        },
        [&](int x, int y, float d) {
            const int sx = x - x0, sy = y - y0;
            if (sx < 0 || sx >= rw || sy < 0 || sy >= rh) return;
            const float cov = coverageOf(d);
            const Px8 c = scaled.row(sy)[sx];
            Px8& p = dst.row(y)[x];
            auto mix = [&](uint8_t a, uint8_t b) { return round8(a * cov + b * (1 - cov)); };
            p = {mix(c.b, p.b), mix(c.g, p.g), mix(c.r, p.r), mix(c.a, p.a)};
        });
}

void drawScreen(View8 dst, const Image8& content, const Geo& geo) { drawScreen(dst, content.view(), geo); }

Scene::Scene(int width, int height, Layout layout, double a, double b, const Style& style, double grain)
    : w(width), h(height) {
    if (w > maxSurfaceSide || h > maxSurfaceSide)
        die("size too large: " + std::to_string(w) + "x" + std::to_string(h) + "  (max " +
            std::to_string(maxSurfaceSide) + "x" + std::to_string(maxSurfaceSide) + ")");
    geo = layoutGeo(layout, w, h, a, b);
    const int ss = std::min(w, h) < 2160 ? 2 : 1;
    const Geo big = layoutGeo(layout, ss * w, ss * h, a, b);
    if (style.pal.glass > 0) {
        Plane alpha(ss * w, ss * h);
        drawGlass(alpha, big, style.pal);
        glass = makeGlass(alpha, w, h);
    }
    // The plate streams: each output row is drawn (from two rows when supersampled),
    // resolved and dithered, so no full-size high-precision surface is ever held.
    const PlateRows rows(ss * w, ss * h, big, style.pal);
    plate = Image8(w, h);
    const int band = 16;
    parallelFor((h + band - 1) / band, [&](int b) {
        std::vector<PxF> lo(size_t(ss) * size_t(w)), hi(size_t(ss) * size_t(w)), out(static_cast<size_t>(w));
        std::vector<float> scratch;
        for (int y = b * band; y < std::min(h, (b + 1) * band); ++y) {
            if (ss == 1) {
                rows.row(y, out.data(), scratch);
            } else {
                rows.row(2 * y, lo.data(), scratch);
                rows.row(2 * y + 1, hi.data(), scratch);
                resolveRows(lo.data(), hi.data(), out.data(), w);
            }
            ditherRow(out.data(), plate.row(y), w, y, grain);
        }
    });
}

void Scene::draw(View8 dst, const Image8& content) const {
    for (int i = 0; i < h; ++i) std::memcpy(dst.top(i), plate.top(i), size_t(w) * 4);
    drawScreen(dst, content, geo);
    if (!glass) return;
    for (int i = 0; i < h; ++i) {
        const auto [x0, x1] = glass->spans[size_t(i)];
        const float* a = glass->alpha.top(i);
        Px8* d = dst.top(i);
        for (int x = x0; x < x1; ++x) {
            const float k = 1 - a[x];
            d[x] = {round8(d[x].b * k), round8(d[x].g * k), round8(d[x].r * k), round8(d[x].a * k + 255 * a[x])};
        }
    }
}
