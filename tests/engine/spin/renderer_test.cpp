#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "spin/renderer.h"

// The compose and shadow passes with hand-made inputs and no device mesh: what lands
// outside the device is the studio, the shadows and the grain, and nothing else.
namespace {

constexpr int W = 48, H = 32;

struct Rig {
    std::vector<PxF> studio;
    std::vector<float> grain;
    SpinSetup setup;

    explicit Rig(double sigma = 0, int maskScale = 1) : studio(W * H), grain(W * H) {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                studio[y * W + x] = {0.2f + 0.01f * x, 0.3f + 0.015f * y, 0.5f, 1};
                grain[y * W + x] = 0.02f * float(((x * 7 + y * 13) % 5) - 2);
            }
        setup.w = W;
        setup.h = H;
        setup.regionW = W;
        setup.regionH = H;
        setup.maskW[0] = setup.maskW[1] = W / maskScale;
        setup.maskH[0] = setup.maskH[1] = H / maskScale;
        setup.texW = setup.texH = 4;
        setup.studio = studio;
        setup.grain = grain;
        setup.blurSigma[0] = setup.blurSigma[1] = sigma;
    }
};

ComposeUniforms compose(double weight) {
    ComposeUniforms c;
    c.region = {0, 0, W, H};
    c.shA = {0, 0, 1, 0};
    c.shB = {0, 0, 1, 0};
    c.misc = {float(weight), 0, 0, 0};
    return c;
}

const PixelBox whole{0, 0, W, H};

int byte(double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// Two triangles covering x0..x1, y0..y1 in clip space (y up).
int quad(std::span<float> dst, float x0, float y0, float x1, float y1) {
    const float v[] = {x0, y0, x1, y0, x1, y1, x0, y0, x1, y1, x0, y1};
    std::copy(std::begin(v), std::end(v), dst.begin());
    return 6;
}

}  // namespace

TEST(SpinRenderer, HandoffWeightZeroIsTheFlatFrameExactly) {
    Rig rig;
    SpinRenderer r(rig.setup);
    const View8 flat = r.staging();
    for (int i = 0; i < H; ++i)
        for (int x = 0; x < W; ++x) flat.top(i)[x] = {uint8_t(x * 5), uint8_t(i * 7), uint8_t((x * i) & 255), 255};
    Image8 out(W, H);
    const int none[2] = {0, 0};
    r.render(SpinUniforms{}, compose(0), none, out.view(), whole);
    for (int i = 0; i < H; ++i)
        for (int x = 0; x < W; ++x) ASSERT_EQ(out.top(i)[x], flat.top(i)[x]) << x << "," << i;

    // Halfway, the mix sits between the two.
    r.render(SpinUniforms{}, compose(0.5), none, out.view(), whole);
    const PxF s = rig.studio[5 * W + 9];
    const double mixed = 0.5 * (flat.top(5)[9].r / 255.0) + 0.5 * (s.r + rig.grain[5 * W + 9]);
    EXPECT_NEAR(out.top(5)[9].r, byte(mixed), 1);
}

TEST(SpinRenderer, ShadowFallsDownwardsByItsDrop) {
    Rig rig;
    SpinRenderer r(rig.setup);
    // Layer 0 covers the lower half of the canvas, at half opacity, dropped by 4 px.
    const int counts[2] = {quad(r.shadowArea(0), -1, -1, 1, 0), 0};
    ComposeUniforms c = compose(1);
    c.shA = {0.5f, 4, 1, 0};
    Image8 out(W, H);
    r.render(SpinUniforms{}, c, counts, out.view(), whole);
    auto plain = [&](int i, int x) { return byte(rig.studio[i * W + x].r + rig.grain[i * W + x]); };
    auto shaded = [&](int i, int x) { return byte(rig.studio[i * W + x].r * 0.5f + rig.grain[i * W + x]); };
    for (int x = 0; x < W; x += 7) {
        for (int i = 0; i < H / 2 + 4; ++i) EXPECT_NEAR(out.top(i)[x].r, plain(i, x), 1) << x << "," << i;
        for (int i = H / 2 + 4; i < H; ++i) EXPECT_NEAR(out.top(i)[x].r, shaded(i, x), 1) << x << "," << i;
    }
}

