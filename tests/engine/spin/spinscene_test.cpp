#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "look/look.h"
#include "spin/renderer.h"
#include "spin/spinscene.h"
#include "support/support.h"

namespace {

const Image8& sample() {
    static const Image8 img = loadCG(sourceDir() + "/resources/sample.png");
    return img;
}

Style darkStyle() { return Style(true, themePalette(true)); }

double psnr(const Image8& a, const Image8& b) {
    double se = 0;
    for (size_t i = 0; i < a.px.size(); ++i) {
        const Px8 p = a.px[i], q = b.px[i];
        se += (p.r - q.r) * (p.r - q.r) + (p.g - q.g) * (p.g - q.g) + (p.b - q.b) * (p.b - q.b);
    }
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * 3.0 * double(a.px.size()) / se);
}

Image8 flatFrame(const Scene& s, const Image8& content) {
    Image8 out(s.w, s.h);
    s.draw(out.view(), content);
    return out;
}

double area(const std::vector<Vec2>& p) {
    double a = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec2 u = p[i], v = p[(i + 1) % p.size()];
        a += u.x * v.y - v.x * u.y;
    }
    return a / 2;
}

}  // namespace

// One scene at a small size serves the rendering checks; building it is the slow part.
class SpinSceneTest : public testing::Test {
protected:
    static void SetUpTestSuite() { scene = new SpinScene(180, 320, sample().w, sample().h, darkStyle(), 0.03); }
    static void TearDownTestSuite() {
        delete scene;
        scene = nullptr;
    }
    static SpinScene* scene;
};
SpinScene* SpinSceneTest::scene = nullptr;

TEST_F(SpinSceneTest, UnturnedDeviceIsTheFlatFrame) {
    SpinScene& s = *scene;
    const Image8 flat = flatFrame(s.flat, sample());
    Image8 out(s.w, s.h);
    s.turned(out.view(), sample(), 0, 1);
    const double db = psnr(out, flat);
    RecordProperty("psnr_db", std::to_string(db));
    EXPECT_GE(db, 35);
    std::printf("flat-fit PSNR at %dx%d: %.2f dB\n", s.w, s.h, db);

    s.turned(out.view(), sample(), 0.001, 0);
    EXPECT_EQ(out.px, flat.px);
    // Below a hand-off weight of 1/512 the mix rounds to the flat frame even where the
    // turned device lies far from it: such slots are not worth rendering.
    s.turned(out.view(), sample(), 30, 1 / 513.0);
    EXPECT_EQ(out.px, flat.px);
    s.turned(out.view(), sample(), 30, 1 / 256.0);
    EXPECT_NE(out.px, flat.px);
}

TEST_F(SpinSceneTest, RestFramesNeverReachTheGPU) {
    SpinScene s(64, 96, 30, 60, darkStyle(), 0.03);
    Image8 content(30, 60);
    for (Px8& p : content.px) p = {200, 100, 50, 255};
    Image8 out(64, 96);
    s.draw(out.view(), content, shownAt(0));
    EXPECT_EQ(s.uploads(), 0);
    EXPECT_EQ(out.px, flatFrame(s.start, content).px);
    s.draw(out.view(), content, shownAt(leastTurningSlots()));
    EXPECT_EQ(s.uploads(), 0);
    EXPECT_EQ(out.px, flatFrame(s.flat, content).px);

    // Mid-turn: rendered, and the content goes up once for as long as it is unchanged,
    // even when the caller redraws the same image object.
    const int64_t mid = std::llround((lv().spinTiming[0] + lv().spinTiming[1] / 2) * spinFPS);
    s.draw(out.view(), content, shownAt(mid));
    s.draw(out.view(), content, shownAt(mid + 6));
    EXPECT_EQ(s.uploads(), 1);
    content.px[5] = {0, 0, 0, 255};
    s.draw(out.view(), content, shownAt(mid));
    EXPECT_EQ(s.uploads(), 2);
}

