#include <gtest/gtest.h>

#include <cmath>

#include "flat/geometry.h"
#include "flat/plate.h"
#include "flat/raster.h"
#include "flat/resample.h"
#include "flat/scene.h"
#include "base/opts.h"
#include "support/support.h"

namespace {
const int W = 240, H = 360;
double lum(const PxF& p) { return (p.r + p.g + p.b) / 3; }
Style darkStyle() { return Style(Opts({"--theme", "dark"})); }
}  // namespace

TEST(Plate, GlowIsBrightestGlowCenterYBelowTheTop) {
    // An off-centre glow: mirrored rows would put the brightest row at 0.2 H instead.
    ScopedLook l({{"theme_dark", "#202020,#3b3c41,#232428,0.5,0"}, {"glow_center_y", "0.2"}, {"glow_radius", "1"}});
    const Geo g = geometry(W, H, 1179, 2556);
    const SurfaceF p = makePlate(W, H, g, themePalette(true));
    int brightest = 0;
    for (int y = 0; y < H; ++y)
        if (lum(p.at(2, y)) > lum(p.at(2, brightest))) brightest = y;
    EXPECT_NEAR(brightest + 0.5, 0.8 * H, 1.0);
    // Along that row it falls off from the centre to the side.
    for (int x = int(g.body.maxX()) + 2; x < W - 1; ++x)
        EXPECT_GT(lum(p.at(x, brightest)), lum(p.at(x + 1, brightest)));
}

TEST(Plate, CloseupShadowKeepsItsStrengthAtTheBottomEdge) {
    // The body runs on below the frame, so beside it the shadow is as dark in the last
    // row as higher up; clipping the shape at the frame before blurring lost 40 %.
    const int w = 720, h = 720;
    const Geo g = layoutGeo(Layout::closeup, w, h, 1179, 2556);
    ASSERT_LT(g.body.y, -200);
    const Palette lit = themePalette(false);
    Palette none = lit;
    none.shadowOp = 0;
    const SurfaceF a = makePlate(w, h, g, lit), b = makePlate(w, h, g, none);
    for (const double out : {0.3, 0.6}) {  // beside the body, in the ambient shadow
        const int x = int(g.body.x - out * g.sig);
        const double low = lum(b.at(x, 0)) - lum(a.at(x, 0)), high = lum(b.at(x, 100)) - lum(a.at(x, 100));
        EXPECT_GT(high, 0.01) << out;
        EXPECT_NEAR(low / high, 1.0, 0.03) << out;
    }
}

TEST(Plate, ShadowFallsBelowTheBody) {
    const Geo g = geometry(W, H, 1179, 2556);
    const Palette lit = themePalette(false);
    Palette none = lit;
    none.shadowOp = 0;
    const SurfaceF a = makePlate(W, H, g, lit), b = makePlate(W, H, g, none);
    const int cx = W / 2;
    const int below = int(g.body.y - 0.3 * g.sig), above = int(g.body.maxY() + 0.3 * g.sig);
    const double darkBelow = lum(b.at(cx, below)) - lum(a.at(cx, below));
    const double darkAbove = lum(b.at(cx, above)) - lum(a.at(cx, above));
    EXPECT_GT(darkBelow, 0.02);
    EXPECT_GT(darkBelow, 2 * darkAbove);
    // Far from the body the shadow is gone.
    EXPECT_NEAR(lum(a.at(2, H - 3)), lum(b.at(2, H - 3)), 1e-3);
}

TEST(Plate, ZeroEdgeLeavesAPureGradientAndEdgeLightBrightensTheRim) {
    const Geo g = geometry(W, H, 1179, 2556);
    Palette pal = themePalette(true);
    pal.edge = 0;
    const SurfaceF plain = makePlate(W, H, g, pal);
    const int y = int(g.body.y + g.body.h / 2);
    const PxF mid = plain.at(W / 2, y);
    for (int x = int(g.body.x) + 2; x < W / 2; ++x) EXPECT_FLOAT_EQ(lum(plain.at(x, y)), lum(mid)) << x;
    // The body runs from bodyTop at its top edge to bodyBot at its bottom edge.
    EXPECT_GT(lum(plain.at(W / 2, int(g.body.maxY()) - 2)), lum(plain.at(W / 2, int(g.body.y) + 2)));

    pal.edge = 0.5;
    const SurfaceF lit = makePlate(W, H, g, pal);
    EXPECT_GT(lum(lit.at(int(g.body.x) + 1, y)), lum(mid) + 0.05);
    EXPECT_FLOAT_EQ(lum(lit.at(W / 2, y)), lum(mid));
}

TEST(Glass, StaysInsideTheScreenAndIsOffAtZero) {
    const Geo g = geometry(W, H, 1179, 2556);
    Palette pal = themePalette(true);
    Plane alpha(W, H);
    pal.glass = 0;
    drawGlass(alpha, g, pal);
    for (float a : alpha.v) ASSERT_EQ(a, 0.f);

    pal.glass = 0.4;
    pal.glassBlur = 1.0;  // a band a few pixels wide at this small size
    drawGlass(alpha, g, pal);
    float strongest = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const float d = roundedRectDistance(x + 0.5f, y + 0.5f, g.screen, float(g.screenR));
            if (d >= 0.5f) {
                ASSERT_EQ(alpha.at(x, y), 0.f) << x << "," << y;
            }
            strongest = std::max(strongest, alpha.at(x, y));
        }
    EXPECT_GT(strongest, 0.15f);
    EXPECT_LE(strongest, 0.4f);
    EXPECT_EQ(alpha.at(W / 2, H / 2), 0.f);
}

