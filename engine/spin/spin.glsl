#version 450
// The spin program. The engine compiles it once per stage, defining one of VMAIN,
// FMAIN, FSCREEN, SVERT, SFRAG, BLUR or COMPOSE. All colour arithmetic outside the clay's
// lighting works on the stored sRGB-encoded values, as the flat engine does.
#extension GL_GOOGLE_include_directive : require
#include "program.h"

// Signed distance to a rounded rectangle centred on the origin; negative inside.
float sdRR(vec2 p, vec2 h, float r) {
    vec2 q = abs(p) - h + r;
    return length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
}

// Share of a unit Gaussian beyond x (logistic approximation): a soft straight edge.
float tailQ(float x) { return 1.0 / (1.0 + exp(1.702 * x)); }

vec3 lin(vec3 c) {
    return mix(pow((c + 0.055) / 1.055, vec3(2.4)), c / 12.92, lessThanEqual(c, vec3(0.04045)));
}
vec3 enc(vec3 c) {
    return mix(1.055 * pow(c, vec3(1.0 / 2.4)) - 0.055, 12.92 * c, lessThanEqual(c, vec3(0.0031308)));
}

#ifdef VMAIN
layout(location = vtxPosition) in vec4 vp;  // x, y, z, kind
layout(location = vtxNormal) in vec4 vn;    // normal, tint
layout(location = 0) out vec3 local;
layout(location = 1) out vec3 wn;
layout(location = 2) out vec3 wp;
layout(location = 3) flat out float kind;
layout(location = 4) flat out float tint;

void main() {
    // Flat-fit: with f = D - T/2 every point of the front face plane lands, unrotated, on
    // its flat position; points behind the face are not enlarged.
    vec3 q = vec3(vp.xy * (u.cam.y - max(vp.z, 0.0)) / u.cam.x, vp.z);
    mat3 rt = mat3(u.rot0.xyz, u.rot1.xyz, u.rot2.xyz);  // columns are the rows: q * rt = R q
    vec3 p = q * rt;
    float d = u.cam.y - p.z;
    float X = u.zoom.x * u.cam.x * p.x / d + u.view.x;
    float Y = u.zoom.x * u.cam.x * p.y / d + u.view.y;
    float a = u.cam.w / (u.cam.w - u.cam.z), b = -u.cam.w * u.cam.z / (u.cam.w - u.cam.z);
    // Targets keep their top row first, so y up becomes clip y down.
    gl_Position = vec4((X / u.view.z * 2.0 - 1.0) * d, (1.0 - Y / u.view.w * 2.0) * d, a * d + b, d);
    local = vp.xyz;
    wn = vn.xyz * rt;
    wp = p;
    kind = vp.w;
    tint = vn.w;
}
#endif

#if defined(FMAIN) || defined(FSCREEN)
layout(set = 0, binding = devScreenAt) uniform sampler2D screenTex;
layout(location = 0) in vec3 local;
layout(location = 1) in vec3 wn;
layout(location = 2) in vec3 wp;
layout(location = 3) flat in float kind;
layout(location = 4) flat in float tint;
layout(location = devColourOut) out vec4 outColor;  // alpha: 1 - screen mask / maskShare

vec2 screenUV(vec2 xy) { return vec2((xy.x - u.texRect.x) / u.texRect.z, 1.0 - (xy.y - u.texRect.y) / u.texRect.w); }

// The screen glass darkens the image towards the screen's outline (sds: the signed
// distance to it). Deep inside, its shade is below a float's resolution: skip the exp.
vec3 underGlass(vec3 image, float sds) {
    if (-sds < 16.0 * u.glass.y) image *= 1.0 - u.glass.x * tailQ(-sds / u.glass.y);
    return image;
}
#endif

#ifdef FSCREEN
// The screen's interior, which the mesh draws apart when it lies well inside the outline:
// the colour fmain gives there, without the clay's arithmetic, which the CPU device
// would do for every fragment whichever branch it takes. Only for opaque screen images:
// a see-through one shows the clay beneath.
void main() {
    vec2 uv = screenUV(local.xy);
    vec3 image = textureGrad(screenTex, uv, dFdx(uv), dFdy(uv)).rgb;
    outColor = vec4(underGlass(image, sdRR(local.xy, u.screen.xy, u.screen.z)), 1.0 - 1.0 / maskShare);
}
#endif

