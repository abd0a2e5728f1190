#version 450
// The spin program. The engine compiles it once per stage, defining one of VMAIN,
// FMAIN, SVERT, SFRAG, COMPOSE or BLUR. All colour arithmetic outside the clay's
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

#ifdef FMAIN
layout(set = 0, binding = devScreenAt) uniform sampler2D screenTex;
layout(location = 0) in vec3 local;
layout(location = 1) in vec3 wn;
layout(location = 2) in vec3 wp;
layout(location = 3) flat in float kind;
layout(location = 4) flat in float tint;
layout(location = devColourOut) out vec4 outColor;
layout(location = devMaskOut) out float outMask;

void main() {
    int k = int(floor(kind + 0.5));
    vec3 n = normalize(wn);
    vec3 capN = vec3(u.rot0.z, u.rot1.z, u.rot2.z);
    if (k == 2) capN = -capN;
    bool painted = k == 0 || k == 2;

    // Painted faces are lit as flat plates whatever their rounded-edge normals, so an
    // unrotated front face keeps the flat frame's colours exactly (g = 1).
    vec3 L = u.light.xyz;
    float g = max(0.3, 1.0 + u.light.w * (dot(L, painted ? capN : n) - L.z));

    vec2 xy = local.xy;
    if (k == 2) g *= 1.0 - u.ao.x * exp(-max(sdRR(xy - u.plateau.xy, u.plateau.zz, u.plateau.w), 0.0) / u.ao.y);
    if (k == 3) {
        float dl = min(min(distance(xy, u.lensA.xy), distance(xy, u.lensA.zw)), distance(xy, u.lensB.xy)) - u.lensB.z;
        g *= 1.0 - u.ao.x * exp(-max(dl, 0.0) / u.ao.y);
    }

    vec3 base = mix(u.bot.rgb, u.top.rgb, clamp(xy.y / (2.0 * u.body.y) + 0.5, 0.0, 1.0));
    vec3 c = enc(clamp(lin(base) * g * tint, 0.0, 1.0));

    // The derivatives are taken for every fragment, where they are defined; the screen
    // itself is read only where it shows.
    vec2 uv = vec2((xy.x - u.texRect.x) / u.texRect.z, 1.0 - (xy.y - u.texRect.y) / u.texRect.w);
    vec2 uvX = dFdx(uv), uvY = dFdy(uv);
    float sds = sdRR(xy, u.screen.xy, u.screen.z);
    float aa = max(fwidth(sds), 1e-4);
    float inside = k == 0 ? clamp(0.5 - sds / aa, 0.0, 1.0) : 0.0;
    vec3 sc = inside > 0.0 ? textureGrad(screenTex, uv, uvX, uvY).rgb : vec3(0.0);

    if (painted) {
        float sdb = sdRR(xy, u.body.xy, u.body.z);
        c = mix(c, vec3(u.edge.z), u.edge.x * tailQ(-sdb / u.edge.y));
        sc *= 1.0 - u.glass.x * tailQ(-sds / u.glass.y);
        c = mix(c, sc, inside);
    } else {
        // The flat edge glow turns into a rim light as the surface turns away.
        vec3 V = normalize(vec3(0.0, 0.0, u.cam.y) - wp);
        c = mix(c, vec3(u.edge.z), u.rim.x * pow(1.0 - clamp(abs(dot(n, V)), 0.0, 1.0), u.rim.y));
    }
    outColor = vec4(c, 1.0);
    outMask = inside;
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
// One direction of a Gaussian blur; pixels outside the image count as 0. A workgroup
// takes 256 pixels of one line and reads the line with its margins into shared memory
// once, instead of fetching every tap from the image.
layout(local_size_x = blurLine) in;
layout(set = 0, binding = blurSourceAt) uniform sampler2D src;
layout(set = 0, binding = blurTargetAt, r32f) uniform writeonly image2D dst;

shared float line[blurLine + 2 * blurMaxRadius];
shared float weight[2 * blurMaxRadius + 1];

void main() {
    ivec2 size = imageSize(dst);
    int along = pc.dir.x == 1 ? size.x : size.y, across = pc.dir.x == 1 ? size.y : size.x;
    int lane = int(gl_WorkGroupID.y), base = int(gl_WorkGroupID.x) * blurLine, lid = int(gl_LocalInvocationID.x);
    if (lane >= across) return;  // the whole workgroup leaves together
    int r = pc.radius;
    for (int k = lid; k < blurLine + 2 * r; k += blurLine) {
        int p = base - r + k;
        ivec2 q = pc.dir.x == 1 ? ivec2(p, lane) : ivec2(lane, p);
        line[k] = p >= 0 && p < along ? texelFetch(src, q, 0).r : 0.0;
    }
    for (int k = lid; k <= 2 * r; k += blurLine) {
        float d = float(k - r);
        weight[k] = r == 0 ? 1.0 : exp(-d * d / (2.0 * pc.sigma * pc.sigma));
    }
    barrier();
    int p = base + lid;
    if (p >= along) return;
    float sum = 0.0;
    for (int k = 0; k <= 2 * r; ++k) sum += weight[k] * line[lid + k];
    imageStore(dst, pc.dir.x == 1 ? ivec2(p, lane) : ivec2(lane, p), vec4(sum * pc.norm));
}
#endif

#ifdef COMPOSE
// One thread per output pixel; gid counts from the top-left. Frames are BGRA bytes.
layout(local_size_x = composeTile, local_size_y = composeTile) in;
layout(set = 0, binding = composeStudioAt) uniform sampler2D studio;
layout(set = 0, binding = composeColourAt) uniform sampler2D devColor;
layout(set = 0, binding = composeMaskAt) uniform sampler2D devMask;
layout(set = 0, binding = composeShadow0At) uniform sampler2D shadow0;
layout(set = 0, binding = composeShadow1At) uniform sampler2D shadow1;
layout(set = 0, binding = composeGrainAt) uniform sampler2D grain;
layout(set = 0, binding = composeFlatAt) readonly buffer Flat { uint px[]; } flatFrame;
layout(set = 0, binding = composeOutAt) writeonly buffer Out { uint px[]; } outFrame;

// Bilinear, with zero outside the mask.
float maskAt(sampler2D m, vec2 p) {
    ivec2 size = textureSize(m, 0);
    vec2 t = p - 0.5;
    ivec2 i0 = ivec2(floor(t));
    vec2 f = t - vec2(i0);
    float s = 0.0;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            ivec2 q = i0 + ivec2(i, j);
            if (any(lessThan(q, ivec2(0))) || any(greaterThanEqual(q, size))) continue;
            s += (i == 1 ? f.x : 1.0 - f.x) * (j == 1 ? f.y : 1.0 - f.y) * texelFetch(m, q, 0).r;
        }
    return s;
}

