#include "spin/spinscene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "flat/plate.h"
#include "flat/resample.h"
#include "look/look.h"
#include "base/die.h"
#include "spin/gpu.h"

namespace {

vec4 f4(double a, double b = 0, double c = 0, double d = 0) { return {float(a), float(b), float(c), float(d)}; }

vec4 rgb(const std::string& text) {
    const Color c = cgColor(text, 1);
    return f4(c.r, c.g, c.b, 1);
}

// Whole-pixel rectangle covering r.
Rect integral(const Rect& r) {
    const double x0 = std::floor(r.x), y0 = std::floor(r.y);
    return {x0, y0, std::ceil(r.maxX()) - x0, std::ceil(r.maxY()) - y0};
}

// A cheap fingerprint of an image's pixels: four independent multiply chains over 64-bit
// words, so that the processor overlaps them (one chain is four times slower).
uint64_t pixelHash(const Image8& img) {
    const size_t bytes = img.px.size() * sizeof(Px8), words = bytes / 8;
    const auto* b = reinterpret_cast<const unsigned char*>(img.px.data());
    uint64_t h[4] = {0x9E3779B97F4A7C15ull ^ uint64_t(img.w) << 32 ^ uint64_t(img.h), 1, 2, 3};
    auto word = [&](size_t i) {
        uint64_t v;
        std::memcpy(&v, b + i * 8, 8);
        return v;
    };
    size_t i = 0;
    for (; i + 4 <= words; i += 4)
        for (int k = 0; k < 4; ++k) h[k] = (h[k] ^ word(i + size_t(k))) * 0x100000001B3ull;
    for (; i < words; ++i) h[0] = (h[0] ^ word(i)) * 0x100000001B3ull;
    for (size_t j = words * 8; j < bytes; ++j) h[1] = (h[1] ^ b[j]) * 0x100000001B3ull;
    return ((h[0] * 31 + h[1]) * 31 + h[2]) * 31 + h[3];
}

}  // namespace

std::array<Vec3, 3> rows(double deg) {
    const double a = deg * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    return {{{c, 0, -s}, {0, 1, 0}, {s, 0, c}}};
}

