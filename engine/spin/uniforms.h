// The blocks that cross from the engine to the spin program. C++ and GLSL both include
// this file; every member is a four-lane float vector, so the std140 layout the shader
// sees is the plain C++ layout with no padding.
#ifdef __cplusplus
#pragma once
struct vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};
#define SPIN_BLOCK(b, name) struct name
#define SPIN_INSTANCE(n)
#else
#define SPIN_BLOCK(b, name) layout(std140, set = 0, binding = b) uniform name
#define SPIN_INSTANCE(n) n
#endif

#if defined(__cplusplus) || defined(VMAIN) || defined(FMAIN)
// The device pass. "Local" means model x/y relative to the device centre, y up, in
// supersampled target pixels.
SPIN_BLOCK(0, SpinUniforms) {
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

#if defined(__cplusplus) || defined(COMPOSE)
// The compose pass, in output pixels measured from the top.
SPIN_BLOCK(0, ComposeUniforms) {
    vec4 region;  // device target: left, top, width, height
    vec4 shA;     // shadow layer 0: opacity, drop in mask px, mask px per output px
    vec4 shB;     // shadow layer 1: the same
    vec4 misc;    // supersample factor, hand-off weight
}
SPIN_INSTANCE(c);
#endif

#ifdef __cplusplus
static_assert(sizeof(SpinUniforms) == 304);
static_assert(sizeof(ComposeUniforms) == 64);
#undef SPIN_BLOCK
#undef SPIN_INSTANCE
#endif
