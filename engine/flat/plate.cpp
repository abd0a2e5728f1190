#include "flat/plate.h"

#include <algorithm>
#include <cmath>

#include "flat/raster.h"
#include "flat/scene.h"
#include "look/look.h"

namespace {

// The blur of a soft outline band: a fraction of the bezel width, never below 1.
double bandBlur(const Geo& geo, double fraction) {
    const double b = (geo.body.w - geo.screen.w) / 2 * fraction;
    return b <= 1 ? 1 : b;
}

// How far inside an outline a band of this blur still shows (opacity below 1e-5).
float bandReach(double blur) { return float(4.5 * cgSigma * blur) + 1; }

// Both ground shadows, blurred and accumulated, at a quarter of the frame's resolution.
Plane shadowLayer(int W, int H, const Geo& geo, const Palette& pal) {
    const int lw = (W + 3) / 4, lh = (H + 3) / 4;
    Plane layer(lw, lh);
    for (const auto* f : {&lv().shadowAmbient, &lv().shadowContact}) {
        const double opacity = pal.shadowOp * (*f)[2];
        if (opacity <= 0) continue;
        const double spread = geo.sig * (*f)[3];
        const double drop = geo.shdy * (*f)[1] / 4;
        const double sigma = cgSigma * (geo.sig * (*f)[0] / 4);
        const Rect grown = geo.body.inset(-spread);
        const Rect shape{grown.x / 4, grown.y / 4 - drop, grown.w / 4, grown.h / 4};
        // A body that runs out of the frame (close-ups) goes on beyond the layer: the
        // blur must see it there as far as its kernel reaches, or the shadow fades
        // towards that edge.
        const int reach = blurReach(sigma);
        auto beyond = [&](double overhang) { return std::clamp(int(std::ceil(overhang + 0.5)), 0, reach); };
        const int left = beyond(-shape.x), bottom = beyond(-shape.y);
        const int right = beyond(shape.maxX() - lw), top = beyond(shape.maxY() - lh);
        Plane one(lw + left + right, lh + bottom + top);
        coverRoundedRect(one, {shape.x + left, shape.y + bottom, shape.w, shape.h},
                         std::max(0.0, geo.bodyR + spread) / 4);
        gaussianBlur(one, sigma);
        const float op = float(opacity);
        for (int y = 0; y < lh; ++y) {
            const float* s = one.row(y + bottom) + left;
            float* d = layer.row(y);
            for (int x = 0; x < lw; ++x) {
                const float a = s[x] * op;
                d[x] = a + d[x] * (1 - a);
            }
        }
    }
    return layer;
}

}  // namespace

float ringShadow(float d, double blur, float curvature) {
    // The ring reaches 4 blurs beyond the outline, far past the Gaussian's tail, so its
    // shadow inside is one minus the blurred shape: the profile across the nearest edge,
    // plus the first-order term of a curved edge, sigma * curvature / 2 * phi(d / sigma).
    const float sigma = float(cgSigma * blur), t = d / sigma;
    if (curvature == 0) return normalCdf(t);  // along straight sides, most of the band
    return normalCdf(t) + sigma * curvature / 2 * 0.39894228f * std::exp(-0.5f * t * t);
}

float outlineCurvature(float px, float py, const Rect& r, float radius, double blur) {
    const float R = std::clamp(radius, 0.f, float(std::min(r.w, r.h)) / 2);
    if (R <= 0) return 0;
    const float qx = std::abs(px - float(r.x + r.w / 2)) - (float(r.w) / 2 - R);
    const float qy = std::abs(py - float(r.y + r.h / 2)) - (float(r.h) / 2 - R);
    // How much of the Gaussian's window along the outline lies on the arc, so that the
    // correction fades in across the seam between a straight side and a corner.
    return normalCdf(std::min(qx, qy) / float(cgSigma * blur)) / R;
}

