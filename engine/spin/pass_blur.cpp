// The blur pass: each shadow mask blurred by its layer's Gaussian, along rows into a
// temporary image, then along columns into the image the compose pass samples.
#include <algorithm>
#include <cmath>

#include "spin/passes.h"

// Three sigmas each side.
int blurRadius(double sigma) { return sigma > 0 ? std::min(blurMaxRadius, int(std::ceil(3 * sigma))) : 0; }

BlurPush blurKernel(double sigma) {
    const int radius = blurRadius(sigma);
    const float s = float(sigma);
    double sum = 0;
    for (int k = -radius; k <= radius; ++k) sum += radius ? std::exp(-double(k * k) / (2.0 * s * s)) : 1;
    return {.radius = radius, .sigma = s, .norm = float(1 / sum)};
}

BlurPass::BlurPass(GPU::Impl& g, const SpinSetup& s, const ShadowPass& from)
    : sets(g.dev, {{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 4}, {VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, 4}}, 4) {
    const VkShaderStageFlags cs = VK_SHADER_STAGE_COMPUTE_BIT;
    setLayout = makeSetLayout(g.dev, {{blurSourceAt, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, cs},
                                      {blurTargetAt, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, cs}});
    layout = makePipeLayout(g.dev, setLayout, sizeof(BlurPush));
    pipe = makeCompute(g, layout, "blur", "spin shadow: ");
    nearest = makeSampler(g, Filter::Nearest);

    const VkImageUsageFlags storage = VK_IMAGE_USAGE_STORAGE_BIT | VK_IMAGE_USAGE_SAMPLED_BIT;
    for (int i = 0; i < 2; ++i) {
        w[i] = from.w[i], h[i] = from.h[i];
        tmp[i] = makeImage(g, VK_FORMAT_R32_SFLOAT, w[i], h[i], storage);
        out[i] = makeImage(g, VK_FORMAT_R32_SFLOAT, w[i], h[i], storage);
    }
    for (int i = 0; i < 2; ++i) {
        const VkImageView srcs[2] = {from.mask[i].view, tmp[i].view}, dsts[2] = {tmp[i].view, out[i].view};
        for (int dir = 0; dir < 2; ++dir) {
            set[i][dir] = sets.allocate(setLayout);
            sets.image(set[i][dir], blurSourceAt, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, srcs[dir],
                       dir == 0 ? VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL : VK_IMAGE_LAYOUT_GENERAL, nearest);
            sets.image(set[i][dir], blurTargetAt, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, dsts[dir], VK_IMAGE_LAYOUT_GENERAL);
        }

        for (int dir = 0; dir < 2; ++dir) {
            push[i][dir] = blurKernel(s.blurSigma[i]);
            push[i][dir].dir = {dir == 0, dir == 1};
        }
    }
}

// The working images stay in the general layout, where storage writes and reads both work.
void BlurPass::prime(VkCommandBuffer cmd) const {
    for (int i = 0; i < 2; ++i)
        for (const GImage* im : {&tmp[i], &out[i]})
            barrier(cmd, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
                    imageBarrier(im->img, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_GENERAL, 0,
                                 VK_ACCESS_SHADER_WRITE_BIT));
}

void BlurPass::record(VkCommandBuffer cmd, const PixelBox boxes[2]) const {
    const VkPipelineStageFlags comp = VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT;
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipe);
    for (int i = 0; i < 2; ++i) {
        const PixelBox& b = boxes[i];
        if (b.empty()) continue;
        // The pass along columns reads the row pass's results a radius above and below.
        const int r = push[i][1].radius;
        const PixelBox rows{b.x0, std::max(b.y0 - r, 0), b.x1, std::min(b.y1 + r, h[i])};
        for (int dir = 0; dir < 2; ++dir) {
            const PixelBox& at = dir == 0 ? rows : b;
            BlurPush p = push[i][dir];
            p.from = {at.x0, at.y0}, p.to = {at.x1, at.y1};
            vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, layout, 0, 1, &set[i][dir], 0, nullptr);
            vkCmdPushConstants(cmd, layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, sizeof(BlurPush), &p);
            vkCmdDispatch(cmd, uint32_t(at.x1 - at.x0 + tile - 1) / tile, uint32_t(at.y1 - at.y0 + tile - 1) / tile, 1);
            if (dir == 0) memoryBarrier(cmd, comp, comp, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT);
        }
    }
    memoryBarrier(cmd, comp, comp, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT);
}
