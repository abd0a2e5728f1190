#include "video/screen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "flat/raster.h"
#include "base/die.h"

namespace {

FramePtr yuvFrame(int w, int h) {
    FramePtr f = newAVFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    // Padded rows: swscale's vector code writes past the end of a row.
    avCheck(av_frame_get_buffer(f.get(), 64), "av_frame_get_buffer");
    return f;
}

uint16_t weight(float v) { return uint16_t(std::lround(std::clamp(v, 0.f, 1.f) * 256)); }

}  // namespace

void bgraToYUV(const View8& src, AVFrame* out) {
    // BT.709 in 1/65536: Y = 16 + 219/255 (Kr R + Kg G + Kb B), Cb and Cr with 224/255;
    // each chroma row sums to 0, so greys get exactly 128.
    constexpr int yr = 11966, yg = 40254, yb = 4064;    // 219/255 * (0.2126, 0.7152, 0.0722)
    constexpr int ur = -6596, ug = -22189, ub = 28785;  // 224/255 * (-0.1146, -0.3854, 0.5)
    constexpr int vr = 28784, vg = -26145, vb = -2639;  // 224/255 * (0.5, -0.4542, -0.0458)
    parallelFor((src.h / 2 + 15) / 16, [&](int band) {
        for (int i = band * 16; i < std::min(src.h / 2, band * 16 + 16); ++i) {
            const Px8* a = src.top(2 * i);
            const Px8* b = src.top(2 * i + 1);
            uint8_t* ya = out->data[0] + ptrdiff_t(2 * i) * out->linesize[0];
            uint8_t* yb2 = ya + out->linesize[0];
            uint8_t* u = out->data[1] + ptrdiff_t(i) * out->linesize[1];
            uint8_t* v = out->data[2] + ptrdiff_t(i) * out->linesize[2];
            for (int x = 0; x < src.w; ++x) {
                ya[x] = uint8_t(16 + ((yr * a[x].r + yg * a[x].g + yb * a[x].b + 32768) >> 16));
                yb2[x] = uint8_t(16 + ((yr * b[x].r + yg * b[x].g + yb * b[x].b + 32768) >> 16));
            }
            for (int x = 0; x < src.w / 2; ++x) {
                const Px8 p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], t = b[2 * x + 1];
                const int R = p.r + q.r + r.r + t.r, G = p.g + q.g + r.g + t.g, B = p.b + q.b + r.b + t.b;
                // Sums of four: the shift divides by 4 as well; 128 in the same units.
                u[x] = uint8_t((ur * R + ug * G + ub * B + (128 << 18) + (1 << 17)) >> 18);
                v[x] = uint8_t((vr * R + vg * G + vb * B + (128 << 18) + (1 << 17)) >> 18);
            }
        }
    });
}

