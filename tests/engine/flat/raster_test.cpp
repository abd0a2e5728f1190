#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "flat/imageio.h"
#include "flat/plate.h"
#include "flat/raster.h"
#include "flat/resample.h"
#include "flat/scene.h"
#include "look/look.h"

namespace {
double sum(const Plane& p) { return std::accumulate(p.v.begin(), p.v.end(), 0.0); }
}  // namespace

TEST(Coverage, RoundedRectAreaMatchesTheShape) {
    Plane p(64, 64);
    const Rect r{10.3, 12.7, 40.2, 30.5};
    const double radius = 8;
    coverRoundedRect(p, r, radius);
    const double area = r.w * r.h - (4 - M_PI) * radius * radius;
    EXPECT_NEAR(sum(p), area, 0.5);
    EXPECT_EQ(p.at(30, 28), 1.f);
    EXPECT_EQ(p.at(5, 5), 0.f);
    EXPECT_EQ(p.at(11, 13), 0.f);  // cut away by the corner
}

TEST(GaussianBlur, KeepsMassAndSymmetry) {
    Plane p(101, 101);
    p.at(50, 50) = 1;
    gaussianBlur(p, 4);
    EXPECT_NEAR(sum(p), 1, 1e-5);
    EXPECT_FLOAT_EQ(p.at(45, 50), p.at(55, 50));
    EXPECT_FLOAT_EQ(p.at(50, 45), p.at(50, 55));
    EXPECT_NEAR(p.at(50, 50), 1 / (2 * M_PI * 16), 2e-4);
}

TEST(RingShadow, MatchesABlurredRasterOfTheOutline) {
    // The soft band along an outline against a slow reference: the rounded
    // rectangle's coverage blurred as pixels, one minus that inside.
    const Rect r{40, 40, 220, 300};
    const double radius = 48, blur = 12;
    Plane ref(300, 380);
    coverRoundedRect(ref, r, radius);
    gaussianBlur(ref, cgSigma * blur);
    double worst = 0;
    for (int y = 40; y < 340; y += 3)
        for (int x = 40; x < 260; x += 3) {
            const float d = roundedRectDistance(x + 0.5f, y + 0.5f, r, float(radius));
            if (d > -0.5f) continue;
            const float k = outlineCurvature(x + 0.5f, y + 0.5f, r, float(radius), blur);
            worst = std::max(worst, std::abs(double(ringShadow(d, blur, k)) - (1 - ref.at(x, y))));
        }
    EXPECT_LT(worst, 0.01);
}

TEST(Lanczos, KeepsFlatColourAndIdentity) {
    Image8 img(7, 5);
    for (auto& p : img.px) p = {10, 20, 30, 255};
    for (auto [w, h] : {std::pair{3, 2}, {19, 13}, {7, 5}}) {
        const Image8 out = resample(img.view(), w, h);
        for (const Px8& p : out.px) EXPECT_EQ(p, (Px8{10, 20, 30, 255}));
    }
    for (size_t i = 0; i < img.px.size(); ++i) img.px[i] = {uint8_t(i * 7), uint8_t(i), uint8_t(200 - i), 255};
    const Image8 same = resample(img.view(), 7, 5);
    EXPECT_EQ(same.px, img.px);
}

TEST(Lanczos, StaysPremultipliedAndSharp) {
    // A hard edge from opaque white to transparent: ringing must not leave colour
    // above alpha, and the edge stays within a few pixels.
    Image8 img(8, 1);
    for (int x = 0; x < 8; ++x) img.px[size_t(x)] = x < 4 ? Px8{255, 255, 255, 255} : Px8{0, 0, 0, 0};
    const Image8 out = resample(img.view(), 32, 1);
    for (const Px8& p : out.px) EXPECT_LE(p.r, p.a);
    EXPECT_EQ(out.px[2].a, 255);
    EXPECT_EQ(out.px[29].a, 0);
}

TEST(Lanczos, BandsGiveTheWholePicturesPixels) {
    // Stills resample their content band by band as they are encoded; every band must
    // match the whole resample, up and down, also where a band holds one row.
    Image8 src(53, 71);
    for (size_t i = 0; i < src.px.size(); ++i)
        src.px[i] = {uint8_t(i * 37), uint8_t(i * 11), uint8_t(i / 13), uint8_t(255 - i % 7)};
    for (auto [w, h] : {std::pair{97, 130}, std::pair{29, 40}}) {
        const Lanczos l(src.w, src.h, w, h);
        Image8 whole(w, h), banded(w, h);
        l.run(src.view(), whole.view());
        std::vector<float> scratch;
        for (int top = 0, n = 1; top < h; top += n, n = n % 9 + 4) {
            l.rows(src.view(), banded.view().band(top, std::min(n, h - top)), top, scratch);
        }
        EXPECT_TRUE(whole.px == banded.px) << w << "x" << h;
    }
}