TEST_F(SpinSceneTest, ScreenTakesNoGrainButClayAndBackdropDo) {
    SpinScene& s = *scene;
    SpinScene plain(s.w, s.h, sample().w, sample().h, darkStyle(), 0);
    Image8 a(s.w, s.h), b(s.w, s.h);
    const double deg = 30;
    s.turned(a.view(), sample(), deg, 1);
    plain.turned(b.view(), sample(), deg, 1);
    // The screen's middle, a point on the turned body's bezel, and the backdrop corner.
    const Geo& g = s.flat.geo;
    const int cx = int(g.screen.x + g.screen.w / 2), cy = int(g.screen.y + g.screen.h / 2);
    int screenSame = 0, screenAll = 0;
    for (int y = cy - 10; y < cy + 10; ++y)
        for (int x = cx - 5; x < cx + 5; ++x, ++screenAll) screenSame += a.at(x, y) == b.at(x, y);
    EXPECT_EQ(screenSame, screenAll);
    int backdropDiff = 0;
    for (int x = 0; x < 40; ++x) backdropDiff += !(a.at(x, 2) == b.at(x, 2));
    EXPECT_GT(backdropDiff, 10);
    // The bezel below the screen: clay, so it takes grain.
    int bezelDiff = 0;
    const int yb = int(g.body.y + (g.screen.y - g.body.y) / 2);
    for (int x = cx - 20; x < cx + 20; ++x) bezelDiff += !(a.at(x, yb) == b.at(x, yb));
    EXPECT_GT(bezelDiff, 10);
}

// Each frame composes only where it or the frame before differs from the plain backdrop;
// what it leaves must be what a frame drawn alone has there.
// The host composes on a CPU device and the device's kernel elsewhere: they must give the
// same frames, within a level, with the shadows, the device, its screen, the grain and a
// hand-off to the flat frame.
TEST(SpinSceneComposers, HostAndDeviceComposeTheSameFrames) {
    std::vector<Image8> frames[2];
    for (const Composer c : {Composer::Device, Composer::Host}) {
        useComposer(c);
        SpinScene s(180, 320, sample().w, sample().h, darkStyle(), 0.03);
        for (const auto& [deg, weight] : {std::pair{30.0, 1.0}, {150.0, 0.5}}) {
            Image8 out(s.w, s.h);
            s.turned(out.view(), sample(), deg, weight);
            frames[c == Composer::Host].push_back(std::move(out));
        }
    }
    useComposer(Composer::Auto);
    for (size_t f = 0; f < frames[0].size(); ++f) {
        int worst = 0;
        size_t differ = 0;
        for (size_t i = 0; i < frames[0][f].px.size(); ++i) {
            const Px8 p = frames[0][f].px[i], q = frames[1][f].px[i];
            const int d =
                std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b), std::abs(p.a - q.a)});
            worst = std::max(worst, d);
            differ += d > 0;
        }
        EXPECT_LE(worst, 1) << "frame " << f;
        EXPECT_LT(differ, frames[0][f].px.size() / 100) << "frame " << f;
    }
}

TEST(SpinSceneSequence, AFrameAfterAnotherIsTheFrameAlone) {
    for (const auto& [before, deg] : {std::pair{90.0, 30.0}, {30.0, 150.0}, {150.0, 20.0}}) {
        SpinScene seq(180, 320, sample().w, sample().h, darkStyle(), 0.03);
        SpinScene alone(180, 320, sample().w, sample().h, darkStyle(), 0.03);
        Image8 a(180, 320), b(180, 320);
        seq.turned(a.view(), sample(), before, 1);
        seq.turned(a.view(), sample(), deg, 1);
        alone.turned(b.view(), sample(), deg, 1);
        EXPECT_EQ(a.px, b.px) << before << " then " << deg;
    }
}

TEST_F(SpinSceneTest, RegionAndTexture) {
    const SpinScene& s = *scene;
    const Rect r = s.region();
    for (double v : {r.x, r.y, r.w, r.h}) EXPECT_EQ(v, std::floor(v)) << v;
    EXPECT_LE(r.x, s.geo().body.x);
    EXPECT_GE(r.maxX(), s.geo().body.maxX());
    EXPECT_FALSE(s.from().has_value());
    EXPECT_EQ(s.placement(200).zoom, 1);
}

TEST_F(SpinSceneTest, SilhouetteFollowsTheTurn) {
    const SpinScene& s = *scene;
    const Rect b = s.geo().body;
    auto bounds = [](const std::vector<Vec2>& p) {
        Rect r{1e9, 1e9, 0, 0};
        double x1 = -1e9, y1 = -1e9;
        for (const Vec2& v : p) {
            r.x = std::min(r.x, v.x), r.y = std::min(r.y, v.y);
            x1 = std::max(x1, v.x), y1 = std::max(y1, v.y);
        }
        return Rect{r.x, r.y, x1 - r.x, y1 - r.y};
    };
    // Straight on, the outline is the flat body's (the front face fits it exactly).
    const auto front = s.silhouette(0);
    const Rect f = bounds(front);
    EXPECT_NEAR(f.x, b.x, 0.5);
    EXPECT_NEAR(f.maxX(), b.maxX(), 0.5);
    EXPECT_NEAR(f.y, b.y, 0.5);
    EXPECT_NEAR(f.maxY(), b.maxY(), 0.5);
    EXPECT_GT(area(front), 0);  // counter-clockwise
    // Edge on, it is about as wide as the device is thick.
    const Rect side = bounds(s.silhouette(90));
    const double T = b.w * lv().spinThick;
    EXPECT_GT(side.w, T);
    EXPECT_LT(side.w, 1.2 * T);
    EXPECT_GT(area(s.silhouette(135)), 0);
}