std::vector<Vec2> convexHull(std::vector<Vec2> pts) {
    std::stable_sort(pts.begin(), pts.end(), [](Vec2 a, Vec2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    auto cross = [](Vec2 o, Vec2 a, Vec2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); };
    std::vector<Vec2> lower, upper;
    for (const Vec2& p : pts) {
        while (lower.size() >= 2 && cross(lower[lower.size() - 2], lower.back(), p) <= 0) lower.pop_back();
        lower.push_back(p);
    }
    for (auto it = pts.rbegin(); it != pts.rend(); ++it) {
        while (upper.size() >= 2 && cross(upper[upper.size() - 2], upper.back(), *it) <= 0) upper.pop_back();
        upper.push_back(*it);
    }
    if (pts.empty()) return {};
    lower.pop_back();
    upper.pop_back();
    lower.insert(lower.end(), upper.begin(), upper.end());
    return lower;
}

int shadowTriangles(const std::vector<Vec2>& poly, double grow, std::span<float> dst, int maxVerts, int maskW,
                    int maskH) {
    maxVerts = std::min<int>(maxVerts, int(dst.size() / 2));
    std::vector<Vec2> q;
    if (grow <= 0) {
        q = poly;
    } else {
        // A round margin: an arc of at most 7.5 degrees per step around each corner.
        const size_t n = poly.size();
        for (size_t i = 0; i < n; ++i) {
            const Vec2 a = poly[(i + n - 1) % n], p = poly[i], b = poly[(i + 1) % n];
            const double a0 = std::atan2(-(p.x - a.x), p.y - a.y);
            double a1 = std::atan2(-(b.x - p.x), b.y - p.y);
            if (a1 < a0) a1 += 2 * std::numbers::pi;
            const int steps = std::max(1, int((a1 - a0) / (std::numbers::pi / 24)));
            for (int k = 0; k <= steps; ++k) {
                const double t = a0 + (a1 - a0) * k / steps;
                q.push_back({p.x + grow * std::cos(t), p.y + grow * std::sin(t)});
            }
        }
    }
    if (q.size() < 2) return 0;
    Vec2 c{};
    for (const Vec2& p : q) c = {c.x + p.x, c.y + p.y};
    c = {c.x / double(q.size()), c.y / double(q.size())};
    auto put = [&](int at, Vec2 p) {
        dst[size_t(at) * 2] = float(2 * (p.x / 4) / maskW - 1);
        dst[size_t(at) * 2 + 1] = float(2 * (p.y / 4) / maskH - 1);
    };
    int count = 0;
    for (size_t k = 0; k < q.size() && count + 3 <= maxVerts; ++k) {
        put(count++, c);
        put(count++, q[k]);
        put(count++, q[(k + 1) % q.size()]);
    }
    return count;
}

namespace {

// A turn that leaves the close-up keeps its caption where the close-up has it.
Style captionFor(const Style& style, bool closeup) {
    Style s = style;
    if (closeup) s.caption.bottom = false;
    return s;
}

}  // namespace

SpinScene::SpinScene(int w_, int h_, int contentW, int contentH, const Style& style, double grain, bool closeup)
    : flat(w_, h_, Layout::full, contentW, contentH, captionFor(style, closeup), grain),
      start(closeup ? Scene(w_, h_, Layout::closeup, contentW, contentH, style, grain) : flat), w(w_), h(h_),
      m_pal(style.pal) {
    m_motion.geo = layoutGeo(Layout::full, w, h, contentW, contentH, flat.room);
    if (closeup) m_motion.from = layoutGeo(Layout::closeup, w, h, contentW, contentH, start.room);
    const Geo& geo = m_motion.geo;

    const double hw = geo.body.w / 2, hh = geo.body.h / 2, T = hw * 2 * lv().spinThick;
    const double bezel = (geo.body.w - geo.screen.w) / 2;
    // The screen's interior is drawn apart; windowMargin keeps it clear of the soft edge of
    // the screen's outline.
    DeviceMesh dm = deviceMesh(hw, hh, geo.bodyR, T, lv().spinEdge * bezel, bezel + windowMargin);
    m_hull = std::move(dm.mesh.hull);
    m_lo = {1e300, 1e300, 1e300};
    m_hi = {-1e300, -1e300, -1e300};
    for (const SpinVtx& v : dm.mesh.v) {
        m_lo = {std::min(m_lo.x, double(v.p[0])), std::min(m_lo.y, double(v.p[1])), std::min(m_lo.z, double(v.p[2]))};
        m_hi = {std::max(m_hi.x, double(v.p[0])), std::max(m_hi.y, double(v.p[1])), std::max(m_hi.z, double(v.p[2]))};
    }

    // The front face plane sits at the focal distance, so it is drawn at its flat size.
    m_D = hh * 2 * lv().spinCamera;
    m_f = m_D - T / 2;
    m_thick = T;
    m_motion.centre = {geo.body.x + hw, geo.body.y + hh};
    m_place = {m_motion.centre, 1};

    // The device pass renders only around the device, unless the device travels.
    Rect r{0, 0, double(w), double(h)};
    if (!closeup) {
        const double gx = T + 0.12 * geo.body.w, gy = 0.09 * geo.body.h;
        const double x0 = std::max(0.0, geo.body.x - gx), y0 = std::max(0.0, geo.body.y - gy);
        const double x1 = std::min(double(w), geo.body.maxX() + gx), y1 = std::min(double(h), geo.body.maxY() + gy);
        r = {x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0)};
    }
    const double rx0 = std::floor(r.x), ry0 = std::floor(r.y), rx1 = std::ceil(r.maxX()), ry1 = std::ceil(r.maxY());
    m_region = {rx0, ry0, rx1 - rx0, ry1 - ry0};

    const Rect tex = integral(closeup ? m_motion.from->screen : geo.screen);
    m_texW = std::max(1, int(tex.w));
    m_texH = std::max(1, int(tex.h));

    // The flat frame stretches the content over its whole-pixel screen rectangle at the
    // output size; the texture lies over that same rectangle so the hand-off does not jump.
    const Rect ts = integral(flat.geo.screen);
    const CameraLayout& cam = dm.camera;
    const double m = std::max(hw, T);
    const std::vector<double> light = lv().spinLight;
    const double ln = std::hypot(light[0], light[1], light[2]);
    const std::vector<double> rim = look().nums(std::string("spin_rim_") + (m_pal.edgeLit ? "dark" : "light"), 2);
    m_u.rot0 = f4(1, 0, 0);
    m_u.rot1 = f4(0, 1, 0);
    m_u.rot2 = f4(0, 0, 1);
    m_u.cam = f4(m_f, m_D, m_D - 3 * m, m_D + 3 * m);
    m_u.view = f4(m_motion.centre.x - m_region.x, m_motion.centre.y - m_region.y, m_region.w, m_region.h);
    m_u.body = f4(hw, hh, geo.bodyR);
    m_u.screen = f4(geo.screen.w / 2, geo.screen.h / 2, geo.screenR);
    m_u.texRect = f4(ts.x - m_motion.centre.x, ts.y - m_motion.centre.y, ts.w, ts.h);
    m_u.top = rgb(m_pal.bodyTop);
    m_u.bot = rgb(m_pal.bodyBot);
    m_u.edge = f4(m_pal.edge, cgSigma * std::max(1.0, bezel * m_pal.edgeBlur), m_pal.edgeLit ? 1 : 0);
    m_u.glass = f4(m_pal.glass, cgSigma * std::max(1.0, bezel * m_pal.glassBlur));
    m_u.light = ln > 0 ? f4(light[0] / ln, light[1] / ln, light[2] / ln, light[3]) : f4(0, 0, 1, light[3]);
    m_u.rim = f4(rim[0], rim[1]);
    m_u.plateau = f4(cam.centre.x, cam.centre.y, cam.half, cam.radius);
    m_u.lensA = f4(cam.lenses[0].x, cam.lenses[0].y, cam.lenses[1].x, cam.lenses[1].y);
    m_u.lensB = f4(cam.lenses[2].x, cam.lenses[2].y, cam.lensR);
    m_u.ao = f4(lv().spinAO[0], lv().spinAO[1] * cam.height);
    m_u.zoom = f4(1);

    m_layers = {lv().shadowAmbient, lv().shadowContact};
    for (const auto& l : m_layers)
        if (l.size() < 4) die("spin: a grounding shadow wants 4 numbers");
    const int maskW = std::max(1, w / 4), maskH = std::max(1, h / 4);

    // The backdrop without its shadows: the passes add the turning device's own. A
    // caption or a backdrop of the options' own comes from the flat frame's plate, so
    // that nothing moves where the turn hands over to it.
    SurfaceF studio = ctx16(w, h);
    if (style.caption.empty() && style.backdrop.kind == Backdrop::Kind::theme) drawStudio(studio, w, h, m_pal);
    else studio = flat.studio();
    std::vector<float> grainField(size_t(w) * size_t(h));
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x) grainField[size_t(i) * size_t(w) + size_t(x)] = grainAt(x, h - 1 - i, grain);

    SpinSetup setup;
    setup.w = w;
    setup.h = h;
    setup.regionW = int(m_region.w);
    setup.regionH = int(m_region.h);
    for (int i = 0; i < 2; ++i) {
        // A soft shadow loses nothing measurable on a coarser mask, which the compose pass
        // samples bilinearly, and its blur costs the cube of the shrink less (pixels and
        // radius): halve the mask while the blur keeps a sigma of 1.5 mask pixels, down to
        // a sixteenth of the canvas. (At 1080x1920 the turned frame stays within 66 dB of
        // the one blurred on the quarter-size mask.)
        const double sigma = cgSigma * m_layers[size_t(i)][0] * geo.sig * 0.25;
        while (m_shrink[i] < 4 && sigma / (2 * m_shrink[i]) >= 1.5) m_shrink[i] *= 2;
        setup.maskW[i] = std::max(1, maskW / m_shrink[i]);
        setup.maskH[i] = std::max(1, maskH / m_shrink[i]);
        setup.blurSigma[i] = sigma / m_shrink[i];
        m_mask[i] = {setup.maskW[i], setup.maskH[i]};
        m_blurReach[i] = blurRadius(setup.blurSigma[i]);
    }
    setup.texW = m_texW;
    setup.texH = m_texH;
    setup.verts = dm.mesh.v;
    setup.frontVerts = dm.frontVerts;
    setup.windowVerts = dm.windowVerts;
    setup.studio = studio.px;
    setup.grain = grainField;
    m_gpu = std::make_unique<SpinRenderer>(setup);
}