TEST(NeutralizeGrays, MatchesTheMaskFormulaForEveryColour) {
    // All 2^24 colours once, against the formula written out plainly: grey = mean,
    // mask = clamp(24 * (max - min) - 48/255, 0, 1), result = colour * mask + grey * (1 - mask);
    // with 256-bit registers and without.
    Image8 all(4096, 4096);
    for (size_t k = 0; k < all.px.size(); ++k) all.px[k] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), 255};
    useWideRegisters(false);
    const Image8 narrow = neutralizeGrays(all);
    useWideRegisters(true);
    const Image8 out = neutralizeGrays(all);
    EXPECT_TRUE(narrow.px == out.px);
    size_t differ = 0;
    for (size_t k = 0; k < all.px.size(); ++k) {
        const Px8 p = all.px[k];
        const double grey = (p.r + p.g + p.b) / 3.0;
        const double chroma = (std::max({p.r, p.g, p.b}) - std::min({p.r, p.g, p.b})) / 255.0;
        const double m = std::clamp(24 * chroma - 48 / 255.0, 0.0, 1.0);
        auto mix = [&](uint8_t c) { return uint8_t(std::lround(c * m + grey * (1 - m))); };
        differ += !(out.px[k] == Px8{mix(p.b), mix(p.g), mix(p.r), 255});
    }
    EXPECT_EQ(differ, 0u);
}

TEST(Orient, EveryExifValueTurnsTheStoredPictureUpright) {
    // Stored 3 x 2 picture with distinct pixels; the upright picture for each value,
    // written top row first, from the TIFF definitions (row 0 / column 0 sides).
    Image8 img(3, 2);
    for (int i = 0; i < 6; ++i) img.px[size_t(i)] = {uint8_t(i), 0, 0, 255};
    const std::vector<std::vector<int>> want = {
        {},
        {0, 1, 2, 3, 4, 5},  // 1
        {2, 1, 0, 5, 4, 3},  // 2 mirrored
        {5, 4, 3, 2, 1, 0},  // 3 half turn
        {3, 4, 5, 0, 1, 2},  // 4 flipped
        {0, 3, 1, 4, 2, 5},  // 5 transposed
        {3, 0, 4, 1, 5, 2},  // 6 quarter turn clockwise
        {5, 2, 4, 1, 3, 0},  // 7 transverse
        {2, 5, 1, 4, 0, 3},  // 8 quarter turn anticlockwise
    };
    for (int o = 1; o <= 8; ++o) {
        const Image8 up = orient(img, o);
        EXPECT_EQ(up.w, o >= 5 ? 2 : 3) << o;
        std::vector<int> got;
        for (const Px8& p : up.px) got.push_back(p.b);
        EXPECT_EQ(got, want[size_t(o)]) << "orientation " << o;
    }
}

TEST(Grain, IsFixedGreyAndWithinHalfTheAmount) {
    double total = 0, sq = 0;
    const int n = 200;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const float g = grainAt(x, y, 0.03);
            ASSERT_LE(std::abs(g), 0.015f);
            total += g, sq += double(g) * g;
        }
    const double mean = total / (n * n), sd = std::sqrt(sq / (n * n) - mean * mean);
    EXPECT_NEAR(mean, 0, 0.0005);
    EXPECT_NEAR(sd, 0.03 / 6, 0.0006);
    EXPECT_EQ(grainAt(17, 4, 0.03), grainAt(17, 4, 0.03));
    EXPECT_NE(grainAt(17, 4, 0.03), grainAt(18, 4, 0.03));
}

TEST(Dither, ZeroAmountOnlyRoundsAndGrainMovesAtMostOneStep) {
    SurfaceF s(64, 64);
    for (auto& p : s.px) p = {128 / 255.f, 64 / 255.f, 191 / 255.f, 1};
    const Image8 plain = dither(s, 0);
    for (const Px8& p : plain.px) EXPECT_EQ(p, (Px8{191, 64, 128, 255}));
    const Image8 grained = dither(s, 0.008);
    int moved = 0;
    for (const Px8& p : grained.px) {
        EXPECT_LE(std::abs(p.r - 128), 1);
        EXPECT_EQ(p.r - 128, p.g - 64);  // grey grain: the same step in every channel
        moved += p.r != 128;
    }
    EXPECT_GT(moved, 0);
}
