#include "video/screen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "flat/raster.h"
#include "base/die.h"

namespace {

uint16_t weight(float v) { return uint16_t(std::lround(std::clamp(v, 0.f, 1.f) * 256)); }

}  // namespace

void ScreenPainter::Part::setWeights(const std::vector<uint16_t>& fullCover, const std::vector<uint16_t>& fullKeep) {
    const int w = x1 - x0, h = y1 - y0;
    rows.assign(size_t(h), Row{});
    cover.clear(), keep.clear();
    for (int i = 0; i < h; ++i) {
        const size_t row = size_t(i) * size_t(w);
        auto clear = [&](int j) { return fullCover[row + size_t(j)] == 256 && fullKeep[row + size_t(j)] == 256; };
        Row& r = rows[size_t(i)];
        while (r.a < w && !clear(r.a)) ++r.a;
        r.b = r.a;
        while (r.b < w && clear(r.b)) ++r.b;
        r.at = cover.size();
        for (int j = 0; j < w; ++j)
            if (j < r.a || j >= r.b) {
                cover.push_back(fullCover[row + size_t(j)]);
                keep.push_back(fullKeep[row + size_t(j)]);
            }
    }
}

ScreenPainter::ScreenPainter(const Scene& scene) : m_w(scene.w), m_h(scene.h) {
    const int W = scene.w, H = scene.h;
    m_plate = newPicture(W, H, AV_PIX_FMT_YUV420P);
    bgraToYUV(scene.plate.view(), m_plate.get());

    // The screen rounded out to whole pixels, as the stills draw it, rows from the top;
    // it may reach beyond the frame (close-ups), which the parts clip.
    const Rect& s = scene.geo.screen;
    const int x0 = int(std::floor(s.x)), x1 = int(std::ceil(s.maxX()));
    const int t0 = H - int(std::ceil(s.maxY())), t1 = H - int(std::floor(s.y));
    Part& y = m_parts[0];
    y.x0 = std::max(x0, 0), y.x1 = std::min(x1, W), y.y0 = std::max(t0, 0), y.y1 = std::min(t1, H);
    if (y.x1 <= y.x0 || y.y1 <= y.y0) {
        y = Part{};
        return;
    }
    // The 2 x 2 blocks that the screen touches: chroma's part, and the luma weights
    // over them (zero coverage beyond the screen's pixels).
    const int bx0 = y.x0 / 2, bx1 = (y.x1 + 1) / 2, by0 = y.y0 / 2, by1 = (y.y1 + 1) / 2;
    const int bw = 2 * (bx1 - bx0), bh = 2 * (by1 - by0);
    std::vector<uint16_t> cover(size_t(bw) * size_t(bh)), keep(cover.size());
    const float radius = float(scene.geo.screenR);
    for (int i = 0; i < bh; ++i) {
        const int top = 2 * by0 + i;
        const float cy = float(H - 1 - top) + 0.5f;
        const float* glass = scene.glass ? scene.glass->alpha.top(top) : nullptr;
        for (int j = 0; j < bw; ++j) {
            const int x = 2 * bx0 + j;
            const size_t k = size_t(i) * size_t(bw) + size_t(j);
            const bool in = x >= y.x0 && x < y.x1 && top >= y.y0 && top < y.y1;
            cover[k] = in ? weight(coverageOf(roundedRectDistance(float(x) + 0.5f, cy, s, radius))) : 0;
            keep[k] = weight(glass ? 1 - glass[x] : 1);
        }
    }
    const int yw = y.x1 - y.x0, yh = y.y1 - y.y0;
    std::vector<uint16_t> partCover(size_t(yw) * size_t(yh)), partKeep(partCover.size());
    for (int i = 0; i < yh; ++i)
        for (int j = 0; j < yw; ++j) {
            const size_t from = size_t(y.y0 + i - 2 * by0) * size_t(bw) + size_t(y.x0 + j - 2 * bx0);
            partCover[size_t(i) * size_t(yw) + size_t(j)] = cover[from];
            partKeep[size_t(i) * size_t(yw) + size_t(j)] = keep[from];
        }
    y.setWeights(partCover, partKeep);
    for (int p = 1; p < 3; ++p) {
        Part& c = m_parts[p];
        c.x0 = bx0, c.x1 = bx1, c.y0 = by0, c.y1 = by1;
        c.black = 128;
        const int cw = bx1 - bx0, ch = by1 - by0;
        partCover.assign(size_t(cw) * size_t(ch), 0);
        partKeep.assign(partCover.size(), 0);
        for (int i = 0; i < ch; ++i)
            for (int j = 0; j < cw; ++j) {
                int cov = 0, kept = 0;
                for (int d = 0; d < 4; ++d) {
                    const size_t k = size_t(2 * i + d / 2) * size_t(bw) + size_t(2 * j + d % 2);
                    cov += cover[k], kept += keep[k];
                }
                partCover[size_t(i) * size_t(cw) + size_t(j)] = uint16_t((cov + 2) / 4);
                partKeep[size_t(i) * size_t(cw) + size_t(j)] = uint16_t((kept + 2) / 4);
            }
        c.setWeights(partCover, partKeep);
    }
    m_screen = {x0, t0, x1 - x0, t1 - t0};
    m_alphaCover.assign(size_t(bw) * size_t(bh), 0);
    m_row.resize(size_t(bw) + 16);
}

