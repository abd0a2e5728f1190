// The downsample pass of supersampled scenes: the device's colour at twice the output
// size brought down by a separable Lanczos-2 filter, columns then rows, only over the
// area the device pass drew. Two plain dispatches rather than one kernel
// sharing rows through workgroup memory: on the CPU device a workgroup barrier costs
// more than the texel reads it saves.
#include "spin/passes.h"

DownsamplePass::DownsamplePass(GPU::Impl& g, const SpinSetup& s, const DevicePass& device)
    : kernel(g, downSourceAt, downTargetAt, sizeof(DownPush), "down", "spin compose: "),
      sets(g.dev, {{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 2}, {VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, 2}}, 2) {
    const VkImageUsageFlags storage = VK_IMAGE_USAGE_STORAGE_BIT | VK_IMAGE_USAGE_SAMPLED_BIT;
    half = makeImage(g, VK_FORMAT_R32G32B32A32_SFLOAT, s.regionW / 2, s.regionH, storage);
    out = makeImage(g, VK_FORMAT_R32G32B32A32_SFLOAT, s.regionW / 2, s.regionH / 2, storage);

    const GImage* from[2] = {&device.colour, &half};
    const GImage* to[2] = {&half, &out};
    for (int dir = 0; dir < 2; ++dir)
        set[dir] =
            kernel.bind(sets, from[dir]->view,
                        dir == 0 ? VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL : VK_IMAGE_LAYOUT_GENERAL, to[dir]->view);
}

void DownsamplePass::prime(VkCommandBuffer cmd) const {
    for (const GImage* im : {&half, &out})
        barrier(
            cmd, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
            imageBarrier(im->img, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_GENERAL, 0, VK_ACCESS_SHADER_WRITE_BIT));
}
void DownsamplePass::record(VkCommandBuffer cmd, int aw, int ah) const {
    const VkPipelineStageFlags comp = VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT;
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, kernel.pipe);
    const DownPush push[2] = {{{1, 0}, {aw, ah}}, {{0, 1}, {aw / 2, ah}}};
    for (int dir = 0; dir < 2; ++dir) {
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, kernel.layout, 0, 1, &set[dir], 0, nullptr);
        vkCmdPushConstants(cmd, kernel.layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, sizeof(DownPush), &push[dir]);
        const int ow = aw / 2, oh = dir == 0 ? ah : ah / 2;
        vkCmdDispatch(cmd, uint32_t(ow + tile - 1) / tile, uint32_t(oh + tile - 1) / tile, 1);
        memoryBarrier(cmd, comp, comp, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT);
    }
}
