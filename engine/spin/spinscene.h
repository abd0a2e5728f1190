#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "flat/scene.h"
#include "spin/mesh.h"
#include "spin/motion.h"
#include "spin/renderer.h"
#include "spin/schedule.h"

// Everything one output size needs to turn the device: the two flat frames shown at
// rest, the mesh and camera, and the GPU passes. Built once before the first frame;
// each frame then only sets a few uniforms and runs the passes.
class SpinScene {
public:
    // w x h output; content the screen content's upright size; grain the grain amount;
    // closeup: the clip starts from the close-up framing and travels to the full one.
    SpinScene(int w, int h, int contentW, int contentH, const Style& style, double grain, bool closeup = false);

    // A slot of the clip as the schedule has it: rendered, or the flat frame at rest.
    void draw(View8 into, const Image8& content, const Shown& slot);
    // The turned device at deg, mixed with the flat frame by the hand-off weight (0..1).
    void turned(View8 into, const Image8& content, double deg, double handoff);

    // The flat frame shown at rest at an angle: `start` before the turn's midpoint.
    const Scene& rest(double deg) const { return restBefore(deg) ? start : flat; }
    Placement placement(double deg) const { return m_motion.placement(deg); }

    // The device's projected outline at an angle (canvas px, y up), counter-clockwise.
    std::vector<Vec2> silhouette(double deg) const;

    const Scene flat;   // full layout: shown after the turn
    const Scene start;  // shown before the turn: the close-up frame, or the same as flat
    const int w, h;

    // Introspection for tests and the benchmark.
    const Geo& geo() const { return m_motion.geo; }
    const std::optional<Geo>& from() const { return m_motion.from; }
    Rect region() const { return m_region; }
    int texW() const { return m_texW; }
    int uploads() const { return m_uploads; }
    // For the benchmark: where each frame's time goes.
    void profile(bool on) { m_gpu->profile(on); }
    const PassTimes& passTimes() const { return m_gpu->lastTimes(); }

private:
    // The content's size and a hash of its pixels. The caller may redraw one image object
    // in place, so its address alone proves nothing.
    using ContentKey = std::array<uint64_t, 2>;
    void upload(const Image8& content, const ContentKey& key);
    // The part of the region the device covers with rotation R at the current placement
    // (canvas px, y up, whole pixels).
    Rect coverage(const std::array<Vec3, 3>& R) const;
    SpinRenderer::Facing facing(double cosDeg) const;
    // The output pixels a shadow layer's mask, filled by these clip-space triangles and
    // blurred, may darken.
    PixelBox shadowReach(int layer, std::span<const float> clip, double drop) const;
    static constexpr double windowMargin = 8;  // canvas px between the screen's outline and its interior

    SpinMotion m_motion;
    Placement m_place;
    std::vector<Vec3> m_hull;
    Vec3 m_lo, m_hi;  // the mesh's bounding box, model space
    double m_f = 0, m_D = 0, m_thick = 0;
    Rect m_region;
    int m_texW = 0, m_texH = 0;
    Palette m_pal;
    std::array<std::vector<double>, 2> m_layers;  // grounding_ambient, grounding_contact
    int m_shrink[2] = {1, 1};                     // each layer's mask: a quarter of the canvas, over this
    std::array<int, 2> m_mask[2] = {};            // each layer's mask size
    int m_blurReach[2] = {0, 0};                  // and the texels its blur reaches each side
    SpinUniforms m_u;
    std::unique_ptr<SpinRenderer> m_gpu;
    std::optional<ContentKey> m_shown;                    // what the screen texture holds
    std::optional<std::pair<bool, ContentKey>> m_staged;  // the flat frame staged: which rest, what content
    int m_uploads = 0;
    bool m_opaque = true;  // every pixel of the screen texture
};

// Rotation rows for a turn of deg about the vertical axis.
std::array<Vec3, 3> rows(double deg);

// Writes the fan of triangles that fills poly grown by a round margin of `grow` into
// dst as clip-space (x, y) pairs of a maskW x maskH mask (a quarter of the canvas).
// Stops at the last whole triangle that fits in maxVerts; returns the vertices written.
int shadowTriangles(const std::vector<Vec2>& poly, double grow, std::span<float> dst, int maxVerts, int maskW,
                    int maskH);

// Convex hull by the monotone chain, counter-clockwise; collinear points dropped.
std::vector<Vec2> convexHull(std::vector<Vec2> pts);
