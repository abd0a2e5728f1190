#pragma once
#include <memory>
#include <span>

#include "flat/surface.h"
#include "spin/mesh.h"
#include "spin/program.h"

// What the GPU side of one spin scene is built from. Images are top row first.
struct SpinSetup {
    int w = 0, h = 0;              // output size
    int regionW = 0, regionH = 0;  // device target
    int maskW[2] = {0, 0};         // shadow masks, one per layer
    int maskH[2] = {0, 0};
    int texW = 0, texH = 0;  // screen texture
    std::span<const SpinVtx> verts;
    size_t frontVerts = 0;         // verts[0, frontVerts) is the front half of the device,
    size_t windowVerts = 0;        // of which the last ones fill the screen's interior
    std::span<const PxF> studio;   // w * h premultiplied RGBA
    std::span<const float> grain;  // w * h
    double blurSigma[2] = {0, 0};  // per shadow layer, in its mask's px
};

// Pixels [x0, x1) x [y0, y1) of a frame, rows counted from the top.
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool operator==(const PixelBox&) const = default;
};
// The smallest box holding both; an empty one adds nothing.
PixelBox unite(const PixelBox& a, const PixelBox& b);

// How many texels each side the shadow blur reaches at sigma (mask px).
int blurRadius(double sigma);

// Who composes the frames of renderers built from now on: the device's compose kernel,
// or the host from copies of the device's images (the same arithmetic, within a level).
// Auto: the host where the device is the processor itself, whose shader emulation costs
// several times what those few operations a pixel cost natively.
enum class Composer { Auto, Device, Host };
void useComposer(Composer c);

// Where the last frame's time went, in seconds on the host's clock: each pass (measured
// only in a profile) and the copy back.
struct PassTimes {
    double device = 0, shadow = 0, blur = 0, compose = 0, readBack = 0;
};

// Pipelines, targets and buffers of one spin scene. One frame at a time: every call
// waits for its GPU work before it returns. Different renderers may work at once on
// different threads.
class SpinRenderer {
public:
    explicit SpinRenderer(const SpinSetup& setup);
    ~SpinRenderer();
    SpinRenderer(const SpinRenderer&) = delete;
    SpinRenderer& operator=(const SpinRenderer&) = delete;

    // The w x h frame the compose pass mixes in while the hand-off weight is below 1;
    // host memory the caller draws the flat frame into.
    View8 staging() const;
    // Room for shadowRoom (x, y) clip-space vertices of one layer's triangles, y up.
    std::span<float> shadowArea(int layer) const;
    // Replaces the screen texture (texW x texH, premultiplied BGRA) and its mipmaps.
    void uploadScreen(const View8& pixels);
    // How the device pass orders its draws. Front: the screen's interior first, with a
    // shader that computes nothing but the screen (it lies well within the outline, where
    // the full shader gives the screen alone), then the rest. EdgeOn: the front nearly
    // edge-on, where the outline's soft edge may reach into the interior: everything with
    // the full shader. Away: the front half faces away, drawn last, where it fails the
    // depth test before it is shaded, and its interior not at all.
    enum class Facing { Front, EdgeOn, Away };
    // Device pass, both shadow layers with blur, compose into `into` (w x h). `changed`:
    // where this frame may differ from the plain backdrop with its grain; only there and
    // where the last frame differed is the frame composed again (c.work is set here).
    void render(const SpinUniforms& u, const ComposeUniforms& c, const int shadowCount[2], View8 into,
                const PixelBox& changed, Facing front = Facing::Front);
    // Profiling submits and waits for each pass on its own, to time them.
    void profile(bool on);
    const PassTimes& lastTimes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};