std::vector<Vec2> SpinScene::silhouette(double deg) const {
    const std::array<Vec3, 3> R = rows(deg);
    std::vector<Vec2> pts;
    pts.reserve(m_hull.size());
    for (const Vec3& v : m_hull) {
        const double s = (m_D - std::max(v.z, 0.0)) / m_f;
        const Vec3 q{v.x * s, v.y * s, v.z};
        auto dot = [&](const Vec3& a) { return a.x * q.x + a.y * q.y + a.z * q.z; };
        const Vec3 p{dot(R[0]), dot(R[1]), dot(R[2])};
        const double k = m_f * m_place.zoom / (m_D - p.z);
        pts.push_back({m_place.centre.x + p.x * k, m_place.centre.y + p.y * k});
    }
    return convexHull(std::move(pts));
}

SpinRenderer::Facing SpinScene::facing(double cosDeg) const {
    // The front face plane (z = T/2, which the flat-fit leaves in place) faces the camera
    // at (0, 0, D) exactly when cos(deg) * D > T / 2.
    if (cosDeg * m_D <= m_thick / 2) return SpinRenderer::Facing::Away;
    // The outline's soft edge, half of fwidth(sds), reaches at most 1.1 * (1 / cos + 1) / 2
    // local pixels inwards at zoom 1 and above, and the perspective adds under a tenth:
    // while that stays outside the window, the window shows the screen alone.
    const double reach = 1.1 * 1.1 * (1 / cosDeg + 1) / 2;
    // A see-through screen image needs the clay beneath it, which only the full shader has.
    return m_opaque && reach < windowMargin ? SpinRenderer::Facing::Front : SpinRenderer::Facing::EdgeOn;
}