#ifdef FMAIN
void main() {
    int k = int(floor(kind + 0.5));
    vec2 xy = local.xy;

    // The derivatives are taken for every fragment, where they are defined; the screen
    // itself is read only where it shows.
    vec2 uv = screenUV(xy);
    vec2 uvX = dFdx(uv), uvY = dFdy(uv);
    float sds = sdRR(xy, u.screen.xy, u.screen.z);
    float aa = max(fwidth(sds), 1e-4);
    float inside = k == 0 ? clamp(0.5 - sds / aa, 0.0, 1.0) : 0.0;
    // Premultiplied: a see-through screen image lies over the clay, as the flat frame draws it.
    vec4 image = inside > 0.0 ? textureGrad(screenTex, uv, uvX, uvY) : vec4(0.0);
    // Wholly screen and opaque: the clay beneath would be mixed away.
    if (inside >= 1.0 && image.a >= 1.0) {
        outColor = vec4(underGlass(image.rgb, sds), 1.0 - 1.0 / maskShare);
        return;
    }

    vec3 n = normalize(wn);
    vec3 capN = vec3(u.rot0.z, u.rot1.z, u.rot2.z);
    if (k == 2) capN = -capN;
    bool painted = k == 0 || k == 2;

    // Painted faces are lit as flat plates whatever their rounded-edge normals, so an
    // unrotated front face keeps the flat frame's colours exactly (g = 1).
    vec3 L = u.light.xyz;
    float g = max(0.3, 1.0 + u.light.w * (dot(L, painted ? capN : n) - L.z));
    if (k == 2) g *= 1.0 - u.ao.x * exp(-max(sdRR(xy - u.plateau.xy, u.plateau.zz, u.plateau.w), 0.0) / u.ao.y);
    if (k == 3) {
        float dl = min(min(distance(xy, u.lensA.xy), distance(xy, u.lensA.zw)), distance(xy, u.lensB.xy)) - u.lensB.z;
        g *= 1.0 - u.ao.x * exp(-max(dl, 0.0) / u.ao.y);
    }

    vec3 base = mix(u.bot.rgb, u.top.rgb, clamp(xy.y / (2.0 * u.body.y) + 0.5, 0.0, 1.0));
    vec3 c = enc(clamp(lin(base) * g * tint, 0.0, 1.0));

    if (painted) {
        float sdb = sdRR(xy, u.body.xy, u.body.z);
        c = mix(c, vec3(u.edge.z), u.edge.x * tailQ(-sdb / u.edge.y));
        c = mix(c, underGlass(image.rgb + c * (1.0 - image.a), sds), inside);
    } else {
        // The flat edge glow turns into a rim light as the surface turns away.
        vec3 V = normalize(vec3(0.0, 0.0, u.cam.y) - wp);
        c = mix(c, vec3(u.edge.z), u.rim.x * pow(1.0 - clamp(abs(dot(n, V)), 0.0, 1.0), u.rim.y));
    }
    // The grain stays off the screen image but not off the clay seen through it.
    outColor = vec4(c, 1.0 - inside * image.a / maskShare);
}
#endif

#ifdef SVERT
layout(location = shadowPosition) in vec2 pos;  // clip space, y up
void main() { gl_Position = vec4(pos.x, -pos.y, 0.0, 1.0); }
#endif

#ifdef SFRAG
layout(location = 0) out float cover;
void main() { cover = 1.0; }
#endif

#ifdef BLUR
// One direction of a Gaussian blur, one thread per pixel; pixels outside the image count
// as 0. The weights follow by recurrence: g(k + 1) = g(k) * exp(-(2k + 1) / (2 sigma^2)).
layout(local_size_x = tile, local_size_y = tile) in;
layout(set = 0, binding = blurSourceAt) uniform sampler2D src;
layout(set = 0, binding = blurTargetAt, r32f) uniform writeonly image2D dst;

