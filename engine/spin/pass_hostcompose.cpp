// The blur and compose passes done by the host: the device's images and the shadow masks
// are copied into mapped buffers, and the kernels' arithmetic (spin.glsl, BLUR and
// COMPOSE) is repeated here, on the machine's cores. On a CPU device those few operations
// a pixel cost several times more through the device's shader emulation.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "flat/raster.h"
#include "spin/passes.h"

namespace {

// Where an output column samples a mask: the left texel of the bilinear pair, counted
// from 1 in a row padded with a zero each side, and the right one's weight.
struct Tap {
    int at = 0;
    float f = 0;
};

// The bilinear pair at mask coordinate q (texel centres at whole numbers); both texels
// outside the mask read the padding's zeros.
Tap tapAt(float q, int size) {
    const float lo = std::floor(q);
    if (lo < -1 || lo > float(size - 1)) return {0, 0};
    return {int(lo) + 1, q - lo};
}

// IEEE half to float; the masks hold coverage in quarters, but any value converts.
float halfFloat(uint16_t v) {
    const int exponent = (v >> 10) & 31, mantissa = v & 1023;
    const float sign = v >> 15 ? -1.f : 1.f;
    if (exponent == 0) return sign * std::ldexp(float(mantissa), -24);
    if (exponent == 31) return mantissa ? NAN : sign * INFINITY;
    return sign * std::ldexp(float(mantissa + 1024), exponent - 25);
}

}  // namespace

HostCompose::HostCompose(GPU::Impl& g_, const SpinSetup& s, const DevicePass& device_, const ShadowPass& shadows_)
    : g(g_), device(device_), shadows(shadows_), w(s.w), studio(s.studio.begin(), s.studio.end()) {
    for (size_t i = 0; i < studio.size(); ++i) studio[i].a = s.grain[i];
    const VkBufferUsageFlags dst = VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    const VkDeviceSize texels = VkDeviceSize(device.w) * VkDeviceSize(device.h);
    colour = makeBuffer(g, texels * 8, dst, Memory::HostMapped);
    for (int i = 0; i < 2; ++i) {
        const int mw = shadows.w[i], mh = shadows.h[i];
        masks[i] = makeBuffer(g, VkDeviceSize(mw) * VkDeviceSize(mh) * 2, dst, Memory::HostMapped);
        blurred[i].assign(size_t(mw) * size_t(mh), 0.f);
        tmp[i].assign(size_t(mw) * size_t(mh), 0.f);
        // The kernel's weights, by its recurrence in floats, and its normalisation.
        const BlurPush kernel = blurKernel(s.blurSigma[i]);
        norm[i] = kernel.norm;
        taps[i].assign(size_t(kernel.radius) + 1, 1.f);
        float g = 1, step = kernel.radius ? std::exp(-1 / (2 * kernel.sigma * kernel.sigma)) : 0, ratio = step * step;
        for (int k = 1; k <= kernel.radius; ++k) {
            g *= step;
            step *= ratio;
            taps[i][size_t(k)] = g;
        }
    }
}

void HostCompose::record(VkCommandBuffer cmd, int aw, int ah) const {
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT;
    // The device pass leaves its images ready for shaders; the render pass's own
    // dependency already holds the transfer stage back until they are written.
    for (const GImage* im : {&device.colour, &shadows.mask[0], &shadows.mask[1]})
        barrier(cmd, xfer, xfer,
                imageBarrier(im->img, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, 0,
                             VK_ACCESS_TRANSFER_READ_BIT));
    auto copy = [&](const GImage& from, VkImageLayout layout, const GBuffer& to, int pitch, int cw, int ch) {
        VkBufferImageCopy c{};
        c.bufferRowLength = uint32_t(pitch);
        c.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        c.imageExtent = {uint32_t(cw), uint32_t(ch), 1};
        vkCmdCopyImageToBuffer(cmd, from.img, layout, to.buf, 1, &c);
    };
    copy(device.colour, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, colour, device.w, aw, ah);
    for (int i = 0; i < 2; ++i)
        copy(shadows.mask[i], VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, masks[i], shadows.w[i], shadows.w[i], shadows.h[i]);
    memoryBarrier(cmd, xfer, VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_TRANSFER_WRITE_BIT, VK_ACCESS_HOST_READ_BIT);
}