TEST(ShadowTriangles, FanCoversTheGrownPolygon) {
    const std::vector<Vec2> square{{40, 40}, {80, 40}, {80, 80}, {40, 80}};
    std::vector<float> buf(2 * 600);
    const int maskW = 40, maskH = 40;  // a 160 x 160 canvas
    auto fanArea = [&](int n) {
        double a = 0;
        for (int i = 0; i < n; i += 3) {
            const double ax = buf[2 * i], ay = buf[2 * i + 1], bx = buf[2 * i + 2], by = buf[2 * i + 3];
            const double cx = buf[2 * i + 4], cy = buf[2 * i + 5];
            a += ((bx - ax) * (cy - ay) - (by - ay) * (cx - ax)) / 2;
        }
        return a * (160 / 2.0) * (160 / 2.0);  // clip units back to canvas px
    };
    int n = shadowTriangles(square, 0, buf, 600, maskW, maskH);
    EXPECT_EQ(n, 12);
    EXPECT_NEAR(fanArea(n), 1600, 1e-3);
    // Clip space: the square's corner (40, 40) is a quarter of the way in.
    EXPECT_FLOAT_EQ(buf[2], -0.5f);
    EXPECT_FLOAT_EQ(buf[3], -0.5f);

    // Each right-angle corner takes a quarter circle in 12 steps of 7.5 degrees.
    const double grow = 5;
    n = shadowTriangles(square, grow, buf, 600, maskW, maskH);
    EXPECT_EQ(n, 4 * 13 * 3);
    const double want = 1600 + 4 * 40 * grow + std::numbers::pi * grow * grow;
    EXPECT_NEAR(fanArea(n), want, 0.5);

    // A triangle that would not fit is dropped whole; nothing at all without a polygon.
    EXPECT_EQ(shadowTriangles(square, grow, buf, 10, maskW, maskH), 9);
    EXPECT_EQ(shadowTriangles({}, grow, buf, 600, maskW, maskH), 0);
    EXPECT_EQ(shadowTriangles({}, 0, buf, 600, maskW, maskH), 0);
}

TEST(ConvexHull, MonotoneChain) {
    const std::vector<Vec2> pts{{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 0}, {1, 2}, {0, 0}};
    const auto h = convexHull(pts);
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[0], (Vec2{0, 0}));
    EXPECT_EQ(h[1], (Vec2{2, 0}));
    EXPECT_EQ(h[2], (Vec2{2, 2}));
    EXPECT_EQ(h[3], (Vec2{0, 2}));
    EXPECT_TRUE(convexHull({}).empty());
}

TEST(SpinSceneCloseup, TravelsFromTheCloseupFrame) {
    SpinScene s(96, 96, 30, 60, darkStyle(), 0.03, true);
    ASSERT_TRUE(s.from().has_value());
    EXPECT_EQ(s.region(), (Rect{0, 0, 96, 96}));
    EXPECT_GT(s.placement(0).zoom, 1);
    EXPECT_EQ(s.placement(360).zoom, 1);
    // The texture is sized for the close-up, where the screen is largest.
    EXPECT_GT(s.texW(), int(s.geo().screen.w));
    Image8 content(30, 60);
    for (Px8& p : content.px) p = {30, 200, 90, 255};
    Image8 out(96, 96);
    s.draw(out.view(), content, shownAt(0));
    EXPECT_EQ(out.px, flatFrame(s.start, content).px);
    s.draw(out.view(), content, shownAt(6000));
    EXPECT_EQ(out.px, flatFrame(s.flat, content).px);
}

