#pragma once
#include "flat/scene.h"
#include "video/av.h"

// Draws a flat scene's frames for one video output. The same picture as Scene::draw,
// but the content is brought to the screen by libswscale's Lanczos filter, built once
// for the output's fixed scale (again only if the frame size changes). Scaling planar
// RGB runs on swscale's vector code: measured a twelfth of the CPU time of the general
// resampler, or a third of swscale scaling packed BGRA (1178x2556 to 884x1918).
class ScreenPainter {
public:
    explicit ScreenPainter(const Scene& scene);
    ScreenPainter(const ScreenPainter&) = delete;
    ScreenPainter& operator=(const ScreenPainter&) = delete;

    // Plate, screen, glass into dst (the scene's size).
    void draw(View8 dst, const Image8& content);
    // Where one frame can differ from another: the screen, rounded out to whole pixels,
    // as columns [left, right) and rows [top, bottom) counted from the top.
    int left() const { return m_x0; }
    int right() const { return m_x0 + m_rw; }
    int top() const { return m_scene.h - (m_y0 + m_rh); }
    int bottom() const { return m_scene.h - m_y0; }

private:
    const Scene& m_scene;
    int m_x0 = 0, m_y0 = 0, m_rw = 0, m_rh = 0;  // the screen rounded out to whole pixels
    SwsPtr m_split, m_scale, m_join;
    FramePtr m_planes, m_scaledPlanes, m_scaled;  // padded: swscale may write past a row's end
};