// The layer's Gaussian over box, rows then columns, each sum taken as the kernel takes
// it: the centre, then each pair of texels k away, zero outside the mask.
void HostCompose::blurLayer(int layer, const PixelBox& box) {
    const int mw = shadows.w[layer], mh = shadows.h[layer], radius = int(taps[layer].size()) - 1;
    const float* wk = taps[layer].data();
    const float n = norm[layer];
    const auto* raw = static_cast<const uint16_t*>(masks[layer].map);
    // Along rows, for the box's columns and the rows a radius above and below it.
    const int r0 = std::max(box.y0 - radius, 0), r1 = std::min(box.y1 + radius, mh);
    parallelFor(r1 - r0, [&](int j) {
        const int y = r0 + j;
        std::vector<float> src(size_t(mw) + 2 * size_t(radius), 0.f);
        for (int x = 0; x < mw; ++x) src[size_t(x + radius)] = halfFloat(raw[size_t(y) * size_t(mw) + size_t(x)]);
        float* out = tmp[layer].data() + size_t(y) * size_t(mw);
        const float* at = src.data() + radius;
        for (int x = box.x0; x < box.x1; ++x) out[x] = at[x];
        for (int k = 1; k <= radius; ++k)
            for (int x = box.x0; x < box.x1; ++x) out[x] += wk[k] * (at[x - k] + at[x + k]);
        for (int x = box.x0; x < box.x1; ++x) out[x] *= n;
    });
    // Along columns, for the box.
    parallelFor(box.y1 - box.y0, [&](int j) {
        const int y = box.y0 + j;
        const float* t = tmp[layer].data();
        float* out = blurred[layer].data() + size_t(y) * size_t(mw);
        auto row = [&](int yy) { return t + size_t(yy) * size_t(mw); };
        for (int x = box.x0; x < box.x1; ++x) out[x] = row(y)[x];
        for (int k = 1; k <= radius; ++k) {
            const float* above = y - k >= 0 ? row(y - k) : nullptr;
            const float* below = y + k < mh ? row(y + k) : nullptr;
            for (int x = box.x0; x < box.x1; ++x)
                out[x] += wk[k] * ((above ? above[x] : 0.f) + (below ? below[x] : 0.f));
        }
        for (int x = box.x0; x < box.x1; ++x) out[x] *= n;
    });
}

void HostCompose::blur(const PixelBox boxes[2]) {
    for (int l = 0; l < 2; ++l)
        if (!boxes[l].empty()) blurLayer(l, boxes[l]);
}