namespace {

double luma(Px8 p) { return 0.299 * p.r + 0.587 * p.g + 0.114 * p.b; }

// The first and last columns of row y that the device covers, on a black backdrop.
std::pair<int, int> span(const Image8& im, int y) {
    int lo = im.w, hi = -1;
    for (int x = 0; x < im.w; ++x)
        if (luma(im.at(x, y)) > 40) lo = std::min(lo, x), hi = std::max(hi, x);
    return {lo, hi};
}

// Black pixels within a box of the device: the lenses' glass.
int black(const Image8& im, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += luma(im.at(x, y)) < 40;
    return n;
}

}  // namespace

// The faces as the device turns, seen in the pixels of a white device with black lenses
// on a black backdrop without shadows: the screen (a magenta picture) shows on the front
// only; the camera bump sits top left seen from behind (top right seen from the front, so
// a mirrored back would put it top right), and stands out to the right at 90 degrees and
// to the left at 270.
TEST(SpinSceneFaces, ScreenInFrontAndTheCameraBumpWhereItBelongs) {
    ScopedLook o({{"theme_light", "#000000,#ffffff,#ffffff,0,0"}, {"spin_lens_tint", "0"}});
    SpinScene s(360, 640, 60, 130, Style(false, themePalette(false)), 0);
    Image8 content(60, 130);
    for (Px8& p : content.px) p = {255, 0, 255, 255};
    const Rect b = s.flat.geo.body;
    const double W = b.w;
    auto magenta = [](const Image8& im) {
        int n = 0;
        for (const Px8& p : im.px) n += p.r > p.g + 100 && p.b > p.g + 100;
        return n;
    };
    Image8 at[4] = {Image8(s.w, s.h), Image8(s.w, s.h), Image8(s.w, s.h), Image8(s.w, s.h)};
    for (int q = 0; q < 4; ++q) s.turned(at[q].view(), content, 90 * q, 1);
    EXPECT_GT(magenta(at[0]), 0.8 * s.flat.geo.screen.w * s.flat.geo.screen.h);
    for (int q = 1; q < 4; ++q) EXPECT_EQ(magenta(at[q]), 0) << 90 * q << " degrees";

    // Behind: the lenses in the top left quarter, none in its mirror image (rows count
    // upwards).
    const int y0 = int(b.maxY() - 0.45 * W), y1 = int(b.maxY() - 0.1 * W);
    EXPECT_GT(black(at[2], int(b.x + 0.1 * W), y0, int(b.x + 0.45 * W), y1), 500);
    EXPECT_EQ(black(at[2], int(b.maxX() - 0.45 * W), y0, int(b.maxX() - 0.1 * W), y1), 0);

    // Edge on: at the lenses' height the outline reaches further out on the bump's side
    // than in the lower half, and no further on the other side.
    const int lens = int(b.maxY() - 0.28 * W), low = int(b.y + 0.25 * b.h);
    for (int q : {1, 3}) {
        const auto [lensL, lensR] = span(at[q], lens);
        const auto [lowL, lowR] = span(at[q], low);
        ASSERT_GE(lowR, 0) << q;
        const int out = q == 1 ? lensR - lowR : lowL - lensL, in = q == 1 ? lowL - lensL : lensR - lowR;
        EXPECT_GE(out, 0.03 * W) << 90 * q << " degrees";
        EXPECT_LE(std::abs(in), 1) << 90 * q << " degrees";
    }
}

// A screenshot with see-through parts (left half clear, right half a half-transparent
// red) shows the clay beneath them on the turning device's screen, as the flat frame
// does, and the frame written stays opaque.
TEST(SpinSceneSeeThrough, ScreenShowsTheClayBeneath) {
    SpinScene s(180, 320, 30, 60, Style(false, themePalette(false)), 0);
    Image8 content(30, 60);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 30; ++x) content.at(x, y) = x < 15 ? Px8{0, 0, 0, 0} : Px8{0, 0, 128, 128};
    Image8 out(s.w, s.h);
    s.turned(out.view(), content, 0, 1);
    EXPECT_GE(psnr(out, flatFrame(s.flat, content)), 35);

    // Turned: the clear half's middle is light clay, not a hole.
    const Rect sc = s.flat.geo.screen;
    const double cx = sc.x + sc.w / 2, cy = sc.y + sc.h / 2;
    for (double deg : {30.0, 330.0}) {
        s.turned(out.view(), content, deg, 1);
        const Px8 p = out.at(int(cx - 0.25 * sc.w * std::cos(deg * std::numbers::pi / 180)), int(cy));
        EXPECT_GT(luma(p), 150) << deg;
        EXPECT_TRUE(std::all_of(out.px.begin(), out.px.end(), [](Px8 q) { return q.a == 255; })) << deg;
    }
}