Rect SpinScene::coverage(const std::array<Vec3, 3>& R) const {
    // The flat-fit correction scales x and y by (D - max(z, 0)) / f, between these two;
    // the corrected mesh lies in the box of the products' extremes. The projection of a
    // box in front of the camera lies within the hull of its projected corners.
    const double s0 = (m_D - std::max(m_hi.z, 0.0)) / m_f, s1 = (m_D - std::max(m_lo.z, 0.0)) / m_f;
    auto span = [&](double lo, double hi) {
        return std::pair{std::min({lo * s0, lo * s1, hi * s0, hi * s1}),
                         std::max({lo * s0, lo * s1, hi * s0, hi * s1})};
    };
    const auto [qx0, qx1] = span(m_lo.x, m_hi.x);
    const auto [qy0, qy1] = span(m_lo.y, m_hi.y);
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (int i = 0; i < 8; ++i) {
        const Vec3 q{i & 1 ? qx1 : qx0, i & 2 ? qy1 : qy0, i & 4 ? m_hi.z : m_lo.z};
        auto dot = [&](const Vec3& a) { return a.x * q.x + a.y * q.y + a.z * q.z; };
        const Vec3 p{dot(R[0]), dot(R[1]), dot(R[2])};
        const double k = m_f * m_place.zoom / (m_D - p.z);
        x0 = std::min(x0, m_place.centre.x + p.x * k), x1 = std::max(x1, m_place.centre.x + p.x * k);
        y0 = std::min(y0, m_place.centre.y + p.y * k), y1 = std::max(y1, m_place.centre.y + p.y * k);
    }
    // Whole pixels, one beyond the last one touched, within the region.
    const Rect r = m_region;
    const double rx0 = std::max(r.x, std::floor(x0) - 1), ry0 = std::max(r.y, std::floor(y0) - 1);
    const double rx1 = std::min(r.maxX(), std::ceil(x1) + 1), ry1 = std::min(r.maxY(), std::ceil(y1) + 1);
    // A device wholly outside its region draws nothing; keep one texel.
    if (rx1 <= rx0 || ry1 <= ry0) return {r.x, r.y, std::min(1.0, r.w), std::min(1.0, r.h)};
    return {rx0, ry0, rx1 - rx0, ry1 - ry0};
}

void SpinScene::upload(const Image8& content, const ContentKey& key) {
    if (m_shown == key) return;
    if (content.empty()) die("spin: empty screen content");
    const Image8 scaled = resample(content.view(), m_texW, m_texH);
    m_opaque = std::all_of(scaled.px.begin(), scaled.px.end(), [](Px8 p) { return p.a == 255; });
    m_gpu->uploadScreen(scaled.view());
    m_shown = key;
    ++m_uploads;
}