TEST(Scene, DrawsPlateScreenAndGlass) {
    Image8 content(118, 256);
    for (auto& p : content.px) p = {30, 200, 90, 255};
    Style style = darkStyle();
    style.pal.glass = 0.3;
    style.pal.glassBlur = 1.0;
    const Scene s(W, H, Layout::full, 118, 256, style, videoGrain);
    ASSERT_EQ(s.plate.w, W);
    ASSERT_TRUE(s.glass.has_value());
    Image8 out(W, H);
    s.draw(out.view(), content);
    EXPECT_EQ(out.at(W / 2, H / 2), (Px8{30, 200, 90, 255}));
    EXPECT_EQ(out.at(1, 1), s.plate.at(1, 1));
    // Just inside the screen the glass darkens the content.
    const int x = int(s.geo.screen.x) + 1;
    EXPECT_LT(out.at(x, H / 2).g, 200);
    EXPECT_GT(out.at(x, H / 2).g, 60);

    Style noGlass = style;
    noGlass.pal.glass = 0;
    EXPECT_FALSE(Scene(W, H, Layout::full, 118, 256, noGlass, videoGrain).glass.has_value());
}

namespace {
// A content with straight colours, some of it see-through when `clear` is set.
Image8 shot(bool clear) {
    Image8 c(118, 256);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const uint8_t a = !clear ? 255 : x < c.w / 3 ? 0 : x < 2 * c.w / 3 ? 128 : 255;
            c.at(x, y) = {uint8_t(x * 2 * a / 255), uint8_t(y * a / 255), uint8_t(200 * a / 255), a};
        }
    return c;
}
}  // namespace

TEST(Scene, PlateDrawnOnceMatchesThePlateKept) {
    // A still's frame is drawn band by band, its plate only where the content leaves it
    // visible; it must be the frame a video scene draws from its kept plate.
    Style style = darkStyle();
    style.pal.glass = 0.3;
    struct Case {
        int w, h;
        bool clear;
    };
    // Not supersampled only from 2160 on: one large case, the opaque one that skips most.
    for (const auto [w, h, clear] : {Case{270, 480, false}, Case{270, 480, true}, Case{2160, 2160, false}}) {
        const Image8 c = shot(clear);
        const Scene kept(w, h, Layout::full, c.w, c.h, style, stillGrain);
        const Scene once(w, h, Layout::full, c.w, c.h, style, stillGrain, PlateUse::once);
        ASSERT_TRUE(once.plate.empty());
        Image8 a(w, h), b(w, h);
        kept.draw(a.view(), c);
        const SceneFrame frame(once, c.view());
        for (int top = 0; top < h; top += 37)  // bands that cut across the screen anywhere
            frame.draw(b.view().band(top, std::min(37, h - top)), top);
        size_t differ = 0;
        for (size_t i = 0; i < a.px.size(); ++i) differ += !(a.px[i] == b.px[i]);
        EXPECT_EQ(differ, 0u) << w << "x" << h << (clear ? " see-through" : " opaque");
    }
}

TEST(Scene, SupersamplesOnlyBelow2160) {
    // A row across the body's edge light. Below 2160 pixels each output pixel is the
    // mean of four samples of the plate drawn at twice the size; from 2160 on the plate
    // is drawn at its size.
    Style style = darkStyle();
    style.pal.shadowOp = 0, style.pal.glass = 0;
    Image8 clear(118, 256);  // fully transparent: the whole row is plate
    auto rounded = [](const std::vector<PxF>& row) {
        SurfaceF s(int(row.size()), 1);
        s.px = row;
        return dither(s, 0).px;
    };
    auto drawn = [&](int side, int y) {
        const PlateRows rows(side, side, geometry(side, side, 118, 256), style.pal);
        std::vector<PxF> out(static_cast<size_t>(side));
        std::vector<float> scratch;
        rows.row(y, out.data(), scratch);
        return out;
    };
    for (const int side : {2159, 2160}) {
        const Scene s(side, side, Layout::full, 118, 256, style, 0, PlateUse::once);
        const int y = side / 2;
        Image8 band(side, 1);
        SceneFrame(s, clear.view()).draw(band.view(), side - 1 - y);
        const std::vector<PxF> low = drawn(2 * side, 2 * y), high = drawn(2 * side, 2 * y + 1);
        std::vector<PxF> four(static_cast<size_t>(side));
        resolveRows(low.data(), high.data(), four.data(), side);
        const bool super = band.px == rounded(four), direct = band.px == rounded(drawn(side, y));
        EXPECT_NE(super, direct) << side;  // the row tells the two apart
        EXPECT_EQ(super, side < 2160) << side;
    }
}
