#include "video/screen.h"

#include <cmath>
#include <cstring>

#include "flat/raster.h"

ScreenPainter::ScreenPainter(const Scene& scene) : m_scene(scene) {
    const Rect& s = scene.geo.screen;
    m_x0 = int(std::floor(s.x));
    m_y0 = int(std::floor(s.y));
    m_rw = int(std::ceil(s.maxX())) - m_x0;
    m_rh = int(std::ceil(s.maxY())) - m_y0;
    if (m_rw < 1 || m_rh < 1) return;
    m_scaled = newAVFrame();
    m_scaled->format = AV_PIX_FMT_BGRA;
    m_scaled->width = m_rw;
    m_scaled->height = m_rh;
    avCheck(av_frame_get_buffer(m_scaled.get(), 64), "av_frame_get_buffer");
    m_scaledPlanes = newAVFrame();
    m_scaledPlanes->format = AV_PIX_FMT_GBRP;
    m_scaledPlanes->width = m_rw;
    m_scaledPlanes->height = m_rh;
    avCheck(av_frame_get_buffer(m_scaledPlanes.get(), 64), "av_frame_get_buffer");
}

void ScreenPainter::draw(View8 dst, const Image8& content) {
    const Scene& sc = m_scene;
    for (int i = 0; i < sc.h; ++i) std::memcpy(dst.top(i), sc.plate.top(i), size_t(sc.w) * 4);

    if (m_scaled && !content.empty()) {
        // Prepared frames are opaque: planar RGB without alpha carries all of them.
        auto cached = [&](SwsPtr& ctx, int sw, int sh, AVPixelFormat sf, int dw, int dh, AVPixelFormat df, int flags) {
            ctx.reset(sws_getCachedContext(ctx.release(), sw, sh, sf, dw, dh, df, flags, nullptr, nullptr, nullptr));
            if (!ctx)
                dieOnce("cannot scale " + std::to_string(sw) + "x" + std::to_string(sh) + " frames to " +
                        std::to_string(dw) + "x" + std::to_string(dh));
        };
        if (!m_planes || m_planes->width != content.w || m_planes->height != content.h) {
            m_planes = newAVFrame();
            m_planes->format = AV_PIX_FMT_GBRP;
            m_planes->width = content.w;
            m_planes->height = content.h;
            avCheck(av_frame_get_buffer(m_planes.get(), 64), "av_frame_get_buffer");
        }
        cached(m_split, content.w, content.h, AV_PIX_FMT_BGRA, content.w, content.h, AV_PIX_FMT_GBRP, SWS_POINT);
        cached(m_scale, content.w, content.h, AV_PIX_FMT_GBRP, m_rw, m_rh, AV_PIX_FMT_GBRP, SWS_LANCZOS);
        cached(m_join, m_rw, m_rh, AV_PIX_FMT_GBRP, m_rw, m_rh, AV_PIX_FMT_BGRA, SWS_POINT);
        const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(content.px.data()), nullptr, nullptr, nullptr};
        const int stride[4] = {content.w * 4, 0, 0, 0};
        sws_scale(m_split.get(), src, stride, 0, content.h, m_planes->data, m_planes->linesize);
        sws_scale(m_scale.get(), m_planes->data, m_planes->linesize, 0, content.h, m_scaledPlanes->data,
                  m_scaledPlanes->linesize);
        sws_scale(m_join.get(), m_scaledPlanes->data, m_scaledPlanes->linesize, 0, m_rh, m_scaled->data,
                  m_scaled->linesize);
        const View8 scaled{m_scaled->data[0], m_scaled->width, m_scaled->height, m_scaled->linesize[0]};
        const int rw = scaled.w, rh = scaled.h, x0 = m_x0, y0 = m_y0;
        // Whole pixels inside the rounded screen are copied; the outline's pixels are
        // mixed by their coverage, which anti-aliases the screen's edge.
        scanRoundedRect(
            sc.geo.screen, float(sc.geo.screenR), 0.5f, dst.w, dst.h,
            [&](int y, int a, int b) {
                const int sy = y - y0;
                if (sy < 0 || sy >= rh) return;
                a = std::max(a, x0), b = std::min(b, x0 + rw);
                if (b > a) std::memcpy(dst.row(y) + a, scaled.row(sy) + (a - x0), size_t(b - a) * 4);
            },
            [&](int x, int y, float d) {
                const int sx = x - x0, sy = y - y0;
                if (sx < 0 || sx >= rw || sy < 0 || sy >= rh) return;
                const float cov = coverageOf(d);
                const Px8 c = scaled.row(sy)[sx];
                Px8& p = dst.row(y)[x];
                auto mix = [&](uint8_t a, uint8_t b) { return round8(a * cov + b * (1 - cov)); };
                p = {mix(c.b, p.b), mix(c.g, p.g), mix(c.r, p.r), mix(c.a, p.a)};
            });
    }

    if (!sc.glass) return;
    for (int i = 0; i < sc.h; ++i) {
        const auto [x0, x1] = sc.glass->spans[size_t(i)];
        const float* a = sc.glass->alpha.top(i);
        Px8* d = dst.top(i);
        for (int x = x0; x < x1; ++x) {
            const float k = 1 - a[x];
            d[x] = {round8(d[x].b * k), round8(d[x].g * k), round8(d[x].r * k), round8(d[x].a * k + 255 * a[x])};
        }
    }
}
