// The compose pass: one thread per output pixel lays the backdrop, the blurred shadows,
// the device (at the output size) and the grain, and mixes the result with the flat
// frame by the hand-off weight.
#include <vector>

#include "spin/passes.h"

ComposePass::ComposePass(GPU::Impl& g_, const SpinSetup& s, const DevicePass& device, const BlurPass& blur,
                         const ReadBack& frames)
    : g(g_), w(s.w), h(s.h), sets(g_.dev,
                                  {{VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1},
                                   {VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 4},
                                   {VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 2}},
                                  1) {
    VkDevice dev = g.dev;
    const VkImageUsageFlags upload = VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
    studio = makeImage(g, VK_FORMAT_R32G32B32A32_SFLOAT, w, h, upload);
    uniforms = makeBuffer(g, sizeof(ComposeUniforms), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, Memory::HostMapped);

    const VkShaderStageFlags cs = VK_SHADER_STAGE_COMPUTE_BIT;
    const VkDescriptorType tex = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, sb = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    setLayout = makeSetLayout(dev, {{composeUniformsAt, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, cs},
                                    {composeStudioAt, tex, cs},
                                    {composeColourAt, tex, cs},
                                    {composeShadow0At, tex, cs},
                                    {composeShadow1At, tex, cs},
                                    {composeFlatAt, sb, cs},
                                    {composeOutAt, sb, cs}});
    layout = makePipeLayout(dev, setLayout);
    pipe = makeCompute(g, layout, "compose", "spin compose: ");
    nearest = makeSampler(g, Filter::Nearest);
    bilinear = makeSampler(g, Filter::Bilinear);

    const VkImageLayout ro = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, general = VK_IMAGE_LAYOUT_GENERAL;
    set = sets.allocate(setLayout);
    sets.buffer(set, composeUniformsAt, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, uniforms);
    sets.image(set, composeStudioAt, tex, studio.view, ro, nearest);
    sets.image(set, composeColourAt, tex, device.colour.view, ro, nearest);
    sets.image(set, composeShadow0At, tex, blur.out[0].view, general, bilinear);
    sets.image(set, composeShadow1At, tex, blur.out[1].view, general, bilinear);
    sets.buffer(set, composeFlatAt, sb, frames.flat);
    sets.buffer(set, composeOutAt, sb, frames.out);
}

// The backdrop, with the grain field in its alpha (the backdrop is opaque), goes up
// once: neither changes between frames, and one read per pixel fetches both.
void ComposePass::prime(VkCommandBuffer cmd, Uploads& keep, const SpinSetup& s) const {
    std::vector<PxF> px(s.studio.begin(), s.studio.end());
    for (size_t i = 0; i < px.size(); ++i) px[i].a = s.grain[i];
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT;
    barrier(cmd, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, xfer,
            imageBarrier(studio.img, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 0,
                         VK_ACCESS_TRANSFER_WRITE_BIT));
    VkBufferImageCopy ic{};
    ic.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    ic.imageExtent = {uint32_t(w), uint32_t(h), 1};
    vkCmdCopyBufferToImage(cmd, stage(g, keep, px.data(), px.size() * sizeof(PxF)), studio.img,
                           VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &ic);
    barrier(cmd, xfer, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
            imageBarrier(studio.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                         VK_ACCESS_TRANSFER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT));
}

void ComposePass::record(VkCommandBuffer cmd, const PixelBox& work) const {
    if (!work.empty()) {
        vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipe);
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, layout, 0, 1, &set, 0, nullptr);
        vkCmdDispatch(cmd, uint32_t(work.x1 - work.x0 + tile - 1) / tile, uint32_t(work.y1 - work.y0 + tile - 1) / tile,
                      1);
    }
    memoryBarrier(cmd, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_SHADER_WRITE_BIT,
                  VK_ACCESS_HOST_READ_BIT);
}
