// The compose pass done by the host: the device's images and the blurred shadow masks are
// copied into mapped buffers, and the compose kernel's arithmetic (spin.glsl, COMPOSE) is
// repeated here pixel by pixel, on the machine's cores. On a CPU device those few
// operations a pixel cost several times more through the device's shader emulation.
#include <algorithm>
#include <cmath>
#include <cstring>

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

}  // namespace

HostCompose::HostCompose(GPU::Impl& g_, const SpinSetup& s, const DevicePass& device_, const BlurPass& blur_)
    : g(g_), device(device_), blur(blur_), w(s.w), h(s.h), studio(s.studio.begin(), s.studio.end()) {
    for (size_t i = 0; i < studio.size(); ++i) studio[i].a = s.grain[i];
    const VkBufferUsageFlags dst = VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    const VkDeviceSize texels = VkDeviceSize(device.w) * VkDeviceSize(device.h);
    colour = makeBuffer(g, texels * 8, dst, Memory::HostMapped);
    mask = makeBuffer(g, texels, dst, Memory::HostMapped);
    for (int i = 0; i < 2; ++i)
        shadow[i] = makeBuffer(g, VkDeviceSize(blur.w[i]) * VkDeviceSize(blur.h[i]) * 4, dst, Memory::HostMapped);
}

void HostCompose::record(VkCommandBuffer cmd, int aw, int ah) const {
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT;
    // The device pass leaves its images ready for shaders; the render pass's own
    // dependency already holds the transfer stage back until they are written.
    for (const GImage* im : {&device.colour, &device.mask})
        barrier(cmd, xfer, xfer,
                imageBarrier(im->img, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, 0,
                             VK_ACCESS_TRANSFER_READ_BIT));
    memoryBarrier(cmd, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, xfer, VK_ACCESS_SHADER_WRITE_BIT,
                  VK_ACCESS_TRANSFER_READ_BIT);
    auto copy = [&](const GImage& from, VkImageLayout layout, const GBuffer& to, int pitch, int cw, int ch) {
        VkBufferImageCopy c{};
        c.bufferRowLength = uint32_t(pitch);
        c.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        c.imageExtent = {uint32_t(cw), uint32_t(ch), 1};
        vkCmdCopyImageToBuffer(cmd, from.img, layout, to.buf, 1, &c);
    };
    copy(device.colour, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, colour, device.w, aw, ah);
    copy(device.mask, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, mask, device.w, aw, ah);
    for (int i = 0; i < 2; ++i) copy(blur.out[i], VK_IMAGE_LAYOUT_GENERAL, shadow[i], blur.w[i], blur.w[i], blur.h[i]);
    memoryBarrier(cmd, xfer, VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_TRANSFER_WRITE_BIT, VK_ACCESS_HOST_READ_BIT);
}

void HostCompose::compose(const ComposeUniforms& c, const PixelBox& work, const ReadBack& frames) const {
    if (work.empty()) return;
    const vec4* lanes[2] = {&c.shA, &c.shB};
    const int x0 = work.x0, n = work.x1 - work.x0;
    std::vector<Tap> cols[2];
    for (int l = 0; l < 2; ++l) {
        cols[l].resize(size_t(n));
        for (int x = 0; x < n; ++x) cols[l][size_t(x)] = tapAt((float(x0 + x) + 0.5f) * lanes[l]->z - 0.5f, blur.w[l]);
    }
    // The device's region, as the kernel truncates it.
    const int rx = int(c.region.x), ry = int(c.region.y), rw = int(c.region.z), rh = int(c.region.w);
    const float weight = c.misc.x;
    const auto* flat = static_cast<const Px8*>(frames.flat.map);
    auto* out = static_cast<Px8*>(frames.out.map);
    const auto* dev = static_cast<const uint16_t*>(colour.map);
    const auto* cover = static_cast<const uint8_t*>(mask.map);

    constexpr int band = 16;
    parallelFor((work.y1 - work.y0 + band - 1) / band, [&](int b) {
        std::vector<float> line[2];
        for (int l = 0; l < 2; ++l) line[l].assign(size_t(blur.w[l]) + 2, 0.f);
        const int y1 = std::min(work.y0 + (b + 1) * band, work.y1);
        for (int y = work.y0 + b * band; y < y1; ++y) {
            // Each layer's mask rows blended for this output row; the columns follow.
            for (int l = 0; l < 2; ++l) {
                const int mw = blur.w[l], mh = blur.h[l];
                const float q = (float(y) + 0.5f) * lanes[l]->z - lanes[l]->y - 0.5f, lo = std::floor(q), fy = q - lo;
                const int j = int(lo);
                const auto* m = static_cast<const float*>(shadow[l].map);
                const float* above = j >= 0 && j < mh ? m + size_t(j) * size_t(mw) : nullptr;
                const float* below = j + 1 >= 0 && j + 1 < mh ? m + size_t(j + 1) * size_t(mw) : nullptr;
                float* dst = line[l].data() + 1;
                for (int k = 0; k < mw; ++k)
                    dst[k] = (above ? above[k] : 0.f) * (1 - fy) + (below ? below[k] : 0.f) * fy;
            }
            const size_t row = size_t(y) * size_t(w);
            const int ly = y - ry;
            const bool devRow = ly >= 0 && ly < rh;
            for (int i = 0; i < n; ++i) {
                const int x = x0 + i;
                const PxF s = studio[row + size_t(x)];
                float r = s.r, gr = s.g, bl = s.b;
                const Tap t0 = cols[0][size_t(i)], t1 = cols[1][size_t(i)];
                const float a1 =
                    lanes[0]->x * (line[0][size_t(t0.at)] * (1 - t0.f) + line[0][size_t(t0.at) + 1] * t0.f);
                const float a2 =
                    lanes[1]->x * (line[1][size_t(t1.at)] * (1 - t1.f) + line[1][size_t(t1.at) + 1] * t1.f);
                const float shade = 1 - (a1 + a2 - a1 * a2);
                r *= shade, gr *= shade, bl *= shade;
                float m = 0;
                const int lx = x - rx;
                if (devRow && lx >= 0 && lx < rw) {
                    const size_t at = size_t(ly) * size_t(device.w) + size_t(lx);
                    const uint16_t* d = dev + at * 4;
                    const float k = 1 / 65535.f, keep = 1 - float(d[3]) * k;
                    r = float(d[0]) * k + r * keep;
                    gr = float(d[1]) * k + gr * keep;
                    bl = float(d[2]) * k + bl * keep;
                    m = float(cover[at]) * (1 / 255.f);
                }
                const float grain = s.a * (1 - m);
                r += grain, gr += grain, bl += grain;
                if (weight < 1) {
                    const Px8 f = flat[row + size_t(x)];
                    const float k = 1 / 255.f;
                    r = float(f.r) * k * (1 - weight) + r * weight;
                    gr = float(f.g) * k * (1 - weight) + gr * weight;
                    bl = float(f.b) * k * (1 - weight) + bl * weight;
                }
                auto level = [](float v) { return uint8_t(std::clamp(v, 0.f, 1.f) * 255.f + 0.5f); };
                out[row + size_t(x)] = {level(bl), level(gr), level(r), 255};
            }
        }
    });
}
