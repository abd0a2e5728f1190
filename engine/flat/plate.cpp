#include "flat/plate.h"

#include <algorithm>
#include <cmath>

#include "flat/raster.h"
#include "flat/resample.h"
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

}  // namespace

float ringShadow(float d, double blur, float curvature) {
    // The ring reaches 4 blurs beyond the outline, far past the Gaussian's tail, so its
    // shadow inside is one minus the blurred shape: the profile across the nearest edge,
    // plus the first-order term of a curved edge, sigma * curvature / 2 * phi(d / sigma).
    const float sigma = float(cgSigma * blur), t = d / sigma;
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

void drawStudio(SurfaceF& s, int W, int H, const Palette& pal) {
    const Color base = cgColor(pal.base, 1);
    const float cx = W / 2.f, cy = float((1 - lv().glowCenterY) * H), R = float(lv().glowRadius * W);
    const float op = float(pal.glowOp);
    parallelFor(H, [&](int y) {
        PxF* row = s.row(y);
        const float dy = y + 0.5f - cy;
        for (int x = 0; x < W; ++x) {
            PxF p{float(base.r), float(base.g), float(base.b), 1};
            const float dx = x + 0.5f - cx, d = std::sqrt(dx * dx + dy * dy);
            if (R > 0 && d < R) {
                const float a = op * (1 - d / R);
                p = {p.r * (1 - a) + a, p.g * (1 - a) + a, p.b * (1 - a) + a, 1};
            }
            row[x] = p;
        }
    });
}

void drawGrounding(SurfaceF& s, int W, int H, const Geo& geo, const Palette& pal) {
    const int lw = (W + 3) / 4, lh = (H + 3) / 4;
    Plane layer(lw, lh);
    for (const auto* f : {&lv().shadowAmbient, &lv().shadowContact}) {
        const double opacity = pal.shadowOp * (*f)[2];
        if (opacity <= 0) continue;
        const double spread = geo.sig * (*f)[3];
        const double drop = geo.shdy * (*f)[1] / 4;
        const double blur = geo.sig * (*f)[0] / 4;
        const Rect grown = geo.body.inset(-spread);
        const Rect shape{grown.x / 4, grown.y / 4 - drop, grown.w / 4, grown.h / 4};
        Plane one(lw, lh);
        coverRoundedRect(one, shape, std::max(0.0, geo.bodyR + spread) / 4);
        gaussianBlur(one, cgSigma * blur);
        const float op = float(opacity);
        for (size_t i = 0; i < layer.v.size(); ++i) {
            const float a = one.v[i] * op;
            layer.v[i] = a + layer.v[i] * (1 - a);
        }
    }
    Plane up(4 * lw, 4 * lh);
    Lanczos(lw, lh, 4 * lw, 4 * lh).run(layer, up);
    parallelFor(H, [&](int y) {
        const float* a = up.row(y);
        PxF* row = s.row(y);
        for (int x = 0; x < W; ++x) {
            const float k = 1 - std::clamp(a[x], 0.f, 1.f);
            row[x] = {row[x].r * k, row[x].g * k, row[x].b * k, row[x].a * k + (1 - k)};
        }
    });
}

SurfaceF makePlate(int W, int H, const Geo& geo, const Palette& pal) {
    SurfaceF s = ctx16(W, H);
    drawStudio(s, W, H, pal);
    drawGrounding(s, W, H, geo, pal);

    const Color top = cgColor(pal.bodyTop, 1), bot = cgColor(pal.bodyBot, 1);
    const Rect& body = geo.body;
    auto bodyAt = [&](int y) {
        const float t = std::clamp(float((y + 0.5 - body.y) / body.h), 0.f, 1.f);
        return PxF{float(bot.r + (top.r - bot.r) * t), float(bot.g + (top.g - bot.g) * t),
                   float(bot.b + (top.b - bot.b) * t), 1};
    };
    const bool edge = pal.edge > 0;
    const double blur = bandBlur(geo, pal.edgeBlur);
    const float light = pal.edgeLit ? 1.f : 0.f, strength = float(pal.edge);
    // Interior pixels far from the outline are plain gradient; the band needs distances.
    scanRoundedRect(
        body, float(geo.bodyR), edge ? bandReach(blur) : 0.5f, W, H,
        [&](int y, int x0, int x1) { std::fill(s.row(y) + x0, s.row(y) + x1, bodyAt(y)); },
        [&](int x, int y, float d) {
            const float cov = coverageOf(d);
            PxF c = bodyAt(y);
            if (edge) {
                const float k = outlineCurvature(x + 0.5f, y + 0.5f, body, float(geo.bodyR), blur);
                const float a = strength * ringShadow(d, blur, k);
                c = {c.r * (1 - a) + light * a, c.g * (1 - a) + light * a, c.b * (1 - a) + light * a, 1};
            }
            PxF& p = s.row(y)[x];
            p = {c.r * cov + p.r * (1 - cov), c.g * cov + p.g * (1 - cov), c.b * cov + p.b * (1 - cov),
                 cov + p.a * (1 - cov)};
        });
    return s;
}

void drawGlass(Plane& alpha, const Geo& geo, const Palette& pal) {
    if (pal.glass <= 0) return;
    const double blur = bandBlur(geo, pal.glassBlur);
    const float strength = float(pal.glass);
    scanRoundedRect(
        geo.screen, float(geo.screenR), bandReach(blur), alpha.w, alpha.h, [](int, int, int) {},
        [&](int x, int y, float d) {
            const float k = outlineCurvature(x + 0.5f, y + 0.5f, geo.screen, float(geo.screenR), blur);
            alpha.row(y)[x] = coverageOf(d) * strength * ringShadow(d, blur, k);
        });
}
