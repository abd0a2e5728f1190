// What the spin program and the engine must agree on: the uniform and push-constant
// blocks, binding and location numbers, workgroup sizes and limits. C++ and GLSL both
// include this file, so a number changed here changes on both sides at once.
//
// Every block member is a four-lane float vector (or, in the push constants, a 4-byte
// scalar after int pairs), so the layouts GLSL sees (std140, std430) are the plain C++
// layouts without padding; the static_asserts at the end hold C++ to that.
#ifdef __cplusplus
#pragma once
#include <cstddef>
struct vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};
struct ivec2 {
    int x = 0, y = 0;
};
#define SPIN_CONST(name, value) inline constexpr int name = value;
#define SPIN_BLOCK(b, name) struct name
#define SPIN_PUSH(name) struct name
#define SPIN_INSTANCE(n)
#else
#define SPIN_CONST(name, value) const int name = value;
#define SPIN_BLOCK(b, name) layout(std140, set = 0, binding = b) uniform name
#define SPIN_PUSH(name) layout(push_constant) uniform name
#define SPIN_INSTANCE(n) n
#endif

// Device pass: vertex attributes (one SpinVtx of 32 bytes per vertex), set 0 bindings,
// colour attachments.
SPIN_CONST(vtxPosition, 0)  // vec4 at byte 0: x, y, z, kind
SPIN_CONST(vtxNormal, 1)    // vec4 at byte 16: normal, tint
SPIN_CONST(vtxBytes, 32)
SPIN_CONST(devUniformsAt, 0)  // SpinUniforms, vertex and fragment stages
SPIN_CONST(devScreenAt, 1)    // the screen texture, fragment stage
SPIN_CONST(devColourOut, 0)   // colour attachment
// The device is drawn with devSamples samples a pixel. Its colour's alpha carries both
// the share of samples covered and the screen mask below it: a fragment writes
// 1 - mask / maskShare, so the resolved alpha lies within 1 / maskShare below the
// covered share, which moves in steps of 1 / devSamples.
SPIN_CONST(devSamples, 4)
SPIN_CONST(maskShare, 16)

// Shadow pass: clip-space (x, y) float pairs, room for shadowRoom vertices per layer,
// the two layers one after the other in one buffer.
SPIN_CONST(shadowPosition, 0)
SPIN_CONST(shadowRoom, 32768)
SPIN_CONST(shadowLayerBytes, shadowRoom * 8)

// The compute kernels (blur, compose) run in tile x tile groups, one thread
// per pixel they write.
SPIN_CONST(tile, 16)

// Blur: three sigmas each side, at most blurMaxRadius taps, which only a shadow blur
// beyond 85 mask pixels reaches.
SPIN_CONST(blurMaxRadius, 256)
SPIN_CONST(blurSourceAt, 0)
SPIN_CONST(blurTargetAt, 1)

// Compose: set 0 bindings.
SPIN_CONST(composeUniformsAt, 0)
SPIN_CONST(composeStudioAt, 1)
SPIN_CONST(composeColourAt, 2)
SPIN_CONST(composeShadow0At, 3)
SPIN_CONST(composeShadow1At, 4)
SPIN_CONST(composeFlatAt, 5)
SPIN_CONST(composeOutAt, 6)

#if defined(__cplusplus) || defined(VMAIN) || defined(FMAIN) || defined(FSCREEN)
// The device pass. "Local" means model x/y relative to the device centre, y up, in
// canvas pixels.
SPIN_BLOCK(devUniformsAt, SpinUniforms) {
    vec4 rot0, rot1, rot2;  // rows of the rotation (xyz)
    vec4 cam;               // focal length, camera distance, near, far
    vec4 view;              // device centre in the target (x, y up), target width, height
    vec4 body;              // half width, half height, corner radius
    vec4 screen;            // half width, half height, corner radius
    vec4 texRect;           // screen texture in local px: min x, min y, width, height
    vec4 top, bot;          // clay gradient colours, sRGB
    vec4 edge;              // amount, sigma, grey (1 lit, 0 dark)
    vec4 glass;             // amount, sigma
    vec4 light;             // unit direction (camera space), strength
    vec4 rim;               // amount, falloff exponent
    vec4 plateau;           // camera plateau centre x, y, half size, corner radius
    vec4 lensA;             // lens 0 x, y, lens 1 x, y
    vec4 lensB;             // lens 2 x, y, lens radius
    vec4 ao;                // contact shade strength, reach in px
    vec4 zoom;              // device scale on screen
}
SPIN_INSTANCE(u);
#endif

#if defined(__cplusplus) || defined(BLUR)
// One direction of one blur.
SPIN_PUSH(BlurPush) {
    ivec2 from;  // the texels written: from .. to (exclusive), within the image
    ivec2 to;
    ivec2 dir;   // (1, 0) along rows, (0, 1) along columns
    int radius;  // taps each side, at most blurMaxRadius
    float sigma;
    float norm;  // 1 / the sum of all 2 * radius + 1 weights
}
SPIN_INSTANCE(pc);
#endif

#if defined(__cplusplus) || defined(COMPOSE)
// The compose pass, in output pixels measured from the top.
SPIN_BLOCK(composeUniformsAt, ComposeUniforms) {
    vec4 region;  // device target: left, top, width, height
    vec4 shA;     // shadow layer 0: opacity, drop in mask px, mask px per output px
    vec4 shB;     // shadow layer 1: the same
    vec4 misc;    // hand-off weight
    vec4 work;    // the pixels composed: left, top, right, bottom (exclusive)
}
SPIN_INSTANCE(c);
#endif

#ifdef __cplusplus
static_assert(sizeof(SpinUniforms) == 19 * 16);
static_assert(sizeof(ComposeUniforms) == 5 * 16);
static_assert(sizeof(BlurPush) == 36 && offsetof(BlurPush, radius) == 24 && offsetof(BlurPush, norm) == 32);
static_assert(shadowLayerBytes == shadowRoom * 2 * sizeof(float));
#undef SPIN_CONST
#undef SPIN_BLOCK
#undef SPIN_PUSH
#undef SPIN_INSTANCE
#endif