PlateRows::PlateRows(int W, int H, const Geo& geo, const Palette& pal, std::shared_ptr<const Dress> dress)
    : m_w(W), m_h(H), m_geo(geo), m_pal(pal),
      // Colours are read in the order base, bodyTop, bodyBot: the first bad one is named.
      m_base(cgColor(pal.base, 1)), m_top(cgColor(pal.bodyTop, 1)), m_bot(cgColor(pal.bodyBot, 1)),
      m_layer(shadowLayer(W, H, geo, pal)), m_up(m_layer.w, m_layer.h, 4 * m_layer.w, 4 * m_layer.h),
      m_dress(std::move(dress)), m_edgeBlur(bandBlur(geo, pal.edgeBlur)),
      m_bodyReach(pal.edge > 0 ? bandReach(m_edgeBlur) : 0.5f) {}

void PlateRows::studioRow(int y, PxF* out, Span part) const {
    const float cx = m_w / 2.f, cy = float((1 - lv().glowCenterY) * m_h), R = float(lv().glowRadius * m_w);
    const float op = float(m_pal.glowOp);
    const PxF base{float(m_base.r), float(m_base.g), float(m_base.b), 1};
    const float dy = y + 0.5f - cy;
    // The glow is a radial gradient from white at glowOp to white at 0, nothing beyond R.
    const float reach = R * R - dy * dy;
    int x0 = m_w, x1 = m_w;
    if (R > 0 && reach > 0) {
        const float half = std::sqrt(reach);
        x0 = std::clamp(int(std::floor(cx - half)), 0, m_w);
        x1 = std::clamp(int(std::ceil(cx + half)), x0, m_w);
    }
    const int a = part.x0, b = part.x1;
    const bool own = m_dress && m_dress->ownBase();
    if (own) {
        m_dress->baseRow(y, out, part, m_base);
    } else {
        std::fill(out + a, out + std::max(a, std::min(b, x0)), base);
        std::fill(out + std::min(b, std::max(a, x1)), out + b, base);
    }
    // The glow's strength first, in a loop the compiler vectorises, then the colours.
    thread_local std::vector<float> glow;
    const int g0 = std::max(a, x0), g1 = std::min(b, x1);
    glow.resize(size_t(std::max(0, g1 - g0)));
    for (int x = g0; x < g1; ++x) {
        const float dx = x + 0.5f - cx, d = std::sqrt(dx * dx + dy * dy), k = op * (1 - d / R);
        glow[size_t(x - g0)] = d < R ? k : 0.f;
    }
    for (int x = g0; x < g1 && !own; ++x) {
        const float k = glow[size_t(x - g0)];
        out[x] = {base.r * (1 - k) + k, base.g * (1 - k) + k, base.b * (1 - k) + k, 1};
    }
    // The same glow over a base of the options' own.
    for (int x = g0; x < g1 && own; ++x) {
        const float k = glow[size_t(x - g0)];
        const PxF u = out[x];
        out[x] = {u.r * (1 - k) + k, u.g * (1 - k) + k, u.b * (1 - k) + k, 1};
    }
    if (m_dress) m_dress->inkRow(y, out, part);
}

void PlateRows::groundingRow(int y, PxF* out, Span part, std::vector<float>& scratch) const {
    // The layer lies over (0, 0, 4 lw, 4 lh): its top row is frame row 4 lh - 1.
    const int top = 4 * m_layer.h - 1 - y;
    thread_local std::vector<float> alpha;
    alpha.resize(size_t(4 * m_layer.w));
    if (!m_up.row(m_layer, top, alpha.data(), scratch, part.x0, part.x1)) return;  // no shadow on this row
    for (int x = part.x0; x < part.x1; ++x) {
        const float k = 1 - std::clamp(alpha[size_t(x)], 0.f, 1.f);
        if (k >= 1) continue;
        out[x] = {out[x].r * k, out[x].g * k, out[x].b * k, out[x].a * k + (1 - k)};
    }
}