void ScreenPainter::prepare(int w, int h) {
    // Each plane's samples on their own grid: a chroma sample is the middle of a 2 x 2
    // block, half a luma pixel beyond the screen's edge when the screen starts on an odd
    // pixel.
    const auto [x0, t0, rw, rh] = m_screen;
    const double rx = double(w) / rw, ry = double(h) / rh;
    Part& y = m_parts[0];
    y.scaler = PlaneScaler(h, lanczosTaps(w, x0, rx, y.x0, y.x1, 4), lanczosTaps(h, t0, ry, y.y0, y.y1, 2));
    for (int p = 1; p < 3; ++p) {
        Part& c = m_parts[p];
        c.scaler = PlaneScaler((h + 1) / 2, lanczosTaps((w + 1) / 2, x0 / 2.0, rx, c.x0, c.x1, 4),
                               lanczosTaps((h + 1) / 2, t0 / 2.0, ry, c.y0, c.y1, 2));
    }
    m_contentW = w, m_contentH = h;
}

namespace {

// Plate and content by coverage, then towards black by the glass, in 1/256; the glass
// rounds half away from black. Written for the vectoriser, with a build for wider
// registers where the processor has them.
__attribute__((target_clones("avx2", "default"))) void mixRow(const uint8_t* under, const uint8_t* over,
                                                              const uint16_t* cover, const uint16_t* keep, int black,
                                                              int n, uint8_t* d) {
    for (int j = 0; j < n; ++j) {
        const int v = (under[j] * (256 - cover[j]) + over[j] * cover[j] + 128) >> 8;
        const int t = (v - black) * keep[j];
        d[j] = uint8_t(black + ((t + 128 + (t >> 31)) >> 8));
    }
}

}  // namespace

void ScreenPainter::mix(Part& p, int plane, AVFrame* out, const AVFrame* content) {
    const int w = p.x1 - p.x0;
    for (int i0 = p.y0; i0 < p.y1; i0 += PlaneScaler::block) {
        const int n = std::min(PlaneScaler::block, p.y1 - i0);
        const uint8_t* scaled = p.scaler.rows(content->data[plane], content->linesize[plane], i0, n);
        for (int i = i0; i < i0 + n; ++i, scaled += p.scaler.rowStride()) {
            const uint8_t* under = m_plate->data[plane] + ptrdiff_t(i) * m_plate->linesize[plane] + p.x0;
            uint8_t* d = out->data[plane] + ptrdiff_t(i) * out->linesize[plane] + p.x0;
            const Part::Row& r = p.rows[size_t(i - p.y0)];
            const uint16_t* cover = p.cover.data() + r.at;
            const uint16_t* keep = p.keep.data() + r.at;
            mixRow(under, scaled, cover, keep, p.black, r.a, d);
            std::memcpy(d + r.a, scaled + r.a, size_t(r.b - r.a));
            mixRow(under + r.b, scaled + r.b, cover + r.a, keep + r.a, p.black, w - r.b, d + r.b);
        }
    }
}

void ScreenPainter::mixAlpha(Part& p, int plane, AVFrame* out, const AVFrame* content) {
    // Premultiplied content over the plate: out - black = (content - black) * cover +
    // (plate - black) * (1 - alpha * cover), with alpha * cover per luma pixel, and for
    // chroma its mean over the block.
    const Part& luma = m_parts[0];
    const int bx0 = m_parts[1].x0, by0 = m_parts[1].y0, bw = 2 * (m_parts[1].x1 - bx0);
    const int w = p.x1 - p.x0;
    const int black = p.black;
    std::vector<uint8_t> alpha(plane == 0 ? m_row.size() : 0);
    for (int i = p.y0; i < p.y1; ++i) {
        std::copy_n(p.scaler.rows(content->data[plane], content->linesize[plane], i, 1), w, m_row.data());
        if (plane == 0) {
            std::copy_n(p.scaler.rows(content->data[3], content->linesize[3], i, 1), w, alpha.data());
            uint16_t* ac = m_alphaCover.data() + size_t(i - 2 * by0) * size_t(bw) + size_t(luma.x0 - 2 * bx0);
            for (int j = 0; j < w; ++j) ac[j] = uint16_t((alpha[size_t(j)] * p.coverAt(i - p.y0, j) + 127) / 255);
        }
        const uint8_t* over = m_row.data();
        const uint8_t* under = m_plate->data[plane] + ptrdiff_t(i) * m_plate->linesize[plane] + p.x0;
        uint8_t* d = out->data[plane] + ptrdiff_t(i) * out->linesize[plane] + p.x0;
        for (int j = 0; j < w; ++j) {
            int ac;
            if (plane == 0) {
                ac = m_alphaCover[size_t(i - 2 * by0) * size_t(bw) + size_t(p.x0 + j - 2 * bx0)];
            } else {
                const uint16_t* a = m_alphaCover.data() + size_t(2 * (i - by0)) * size_t(bw) + size_t(2 * j);
                ac = (a[0] + a[1] + a[bw] + a[bw + 1] + 2) / 4;
            }
            const int cov = p.coverAt(i - p.y0, j);
            const int v = (under[j] * (256 - ac) + over[j] * cov + black * (ac - cov) + 128) >> 8;
            d[j] = uint8_t(black + (((v - black) * p.keepAt(i - p.y0, j) + (v >= black ? 128 : -128)) / 256));
        }
    }
}

void ScreenPainter::draw(AVFrame* out, const AVFrame* content) {
    if (!m_primed) {
        av_image_copy(out->data, out->linesize, const_cast<const uint8_t**>(m_plate->data), m_plate->linesize,
                      AV_PIX_FMT_YUV420P, m_w, m_h);
        m_primed = true;
    }
    if (m_parts[0].rows.empty()) return;
    if (content->width != m_contentW || content->height != m_contentH) prepare(content->width, content->height);
    const bool alpha = content->format == AV_PIX_FMT_YUVA420P;
    for (int p = 0; p < 3; ++p) {
        if (alpha) mixAlpha(m_parts[p], p, out, content);
        else mix(m_parts[p], p, out, content);
    }
}
