// The shadow pass: the device's silhouette, grown per layer on the host (shadowTriangles),
// filled into one quarter-size mask per shadow layer with 4 samples, resolved in the pass.
#include <algorithm>

#include "base/die.h"
#include "spin/passes.h"

ShadowPass::ShadowPass(GPU::Impl& g, const SpinSetup& s) {
    VkDevice dev = g.dev;
    const VkFormat f = VK_FORMAT_R16_SFLOAT;
    for (int i = 0; i < 2; ++i) w[i] = std::max(1, s.maskW[i]), h[i] = std::max(1, s.maskH[i]);
    // One multisample target serves both layers: an attachment may be larger than its framebuffer.
    ms = makeImage(g, f, std::max(w[0], w[1]), std::max(h[0], h[1]), VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT,
                   VK_SAMPLE_COUNT_4_BIT, 1, Contents::Transient);
    pass = makeRenderPass(dev, {f}, VK_FORMAT_UNDEFINED, VK_SAMPLE_COUNT_4_BIT);
    for (int i = 0; i < 2; ++i) {
        mask[i] = makeImage(
            g, f, w[i], h[i],
            VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT);
        fb[i] = makeFramebuffer(dev, pass, {ms.view, mask[i].view}, w[i], h[i]);
    }
    layout = makePipeLayout(dev, VK_NULL_HANDLE);
    pipe = makeGraphics(g, pass, layout,
                        {"svert",
                         "sfrag",
                         2 * sizeof(float),
                         {{shadowPosition, 0, VK_FORMAT_R32G32_SFLOAT, 0}},
                         1,
                         false,
                         VK_SAMPLE_COUNT_4_BIT,
                         "spin shadow: "});
    polys = makeBuffer(g, 2 * shadowLayerBytes, VK_BUFFER_USAGE_VERTEX_BUFFER_BIT, Memory::HostMapped);
}

std::span<float> ShadowPass::area(int layer) const {
    if (layer < 0 || layer > 1) die("spin: shadow layer " + std::to_string(layer));
    return {static_cast<float*>(polys.map) + size_t(layer) * shadowRoom * 2, size_t(shadowRoom) * 2};
}

void ShadowPass::record(VkCommandBuffer cmd, const int counts[2]) const {
    const VkClearValue clears[2]{};
    for (int i = 0; i < 2; ++i) {
        beginPass(cmd, pass, fb[i], w[i], h[i], clears, 2);
        const int n = std::clamp(counts[i], 0, shadowRoom) / 3 * 3;
        if (n > 0) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipe);
            const VkDeviceSize offset = VkDeviceSize(i) * shadowLayerBytes;
            const VkBuffer pb = polys.buf;
            vkCmdBindVertexBuffers(cmd, 0, 1, &pb, &offset);
            vkCmdDraw(cmd, uint32_t(n), 1, 0, 0);
        }
        vkCmdEndRenderPass(cmd);
    }
}