void PlateRows::bodyRow(int y, PxF* out, Span hidden) const {
    const Rect& body = m_geo.body;
    const float t = std::clamp(float((y + 0.5 - body.y) / body.h), 0.f, 1.f);
    const PxF fill{float(m_bot.r + (m_top.r - m_bot.r) * t), float(m_bot.g + (m_top.g - m_bot.g) * t),
                   float(m_bot.b + (m_top.b - m_bot.b) * t), 1};
    const bool edge = m_pal.edge > 0;
    const float light = m_pal.edgeLit ? 1.f : 0.f, strength = float(m_pal.edge);
    // Interior pixels far from the outline are plain gradient; the band needs distances.
    scanRoundedRectRow(
        body, float(m_geo.bodyR), m_bodyReach, m_w, y,
        [&](int, int x0, int x1) {
            std::fill(out + x0, out + std::max(x0, std::min(x1, hidden.x0)), fill);
            std::fill(out + std::min(x1, std::max(x0, hidden.x1)), out + x1, fill);
        },
        [&](int x, int, float d) {
            const float cov = coverageOf(d);
            PxF c = fill;
            if (edge) {
                const float k = outlineCurvature(x + 0.5f, y + 0.5f, body, float(m_geo.bodyR), m_edgeBlur);
                const float a = strength * ringShadow(d, m_edgeBlur, k);
                c = {c.r * (1 - a) + light * a, c.g * (1 - a) + light * a, c.b * (1 - a) + light * a, 1};
            }
            PxF& p = out[x];
            p = {c.r * cov + p.r * (1 - cov), c.g * cov + p.g * (1 - cov), c.b * cov + p.b * (1 - cov),
                 cov + p.a * (1 - cov)};
        });
}

void PlateRows::row(int y, PxF* out, std::vector<float>& scratch, Span hidden) const {
    // Where the body is plain gradient it covers everything beneath: backdrop and
    // shadows are needed only on either side of it.
    const Span solid = rowCover(m_geo.body, float(m_geo.bodyR), m_bodyReach, m_w, y).interior;
    for (const Span part : {Span{0, solid.x0}, Span{solid.x1, m_w}}) {
        if (part.empty()) continue;
        studioRow(y, out, part);
        groundingRow(y, out, part, scratch);
    }
    bodyRow(y, out, hidden.empty() ? Span{} : hidden);
}

void drawStudio(SurfaceF& s, int W, int H, const Palette& pal) {
    Palette quiet = pal;
    quiet.shadowOp = 0;  // no shadow layer needed for the backdrop alone
    const PlateRows rows(W, H, Geo{}, quiet);
    parallelFor(H, [&](int y) { rows.studioRow(y, s.row(y), {0, W}); });
}

SurfaceF makePlate(int W, int H, const Geo& geo, const Palette& pal) {
    SurfaceF s = ctx16(W, H);
    const PlateRows rows(W, H, geo, pal);
    parallelFor(H, [&](int y) {
        thread_local std::vector<float> scratch;
        rows.row(y, s.row(y), scratch);
    });
    return s;
}

void glassRow(int y, float* alpha, int w, const Geo& geo, const Palette& pal) {
    if (pal.glass <= 0) return;
    const double blur = bandBlur(geo, pal.glassBlur);
    const float strength = float(pal.glass);
    scanRoundedRectRow(
        geo.screen, float(geo.screenR), bandReach(blur), w, y, [](int, int, int) {},
        [&](int x, int, float d) {
            const float k = outlineCurvature(x + 0.5f, y + 0.5f, geo.screen, float(geo.screenR), blur);
            alpha[x] = coverageOf(d) * strength * ringShadow(d, blur, k);
        });
}

void drawGlass(Plane& alpha, const Geo& geo, const Palette& pal) {
    for (int y = 0; y < alpha.h; ++y) glassRow(y, alpha.row(y), alpha.w, geo, pal);
}