void HostCompose::compose(const ComposeUniforms& c, const PixelBox& work, const ReadBack& frames) const {
    if (work.empty()) return;
    const vec4* lanes[2] = {&c.shA, &c.shB};
    const int x0 = work.x0, n = work.x1 - work.x0;
    std::vector<Tap> cols[2];
    for (int l = 0; l < 2; ++l) {
        cols[l].resize(size_t(n));
        for (int x = 0; x < n; ++x)
            cols[l][size_t(x)] = tapAt((float(x0 + x) + 0.5f) * lanes[l]->z - 0.5f, shadows.w[l]);
    }
    // The device's region, as the kernel truncates it.
    const int rx = int(c.region.x), ry = int(c.region.y), rw = int(c.region.z), rh = int(c.region.w);
    const float weight = c.misc.x;
    const auto* flat = static_cast<const Px8*>(frames.flat.map);
    auto* out = static_cast<Px8*>(frames.out.map);
    const auto* dev = static_cast<const uint16_t*>(colour.map);

    constexpr int band = 16;
    parallelFor((work.y1 - work.y0 + band - 1) / band, [&](int b) {
        std::vector<float> line[2];
        std::vector<float> shade(static_cast<size_t>(n));
        for (int l = 0; l < 2; ++l) line[l].assign(size_t(shadows.w[l]) + 2, 0.f);
        const int y1 = std::min(work.y0 + (b + 1) * band, work.y1);
        for (int y = work.y0 + b * band; y < y1; ++y) {
            // Each layer's mask rows blended for this output row; the columns follow.
            for (int l = 0; l < 2; ++l) {
                const int mw = shadows.w[l], mh = shadows.h[l];
                const float q = (float(y) + 0.5f) * lanes[l]->z - lanes[l]->y - 0.5f, lo = std::floor(q), fy = q - lo;
                const int j = int(lo);
                const float* m = blurred[l].data();
                const float* above = j >= 0 && j < mh ? m + size_t(j) * size_t(mw) : nullptr;
                const float* below = j + 1 >= 0 && j + 1 < mh ? m + size_t(j + 1) * size_t(mw) : nullptr;
                float* dst = line[l].data() + 1;
                for (int k = 0; k < mw; ++k)
                    dst[k] = (above ? above[k] : 0.f) * (1 - fy) + (below ? below[k] : 0.f) * fy;
            }
            // The shadows' shade of each pixel, then the pixels in three runs: left of the
            // device's region, across it, right of it.
            for (int i = 0; i < n; ++i) {
                const Tap t0 = cols[0][size_t(i)], t1 = cols[1][size_t(i)];
                const float a1 =
                    lanes[0]->x * (line[0][size_t(t0.at)] * (1 - t0.f) + line[0][size_t(t0.at) + 1] * t0.f);
                const float a2 =
                    lanes[1]->x * (line[1][size_t(t1.at)] * (1 - t1.f) + line[1][size_t(t1.at) + 1] * t1.f);
                shade[size_t(i)] = 1 - (a1 + a2 - a1 * a2);
            }
            const size_t row = size_t(y) * size_t(w);
            const int ly = y - ry;
            const bool devRow = ly >= 0 && ly < rh;
            const int d0 = devRow ? std::clamp(rx, x0, work.x1) : work.x1;
            const int d1 = devRow ? std::clamp(rx + rw, d0, work.x1) : work.x1;
            const PxF* st = studio.data() + row;
            Px8* o = out + row;
            const Px8* fl = flat + row;
            const size_t devAt = size_t(std::max(ly, 0)) * size_t(device.w) - size_t(rx);  // + x
            auto run = [&]<bool onDevice>(int from, int to) {
                for (int x = from; x < to; ++x) {
                    const PxF s = st[x];
                    const float sh = shade[size_t(x - x0)];
                    float r = s.r * sh, gr = s.g * sh, bl = s.b * sh, m = 0;
                    if constexpr (onDevice) {
                        const uint16_t* d = dev + (devAt + size_t(x)) * 4;
                        const float k = 1 / 65535.f, a = float(d[3]) * k;
                        // The kernel's ceil(a n - n / 2s) / n, as a floor of a positive number.
                        const float cover =
                            float(int(a * devSamples + 1 - 0.5f * devSamples / maskShare)) * (1.f / devSamples);
                        const float keep = 1 - cover;
                        r = float(d[0]) * k + r * keep;
                        gr = float(d[1]) * k + gr * keep;
                        bl = float(d[2]) * k + bl * keep;
                        m = std::clamp((cover - a) * maskShare, 0.f, 1.f);
                    }
                    const float grain = s.a * (1 - m);
                    r += grain, gr += grain, bl += grain;
                    if (weight < 1) {
                        const Px8 f = fl[x];
                        const float k = 1 / 255.f;
                        r = float(f.r) * k * (1 - weight) + r * weight;
                        gr = float(f.g) * k * (1 - weight) + gr * weight;
                        bl = float(f.b) * k * (1 - weight) + bl * weight;
                    }
                    auto level = [](float v) { return uint8_t(std::clamp(v, 0.f, 1.f) * 255.f + 0.5f); };
                    o[x] = {level(bl), level(gr), level(r), 255};
                }
            };
            run.template operator()<false>(x0, d0);
            run.template operator()<true>(d0, d1);
            run.template operator()<false>(d1, work.x1);
        }
    });
}