const AVFrame* ContentYUV::convert(const Image8& content) {
    if (!m_yuv || m_yuv->width != content.w || m_yuv->height != content.h) m_yuv = yuvFrame(content.w, content.h);
    if (content.w % 2 == 0 && content.h % 2 == 0) {
        bgraToYUV(content.view(), m_yuv.get());
        return m_yuv.get();
    }
    // Odd sides leave half blocks, which swscale knows how to fill.
    m_sws.reset(sws_getCachedContext(m_sws.release(), content.w, content.h, AV_PIX_FMT_BGRA, content.w, content.h,
                                     AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_sws) die("cannot convert " + std::to_string(content.w) + "x" + std::to_string(content.h) + " frames");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(m_sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(content.px.data()), nullptr, nullptr, nullptr};
    const int stride[4] = {content.w * 4, 0, 0, 0};
    sws_scale(m_sws.get(), src, stride, 0, content.h, m_yuv->data, m_yuv->linesize);
    return m_yuv.get();
}

ScreenPainter::ScreenPainter(const Scene& scene) : m_scene(scene) {
    const int W = scene.w, H = scene.h;
    m_plate = yuvFrame(W, H);
    bgraToYUV(scene.plate.view(), m_plate.get());

    // The screen rounded out to whole 2 x 2 blocks, rows from the top; it may reach
    // beyond the frame (close-ups), which the parts clip.
    const Rect& s = scene.geo.screen;
    const int x0 = int(std::floor(s.x)) & ~1, x1 = (int(std::ceil(s.maxX())) + 1) & ~1;
    const int t0 = (H - int(std::ceil(s.maxY()))) & ~1, t1 = (H - int(std::floor(s.y)) + 1) & ~1;
    if (x1 <= x0 || t1 <= t0) return;
    m_scaled = yuvFrame(x1 - x0, t1 - t0);

    // Luma weights per pixel: the outline's coverage as the flat drawing has it, and
    // the glass's darkening.
    Part& y = m_parts[0];
    y.x0 = std::max(x0, 0), y.x1 = std::min(x1, W), y.y0 = std::max(t0, 0), y.y1 = std::min(t1, H);
    y.sx = x0, y.sy = t0;
    const int yw = std::max(y.x1 - y.x0, 0), yh = std::max(y.y1 - y.y0, 0);
    y.cover.resize(size_t(yw) * size_t(yh));
    y.keep.resize(y.cover.size());
    const float radius = float(scene.geo.screenR);
    for (int i = 0; i < yh; ++i) {
        const int top = y.y0 + i;
        const float cy = float(H - 1 - top) + 0.5f;
        const float* glass = scene.glass ? scene.glass->alpha.top(top) : nullptr;
        for (int j = 0; j < yw; ++j) {
            const int x = y.x0 + j;
            const size_t k = size_t(i) * size_t(yw) + size_t(j);
            y.cover[k] = weight(coverageOf(roundedRectDistance(float(x) + 0.5f, cy, s, radius)));
            y.keep[k] = weight(glass ? 1 - glass[x] : 1);
        }
    }
    // Chroma weights: the means of the four luma weights of each block.
    for (int p = 1; p < 3; ++p) {
        Part& c = m_parts[p];
        c.x0 = y.x0 / 2, c.x1 = y.x1 / 2, c.y0 = y.y0 / 2, c.y1 = y.y1 / 2;
        c.sx = x0 / 2, c.sy = t0 / 2;
        c.black = 128;
        const int cw = c.x1 - c.x0, ch = c.y1 - c.y0;
        c.cover.resize(size_t(std::max(cw, 0)) * size_t(std::max(ch, 0)));
        c.keep.resize(c.cover.size());
        for (int i = 0; i < ch; ++i)
            for (int j = 0; j < cw; ++j) {
                int cov = 0, keep = 0;
                for (int d = 0; d < 4; ++d) {
                    const size_t k = size_t(2 * i + d / 2) * size_t(yw) + size_t(2 * j + d % 2);
                    cov += y.cover[k], keep += y.keep[k];
                }
                c.cover[size_t(i) * size_t(cw) + size_t(j)] = uint16_t((cov + 2) / 4);
                c.keep[size_t(i) * size_t(cw) + size_t(j)] = uint16_t((keep + 2) / 4);
            }
    }
}

void ScreenPainter::mix(const Part& p, int plane, AVFrame* out, const AVFrame* scaled) const {
    const int w = p.x1 - p.x0;
    for (int i = p.y0; i < p.y1; ++i) {
        const uint8_t* under = m_plate->data[plane] + ptrdiff_t(i) * m_plate->linesize[plane] + p.x0;
        const uint8_t* over = scaled->data[plane] + ptrdiff_t(i - p.sy) * scaled->linesize[plane] + (p.x0 - p.sx);
        uint8_t* d = out->data[plane] + ptrdiff_t(i) * out->linesize[plane] + p.x0;
        const uint16_t* cover = p.cover.data() + size_t(i - p.y0) * size_t(w);
        const uint16_t* keep = p.keep.data() + size_t(i - p.y0) * size_t(w);
        const int black = p.black;
        for (int j = 0; j < w; ++j) {
            // plate and content by coverage, then towards black by the glass, in 1/256.
            const int v = (under[j] * (256 - cover[j]) + over[j] * cover[j] + 128) >> 8;
            d[j] = uint8_t(black + (((v - black) * keep[j] + (v >= black ? 128 : -128)) / 256));
        }
    }
}

void ScreenPainter::draw(AVFrame* out, const AVFrame* content) {
    if (!m_primed) {
        av_image_copy(out->data, out->linesize, const_cast<const uint8_t**>(m_plate->data), m_plate->linesize,
                      AV_PIX_FMT_YUV420P, m_scene.w, m_scene.h);
        m_primed = true;
    }
    if (!m_scaled) return;
    m_sws.reset(sws_getCachedContext(m_sws.release(), content->width, content->height, AV_PIX_FMT_YUV420P,
                                     m_scaled->width, m_scaled->height, AV_PIX_FMT_YUV420P, SWS_LANCZOS, nullptr,
                                     nullptr, nullptr));
    if (!m_sws)
        die("cannot scale " + std::to_string(content->width) + "x" + std::to_string(content->height) + " frames to " +
            std::to_string(m_scaled->width) + "x" + std::to_string(m_scaled->height));
    sws_scale(m_sws.get(), content->data, content->linesize, 0, content->height, m_scaled->data, m_scaled->linesize);
    for (int p = 0; p < 3; ++p) mix(m_parts[p], p, out, m_scaled.get());
}