void SpinScene::draw(View8 into, const Image8& content, const Shown& slot) {
    if (slot.rendered()) return turned(into, content, slot.deg, slot.weight);
    rest(slot.deg).draw(into, content);
}

void SpinScene::turned(View8 into, const Image8& content, double deg, double handoff) {
    const ContentKey key{uint64_t(content.w) << 32 | uint64_t(content.h), pixelHash(content)};
    // The flat frame under the hand-off holds still while the content does.
    if (handoff < 1 && m_staged != std::pair{restBefore(deg), key}) {
        rest(deg).draw(m_gpu->staging(), content);
        m_staged = {restBefore(deg), key};
    }
    upload(content, key);

    const std::array<Vec3, 3> R = rows(deg);
    m_u.rot0 = f4(R[0].x, R[0].y, R[0].z);
    m_u.rot1 = f4(R[1].x, R[1].y, R[1].z);
    m_u.rot2 = f4(R[2].x, R[2].y, R[2].z);
    m_place = placement(deg);
    // The device pass draws only where the device is, into the corner of its target.
    const Rect area = coverage(R);
    m_u.view = f4(m_place.centre.x - area.x, m_place.centre.y - area.y, area.w, area.h);
    m_u.zoom.x = float(m_place.zoom);

    const std::vector<Vec2> poly = silhouette(deg);
    const int maskW = std::max(1, w / 4), maskH = std::max(1, h / 4);
    int counts[2];
    for (int i = 0; i < 2; ++i)
        counts[i] =
            shadowTriangles(poly, geo().sig * m_layers[size_t(i)][3], m_gpu->shadowArea(i), shadowRoom, maskW, maskH);

    ComposeUniforms c;
    c.region = f4(area.x, h - area.maxY(), area.w, area.h);
    vec4* lanes[2] = {&c.shA, &c.shB};
    for (int i = 0; i < 2; ++i) {
        const std::vector<double>& L = m_layers[size_t(i)];
        *lanes[i] = f4(m_pal.shadowOp * L[2], geo().shdy * L[1] * 0.25 / m_shrink[i], 0.25 / m_shrink[i]);
    }
    c.misc = f4(handoff);

    // Where the frame may differ from the plain backdrop: all of it while the flat frame
    // is mixed in, else the device's area and the reach of each layer's shadow.
    PixelBox changed{0, 0, w, h};
    if (handoff >= 1) {
        changed = {int(area.x), int(h - area.maxY()), int(area.maxX()), int(h - area.y)};
        for (int i = 0; i < 2; ++i)
            changed = unite(changed, shadowReach(i, m_gpu->shadowArea(i).first(size_t(counts[i]) * 2), lanes[i]->y));
    }
    m_gpu->render(m_u, c, counts, into, changed, facing(R[2].z));
}

PixelBox SpinScene::shadowReach(int layer, std::span<const float> clip, double drop) const {
    if (clip.empty()) return {};
    // The triangles' extent in mask texels (rows from the top, as the shadow pass fills
    // them), widened by the blur's reach and a texel for the fill's coverage.
    double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
    for (size_t k = 0; k + 1 < clip.size(); k += 2) {
        x0 = std::min(x0, double(clip[k])), x1 = std::max(x1, double(clip[k]));
        y0 = std::min(y0, -double(clip[k + 1])), y1 = std::max(y1, -double(clip[k + 1]));
    }
    const int mw = m_mask[layer][0], mh = m_mask[layer][1], r = m_blurReach[layer] + 1;
    const double tx0 = std::floor((x0 + 1) / 2 * mw) - r, tx1 = std::ceil((x1 + 1) / 2 * mw) + r;
    const double ty0 = std::floor((y0 + 1) / 2 * mh) - r, ty1 = std::ceil((y1 + 1) / 2 * mh) + r;
    // The compose pass reads the mask bilinearly at (pixel centre) / k, lowered by drop:
    // texels [t0, t1) reach the pixels whose centres lie within k (t0 - 0.5, t1 + 0.5).
    const double k = 4.0 * m_shrink[layer];
    return {int(std::floor(k * (tx0 - 0.5) - 0.5)), int(std::floor(k * (ty0 - 0.5 + drop) - 0.5)),
            int(std::ceil(k * (tx1 + 0.5))), int(std::ceil(k * (ty1 + 0.5 + drop)))};
}