void main() {
    ivec2 p = ivec2(gl_GlobalInvocationID.xy) + pc.from, size = imageSize(dst);
    if (any(greaterThanEqual(p, pc.to))) return;
    int along = pc.dir.x == 1 ? size.x : size.y, at = pc.dir.x == 1 ? p.x : p.y;
    float twoSigma2 = 2.0 * pc.sigma * pc.sigma;
    float sum = texelFetch(src, p, 0).r, g = 1.0, step = exp(-1.0 / twoSigma2), ratio = step * step;
    for (int k = 1; k <= pc.radius; ++k) {
        g *= step;
        step *= ratio;
        float before = at - k >= 0 ? texelFetch(src, p - k * pc.dir, 0).r : 0.0;
        float after = at + k < along ? texelFetch(src, p + k * pc.dir, 0).r : 0.0;
        sum += g * (before + after);
    }
    imageStore(dst, p, vec4(sum * pc.norm));
}
#endif

#ifdef COMPOSE
// One thread per output pixel of the work rectangle; gid counts from the frame's top-left.
// Frames are BGRA bytes.
layout(local_size_x = tile, local_size_y = tile) in;
layout(set = 0, binding = composeStudioAt) uniform sampler2D studio;  // with the grain in alpha
layout(set = 0, binding = composeColourAt) uniform sampler2D devColor;
layout(set = 0, binding = composeShadow0At) uniform sampler2D shadow0;
layout(set = 0, binding = composeShadow1At) uniform sampler2D shadow1;
layout(set = 0, binding = composeFlatAt) readonly buffer Flat { uint px[]; } flatFrame;
layout(set = 0, binding = composeOutAt) writeonly buffer Out { uint px[]; } outFrame;

// At p in mask pixels: bilinear, with zero outside the mask (the sampler's border).
float maskAt(sampler2D m, vec2 p) { return texture(m, p / vec2(textureSize(m, 0))).r; }

void main() {
    ivec2 gid = ivec2(gl_GlobalInvocationID.xy) + ivec2(c.work.xy), size = textureSize(studio, 0);
    if (any(greaterThanEqual(gid, ivec2(c.work.zw)))) return;  // the box lies within the frame
    uint at = uint(gid.y * size.x + gid.x);
    vec4 backdrop = texelFetch(studio, gid, 0);  // colour, and the grain in alpha
    vec3 col = backdrop.rgb;

    // The masks are sampled higher up by the drop, so the shadow falls downwards.
    // Each layer's mask has a scale of its own.
    vec2 p = vec2(gid) + 0.5;
    float a1 = c.shA.x * maskAt(shadow0, p * c.shA.z - vec2(0.0, c.shA.y));
    float a2 = c.shB.x * maskAt(shadow1, p * c.shB.z - vec2(0.0, c.shB.y));
    col *= 1.0 - (a1 + a2 - a1 * a2);

    // The device, from the region's corner: its cover is the alpha rounded up to the
    // next sample, the screen mask what lies below. The mask keeps the grain off the screen.
    float m = 0.0;
    ivec2 l = gid - ivec2(c.region.xy);
    if (all(greaterThanEqual(l, ivec2(0))) && all(lessThan(l, ivec2(c.region.zw)))) {
        vec4 d = texelFetch(devColor, l, 0);
        float cover = ceil(d.a * devSamples - 0.5 * devSamples / maskShare) / devSamples;
        m = clamp((cover - d.a) * maskShare, 0.0, 1.0);
        col = d.rgb + col * (1.0 - cover);
    }

    // The backdrop and the body take grain; the screen never does.
    col += backdrop.a * (1.0 - m);
    if (c.misc.x < 1.0) col = mix(unpackUnorm4x8(flatFrame.px[at]).zyx, col, c.misc.x);
    outFrame.px[at] = packUnorm4x8(vec4(clamp(col, 0.0, 1.0).zyx, 1.0));
}
#endif
