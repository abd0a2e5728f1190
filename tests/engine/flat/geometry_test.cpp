#include <gtest/gtest.h>

#include "flat/geometry.h"
#include "look/look.h"
#include "support/support.h"

using testing::ExitedWithCode;

namespace {
void expectGeoEq(const Geo& a, const Geo& b) {
    for (auto [x, y] : {std::pair{a.body, b.body}, {a.screen, b.screen}}) {
        EXPECT_NEAR(x.x, y.x, 1e-9);
        EXPECT_NEAR(x.y, y.y, 1e-9);
        EXPECT_NEAR(x.w, y.w, 1e-9);
        EXPECT_NEAR(x.h, y.h, 1e-9);
    }
    EXPECT_NEAR(a.screenR, b.screenR, 1e-9);
    EXPECT_NEAR(a.bodyR, b.bodyR, 1e-9);
    EXPECT_EQ(a.sig, b.sig);
    EXPECT_EQ(a.shdy, b.shdy);
}
}  // namespace

TEST(Geometry, FullLayoutIsCentredWithAnEvenBezel) {
    for (auto [W, H] : {std::pair{1080, 1920}, {1920, 1080}, {1080, 1080}, {333, 4000}}) {
        const Geo g = geometry(W, H, 1179, 2556);
        EXPECT_NEAR(g.body.x + g.body.w / 2, W / 2.0, 1e-9);
        EXPECT_NEAR(g.body.y + g.body.h / 2, H / 2.0, 1e-9);
        const double bezel = g.screen.x - g.body.x;
        EXPECT_GT(bezel, 0);
        EXPECT_NEAR(g.body.maxX() - g.screen.maxX(), bezel, 1e-9);
        EXPECT_NEAR(g.screen.y - g.body.y, bezel, 1e-9);
        EXPECT_NEAR(g.body.maxY() - g.screen.maxY(), bezel, 1e-9);
        EXPECT_NEAR(g.bodyR - g.screenR, bezel, 1e-9);
        EXPECT_NEAR(g.screen.w / g.screen.h, 1179.0 / 2556, 1e-12);
        EXPECT_LE(g.body.w, lv().maxWidthFrac * W + 1e-9);
        EXPECT_LE(g.body.h, std::max(lv().fillVertical, lv().fillHorizontal) * H + 1e-9);
    }
}

TEST(Geometry, DependsOnTheContentOnlyThroughItsAspect) {
    expectGeoEq(geometry(1080, 1920, 1179, 2556), geometry(1080, 1920, 2358, 5112));
    expectGeoEq(layoutGeo(Layout::closeup, 1080, 1080, 1179, 2556), layoutGeo(Layout::closeup, 1080, 1080, 2358, 5112));
    expectGeoEq(layoutGeo(Layout::spin, 1920, 1080, 1179, 2556), geometry(1920, 1080, 1179, 2556));
}

TEST(Geometry, ShadowUnitsFollowTheShorterSide) {
    const Geo v = geometry(1080, 1920, 1, 2), h = geometry(1920, 1080, 1, 2);
    EXPECT_EQ(v.sig, h.sig);
    EXPECT_EQ(v.shdy, h.shdy);
    EXPECT_DOUBLE_EQ(2 * geometry(540, 960, 1, 2).sig, v.sig);  // in proportion to it
}

TEST(Geometry, SquareFramesUseTheVerticalFill) {
    ScopedLook l({{"frame_fill_vertical", "0.5"}, {"frame_fill_horizontal", "0.9"}, {"frame_max_width", "10"}});
    EXPECT_NEAR(geometry(1000, 1000, 1, 2).body.h, 500, 1e-9);
    EXPECT_NEAR(geometry(1001, 1000, 1, 2).body.h, 900, 1e-9);
}

TEST(Geometry, CloseupKeepsItsTopMarginAndCutsTheBody) {
    ScopedLook l({{"layout_closeup_square", "0.9,0.1"}, {"layout_closeup_horizontal", "0.5,0.05"}});
    const Geo g = layoutGeo(Layout::closeup, 1080, 1920, 1179, 2556);
    EXPECT_NEAR(g.body.maxY(), 1920 * 0.9, 1e-9);
    EXPECT_NEAR(g.body.h, 1920 * 0.9 / 0.9, 1e-9);
    EXPECT_LT(g.body.y, 0);  // the lower part leaves the frame
    EXPECT_NEAR(g.body.x + g.body.w / 2, 540, 1e-9);
    EXPECT_NEAR(g.bodyR - g.screenR, g.screen.x - g.body.x, 1e-9);

    // Wide frame: the horizontal pair, and no cap needed.
    const Geo h = layoutGeo(Layout::closeup, 1920, 1080, 1179, 2556);
    EXPECT_NEAR(h.body.maxY(), 1080 * 0.95, 1e-9);
    EXPECT_NEAR(h.body.h, 1080 * 0.95 / 0.5, 1e-9);
}

TEST(Geometry, CloseupWidthCapKeepsTheTop) {
    ScopedLook l({{"layout_closeup_square", "0.2,0.1"}});
    const Geo g = layoutGeo(Layout::closeup, 1000, 1000, 1000, 1000);
    EXPECT_NEAR(g.body.w, 880, 1e-9);
    EXPECT_NEAR(g.body.h, 880, 1e-9);  // square content, square body
    EXPECT_NEAR(g.body.maxY(), 900, 1e-9);
    EXPECT_LT(g.body.h, 900 / 0.2);
}