const float lw[8] = float[8](-0.0179, -0.0847, 0.2353, 0.8774, 0.8774, 0.2353, -0.0847, -0.0179);

// Supersampled: the 8 x 8 Lanczos-2 window is separable, so the workgroup first sums
// each needed texel row across (16 columns x 38 rows, into shared memory), then each
// pixel sums 8 of those down. The same weights and clamping as the 2-D window.
const int TILE = composeTile, ROWS = 2 * TILE + 6;
shared vec4 rowColour[ROWS * TILE];
shared float rowMask[ROWS * TILE];

void main() {
    ivec2 gid = ivec2(gl_GlobalInvocationID.xy), size = textureSize(studio, 0);
    ivec2 reg = ivec2(c.region.xy), regSize = ivec2(c.region.zw);
    ivec2 l0 = ivec2(gl_WorkGroupID.xy) * TILE - reg;  // the tile's first pixel, region-relative
    bool fine = c.misc.x >= 1.5;
    // Uniform across the workgroup: whether the tile touches the region at all.
    bool touches = all(lessThan(l0, regSize)) && all(greaterThan(l0 + TILE, ivec2(0)));
    if (fine && touches) {
        ivec2 hi = textureSize(devColor, 0) - 1;
        for (int s = int(gl_LocalInvocationIndex); s < ROWS * TILE; s += TILE * TILE) {
            int col = s % TILE, row = clamp(2 * l0.y - 3 + s / TILE, 0, hi.y);
            vec4 acc = vec4(0.0);
            float m = 0.0;
            for (int i = 0; i < 8; ++i) {
                ivec2 t = ivec2(clamp(2 * (l0.x + col) + i - 3, 0, hi.x), row);
                acc += lw[i] * texelFetch(devColor, t, 0);
                m += lw[i] * texelFetch(devMask, t, 0).r;
            }
            rowColour[s] = acc;
            rowMask[s] = m;
        }
    }
    barrier();
    if (gid.x >= size.x || gid.y >= size.y) return;
    uint at = uint(gid.y * size.x + gid.x);
    vec3 col = texelFetch(studio, gid, 0).rgb;

    // The masks are sampled higher up by the drop, so the shadow falls downwards.
    vec2 q = (vec2(gid) + 0.5) * c.shA.z;
    float a1 = c.shA.x * maskAt(shadow0, q - vec2(0.0, c.shA.y));
    float a2 = c.shB.x * maskAt(shadow1, q - vec2(0.0, c.shB.y));
    col *= 1.0 - (a1 + a2 - a1 * a2);

    float m = 0.0;
    ivec2 l = gid - reg;
    if (all(greaterThanEqual(l, ivec2(0))) && all(lessThan(l, regSize))) {
        vec4 d;
        if (!fine) {
            d = texelFetch(devColor, l, 0);
            m = texelFetch(devMask, l, 0).r;
        } else {
            ivec2 t = l - l0;  // position in the tile
            vec4 ds = vec4(0.0);
            float ms = 0.0, ws = 0.0;
            for (int j = 0; j < 8; ++j) {
                int s = (2 * t.y + j) * TILE + t.x;
                ds += lw[j] * rowColour[s];
                ms += lw[j] * rowMask[s];
                ws += lw[j];
            }
            ws *= ws;  // the window's weights are products of the two 1-D weights
            d = clamp(ds / ws, 0.0, 1.0);
            d.rgb = min(d.rgb, vec3(d.a));
            m = clamp(ms / ws, 0.0, 1.0);
        }
        col = d.rgb + col * (1.0 - d.a);
    }

    // The backdrop and the body take grain; the screen never does.
    col += texelFetch(grain, gid, 0).r * (1.0 - m);
    if (c.misc.y < 1.0) col = mix(unpackUnorm4x8(flatFrame.px[at]).zyx, col, c.misc.y);
    outFrame.px[at] = packUnorm4x8(vec4(clamp(col, 0.0, 1.0).zyx, 1.0));
}
#endif