// The wide ambient layer may lie on a coarser mask than the contact layer; each is
// sampled at its own scale. Layer 0 (a quarter-size mask) covers the left half, layer 1
// (full size) the top half, both at half opacity and without blur.
TEST(SpinRenderer, EachShadowLayerHasItsOwnScale) {
    Rig rig;
    rig.setup.maskW[0] = W / 4;
    rig.setup.maskH[0] = H / 4;
    SpinRenderer r(rig.setup);
    const int counts[2] = {quad(r.shadowArea(0), -1, -1, 0, 1), quad(r.shadowArea(1), -1, 0, 1, 1)};
    ComposeUniforms c = compose(1);
    c.shA = {0.5f, 0, 0.25f, 0};
    c.shB = {0.5f, 0, 1, 0};
    Image8 out(W, H);
    r.render(SpinUniforms{}, c, counts, out.view(), whole);
    auto want = [&](int i, int x, double shade) {
        return byte(rig.studio[i * W + x].g * (1 - shade) + rig.grain[i * W + x]);
    };
    // Away from the frame's edge, beyond which the masks count as empty.
    for (int x : {4, 9, 38, 43})
        for (int i : {3, 10, 21, 28}) {
            const bool left = x < W / 2, top = i < H / 2;
            const double a1 = left ? 0.5 : 0, a2 = top ? 0.5 : 0;
            EXPECT_NEAR(out.top(i)[x].g, want(i, x, a1 + a2 - a1 * a2), 1) << x << "," << i;
        }
}

TEST(SpinRenderer, ShadowBlurIsAGaussianWithZeroOutside) {
    const double sigma = 2.5;
    Rig rig(sigma);
    SpinRenderer r(rig.setup);
    // Layer 1 covers the left half, full height, at full opacity.
    const int counts[2] = {0, quad(r.shadowArea(1), -1, -1, 0, 1)};
    ComposeUniforms c = compose(1);
    c.shB = {1, 0, 1, 0};
    Image8 out(W, H);
    r.render(SpinUniforms{}, c, counts, out.view(), whole);

    const int radius = int(std::ceil(3 * sigma));
    auto blurred = [&](int x, int y) {
        double sx = 0, wx = 0, sy = 0, wy = 0;
        for (int k = -radius; k <= radius; ++k) {
            const double w = std::exp(-k * k / (2 * sigma * sigma));
            wx += w;
            wy += w;
            if (x + k >= 0 && x + k < W / 2) sx += w;
            if (y + k >= 0 && y + k < H) sy += w;
        }
        return (sx / wx) * (sy / wy);
    };
    for (int i : {0, 3, H / 2}) {
        for (int x = 0; x < W; ++x) {
            const double a = blurred(x, i);
            const double want = rig.studio[i * W + x].b * (1 - a) + rig.grain[i * W + x];
            EXPECT_NEAR(out.top(i)[x].b, byte(want), 1.5) << x << "," << i;
        }
    }
}

TEST(SpinRenderer, RenderersOnDifferentThreadsShareTheQueue) {
    // Each worker renders its own scene while the other does; the pictures must be the
    // ones each renders alone.
    Rig a(1.5), b(3);
    SpinRenderer ra(a.setup), rb(b.setup);
    const int counts[2] = {quad(ra.shadowArea(0), -0.5f, -0.5f, 0.5f, 0.5f), 0};
    quad(rb.shadowArea(0), -0.5f, -0.5f, 0.5f, 0.5f);
    ComposeUniforms c = compose(1);
    c.shA = {0.7f, 2, 1, 0};
    Image8 aloneA(W, H), aloneB(W, H);
    ra.render(SpinUniforms{}, c, counts, aloneA.view(), whole);
    rb.render(SpinUniforms{}, c, counts, aloneB.view(), whole);
    ASSERT_NE(aloneA.px, aloneB.px);
    std::vector<Image8> outA(8, Image8(W, H)), outB(8, Image8(W, H));
    std::thread ta([&] {
        for (Image8& o : outA) ra.render(SpinUniforms{}, c, counts, o.view(), whole);
    });
    std::thread tb([&] {
        for (Image8& o : outB) rb.render(SpinUniforms{}, c, counts, o.view(), whole);
    });
    ta.join();
    tb.join();
    for (const Image8& o : outA) EXPECT_EQ(o.px, aloneA.px);
    for (const Image8& o : outB) EXPECT_EQ(o.px, aloneB.px);
}

TEST(SpinRendererDeathTest, WrongFrameSize) {
    Rig rig;
    SpinRenderer r(rig.setup);
    Image8 out(W + 1, H);
    const int none[2] = {0, 0};
    EXPECT_EXIT(r.render(SpinUniforms{}, compose(1), none, out.view(), whole), testing::ExitedWithCode(1),
                "spin: frame of 49x32 for a 48x32 scene");
}
