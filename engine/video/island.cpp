#include "video/island.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "flat/scene.h"
#include "video/source.h"

namespace {

// Mean B, G, R over the 5 x 5 box around (px, py), clipped to the frame.
void probeMean(const View8& f, int px, int py, double out[3]) {
    const int x0 = std::max(px - 2, 0), x1 = std::min(px + 2, f.w - 1);
    const int y0 = std::max(py - 2, 0), y1 = std::min(py + 2, f.h - 1);
    double sum[3] = {0, 0, 0};
    int n = 0;
    for (int y = y0; y <= y1; ++y) {
        const Px8* row = f.top(y);
        for (int x = x0; x <= x1; ++x, ++n) {
            sum[0] += row[x].b;
            sum[1] += row[x].g;
            sum[2] += row[x].r;
        }
    }
    for (int c = 0; c < 3; ++c) out[c] = n ? sum[c] / n : 0;
}

}  // namespace

std::optional<Island> Island::detect(const View8& frame) {
    const int W = frame.w, H = frame.h;
    const int band = int(H * 0.08);
    if (W <= 100 || band <= 10) return std::nullopt;

    int first = -1, last = -1, minLo = W, maxHi = 0;
    for (int y = 0; y < band; ++y) {
        const Px8* row = frame.top(y);
        int bestLo = 0, bestHi = 0;
        for (int x = 0; x < W;) {
            auto dark = [&](int i) { return std::max({row[i].r, row[i].g, row[i].b}) < 9; };
            if (!dark(x)) {
                ++x;
                continue;
            }
            int e = x;
            while (e < W && dark(e)) ++e;
            if (e - x > bestHi - bestLo) bestLo = x, bestHi = e;
            x = e;
        }
        const int len = bestHi - bestLo;
        if (!(W / 5 < len && len < (3 * W) / 5)) continue;
        if (std::abs((bestLo + bestHi) / 2 - (W >> 1)) >= W / 10) continue;
        if (first < 0) first = y;
        last = y;
        minLo = std::min(minLo, bestLo);
        maxHi = std::max(maxHi, bestHi);
    }
    if (first < 0) return std::nullopt;
    const int rows = last - first + 1;
    if (rows < H / 40) return std::nullopt;

    // Without the red recording dot the pill is the phone's own and stays as it is.
    int red = 0;
    for (int y = first; y <= last; ++y) {
        const Px8* row = frame.top(y);
        for (int x = minLo; x < maxHi; ++x)
            if (row[x].r > 150 && row[x].g < 100 && row[x].b < 100) ++red;
    }
    if (red < 40) return std::nullopt;

    Island is;
    is.dotless = Rect{double(minLo), double(H - last - 1), double(maxHi - minLo), double(rows)};
    const double grow = 0.09 * rows;
    is.wipe = is.dotless.inset(-grow);
    const double pillW = rows * 376.0 / 110.0;
    is.pill = Rect{W / 2.0 - pillW / 2, is.dotless.y, pillW, double(rows)};
    const int pad = int(0.09 * rows) + std::max(rows / 8, 6);
    is.probeY = (first + last) / 2;
    is.probeLX = std::max(minLo - pad, 0);
    is.probeRX = std::min(maxHi + pad, W - 1);
    return is;
}

void Island::apply(View8 frame) const {
    double l[3], r[3];
    probeMean(frame, probeLX, probeY, l);
    probeMean(frame, probeRX, probeY, r);
    const bool flat = std::fabs(l[0] - r[0]) <= 4 && std::fabs(l[1] - r[1]) <= 4 && std::fabs(l[2] - r[2]) <= 4;
    if (!flat) {
        fillRoundedRect(frame, dotless, dotless.h / 2, cgColor("#000000"));
        return;
    }
    const Color bar{(l[2] + r[2]) / 2 / 255, (l[1] + r[1]) / 2 / 255, (l[0] + r[0]) / 2 / 255, 1};
    fillRoundedRect(frame, wipe, wipe.h / 2, bar);
    fillRoundedRect(frame, pill, pill.h / 2, cgColor("#000000"));
}

FramePrep FramePrep::make(const Source& source, const View8& first) {
    FramePrep p;
    p.orient = source.orient;
    if (p.orient == 1) p.island = Island::detect(first);
    return p;
}

Image8 FramePrep::operator()(Image8 frame) const {
    if (island) island->apply(frame.view());
    if (orient != 1) frame = ::orient(frame, orient);
    neutralizeGrays(frame.view());
    return frame;
}
