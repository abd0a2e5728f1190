#pragma once
#include <memory>
#include <span>

#include "flat/surface.h"
#include "spin/mesh.h"
#include "spin/program.h"

// What the GPU side of one spin scene is built from. Images are top row first.
struct SpinSetup {
    int w = 0, h = 0;              // output size
    int regionW = 0, regionH = 0;  // device target, supersampled px
    int maskW = 0, maskH = 0;      // shadow masks
    int texW = 0, texH = 0;        // screen texture
    std::span<const SpinVtx> verts;
    std::span<const PxF> studio;   // w * h premultiplied RGBA
    std::span<const float> grain;  // w * h
    double blurSigma[2] = {0, 0};  // per shadow layer, in mask px
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
    // Device pass, both shadow layers with blur, compose into `into` (w x h).
    void render(const SpinUniforms& u, const ComposeUniforms& c, const int shadowCount[2], View8 into);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};
