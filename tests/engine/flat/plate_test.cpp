#include <gtest/gtest.h>

#include "flat/geometry.h"
#include "flat/plate.h"
#include "flat/raster.h"
#include "flat/scene.h"
#include "base/opts.h"
#include "support/support.h"

using testing::ExitedWithCode;

namespace {
const int W = 240, H = 360;
double lum(const PxF& p) { return (p.r + p.g + p.b) / 3; }
Style darkStyle() { return Style(Opts({"--theme", "dark"})); }
}  // namespace

TEST(Plate, WithoutGlowAndShadowsTheBackdropIsTheBase) {
    ScopedLook l({{"theme_dark", "#204060,#3b3c41,#232428,0,0"}});
    const Geo g = geometry(W, H, 1179, 2556);
    const SurfaceF p = makePlate(W, H, g, themePalette(true));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (x >= g.body.x - 1 && x <= g.body.maxX() && y >= g.body.y - 1 && y <= g.body.maxY()) continue;
            const PxF& c = p.at(x, y);
            ASSERT_FLOAT_EQ(c.r, 0x20 / 255.f);
            ASSERT_FLOAT_EQ(c.g, 0x40 / 255.f);
            ASSERT_FLOAT_EQ(c.b, 0x60 / 255.f);
            ASSERT_FLOAT_EQ(c.a, 1);
        }
}

TEST(Plate, GlowBrightensTowardItsCentre) {
    ScopedLook l({{"theme_dark", "#202020,#3b3c41,#232428,0.5,0"}, {"glow_center_y", "0.5"}, {"glow_radius", "1"}});
    const Geo g = geometry(W, H, 1179, 2556);
    const SurfaceF p = makePlate(W, H, g, themePalette(true));
    const int y = H / 2;
    double before = 2;
    for (int x = int(g.body.maxX()) + 2; x < W; ++x) {
        EXPECT_LT(lum(p.at(x, y)), before);
        before = lum(p.at(x, y));
    }
    EXPECT_GT(lum(p.at(int(g.body.maxX()) + 2, y)), 0x20 / 255.0);
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
    const Scene s(W, H, Layout::full, 118, 256, style, 0.03);
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
    EXPECT_FALSE(Scene(W, H, Layout::full, 118, 256, noGlass, 0.03).glass.has_value());
}

TEST(Scene, CloseupBodyMayLeaveTheFrame) {
    Image8 content(118, 256);
    for (auto& p : content.px) p = {0, 0, 255, 255};
    const Scene s(W, W, Layout::closeup, 118, 256, darkStyle(), 0.008);
    EXPECT_LT(s.geo.body.y, 0);
    Image8 out(W, W);
    s.draw(out.view(), content);
    EXPECT_EQ(out.at(W / 2, 2), (Px8{0, 0, 255, 255}));  // the screen runs off the bottom
}

TEST(SceneDeathTest, AbsurdSizesEndWithAMessage) {
    EXPECT_EXIT(Scene(100000, 100000, Layout::full, 1, 2, darkStyle(), 0), ExitedWithCode(1),
                "^size too large: 100000x100000  \\(max 8192x8192\\)\n$");
}
