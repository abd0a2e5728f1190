#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "flat/raster.h"
#include "video/scale.h"

// Both ways of the scaler (16 rows at once in 256-bit registers, a row at a time in
// 128-bit ones) give the same bytes, within a level of the filter computed exactly with
// the same weights, for down- and upscaling, grids that start between samples, and
// destinations that start inside the picture. The picture has flat parts, which the wide
// way copies instead of summing: flat both ways, and stripes that are flat only along
// rows, whose vertical sums ring beyond black and white.
TEST(PlaneScaler, BothWaysAgreeWithTheFilter) {
    const int W = 161, H = 61;
    std::vector<uint8_t> src(size_t(W) * H);
    uint32_t seed = 12345;
    for (size_t k = 0; k < src.size(); ++k) {
        seed = seed * 1664525u + 1013904223u;
        const int x = int(k % W), y = int(k / W);
        // Steps and noise: ringing and clipping at both ends.
        if (x < 64) src[k] = uint8_t((y / 8 + x / 5) % 2 ? 250 - (seed >> 28) : 5 + (seed >> 28));
        else if (x < 112) src[k] = y / 5 % 2 ? 255 : 0;
        else src[k] = y < 30 ? 255 : y < 45 ? 131 : 2;
    }
    struct Case {
        double ox, rx, oy, ry;
        int d0, d1, e0, e1;
    };
    for (const Case& c : {Case{0, 161.0 / 70, 0, 61.0 / 30, 0, 70, 0, 30}, Case{-0.5, 2.9, 1.5, 1.3, 0, 56, 0, 47},
                          Case{3.5, 0.6, -2, 0.45, 5, 250, 2, 120}, Case{0.5, 1.0, 0.5, 1.0, 0, 161, 0, 61}}) {
        const Taps tx = lanczosTaps(W, c.ox, c.rx, c.d0, c.d1, 4), ty = lanczosTaps(H, c.oy, c.ry, c.e0, c.e1, 2);
        std::vector<std::vector<uint8_t>> got[2];
        for (int wide = 0; wide < 2; ++wide) {
            useWideRegisters(wide);
            PlaneScaler s(H, tx, ty);
            for (int r0 = c.e0; r0 < c.e1; r0 += PlaneScaler::block) {
                const int n = std::min(PlaneScaler::block, c.e1 - r0);
                const uint8_t* rows = s.rows(src.data(), W, r0, n);
                for (int j = 0; j < n; ++j)
                    got[wide].emplace_back(rows + size_t(j) * s.rowStride(), rows + size_t(j) * s.rowStride() + tx.n);
            }
        }
        useWideRegisters(true);
        EXPECT_EQ(got[0], got[1]) << "ratio " << c.rx;
        for (int r = 0; r < ty.n; ++r)
            for (int x = 0; x < tx.n; ++x) {
                double sum = 0;
                for (int k = 0; k < ty.count; ++k)
                    for (int j = 0; j < tx.count; ++j) {
                        const int sy = std::min(ty.first[size_t(r)] + k, H - 1), sx = tx.first[size_t(x)] + j;
                        if (sx >= W) continue;  // padding, without weight
                        sum += ty.weight[size_t(r * ty.count + k)] / 16384.0 * tx.weight[size_t(x * tx.count + j)] /
                               16384.0 * src[size_t(sy * W + sx)];
                    }
                const double want = std::clamp(sum, 0.0, 255.0);
                ASSERT_NEAR(got[1][size_t(r)][size_t(x)], want, 1.0) << "ratio " << c.rx << " at " << x << "," << r;
            }
    }
}
