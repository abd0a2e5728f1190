// The device pass: the mesh drawn turned over the device's region only, into a colour
// and a screen-mask image (4 samples, resolved in the pass).
#include <algorithm>
#include <cmath>

#include "spin/passes.h"

DevicePass::DevicePass(GPU::Impl& g_, const SpinSetup& s)
    : g(g_), nVerts(uint32_t(s.verts.size())), frontVerts(uint32_t(std::min(s.frontVerts, s.verts.size()))),
      windowVerts(uint32_t(std::min(s.windowVerts, s.frontVerts))), w(s.regionW), h(s.regionH),
      sets(g_.dev, {{VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1}, {VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 1}}, 1) {
    VkDevice dev = g.dev;
    // 16-bit unsigned colour where the device renders it; half floats carry as much for 8-bit output.
    const VkFormatFeatureFlags target = VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT | VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT;
    if (!g.supports(colourFormat, target)) colourFormat = VK_FORMAT_R16G16B16A16_SFLOAT;
    if (!g.supports(depthFormat, VK_FORMAT_FEATURE_DEPTH_STENCIL_ATTACHMENT_BIT))
        depthFormat = VK_FORMAT_X8_D24_UNORM_PACK32;

    const VkImageUsageFlags att = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT, sampled = VK_IMAGE_USAGE_SAMPLED_BIT;
    // Read by the compose pass, or copied out for the host to compose.
    const VkImageUsageFlags read = sampled | VK_IMAGE_USAGE_TRANSFER_SRC_BIT;
    colour = makeImage(g, colourFormat, w, h, att | read);
    // Attachment order: the colour output, its resolve, then depth.
    static_assert(devColourOut == 0 && devSamples == 4);
    const VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_4_BIT;
    pass = makeRenderPass(dev, {colourFormat}, depthFormat, samples);
    depthMS = makeImage(g, depthFormat, w, h, VK_IMAGE_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT, samples, 1,
                        Contents::Transient, VK_IMAGE_ASPECT_DEPTH_BIT);
    colourMS = makeImage(g, colourFormat, w, h, att, samples, 1, Contents::Transient);
    fb = makeFramebuffer(dev, pass, {colourMS.view, colour.view, depthMS.view}, w, h);

    const VkShaderStageFlags vf = VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT;
    setLayout =
        makeSetLayout(dev, {{devUniformsAt, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, vf},
                            {devScreenAt, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, VK_SHADER_STAGE_FRAGMENT_BIT}});
    layout = makePipeLayout(dev, setLayout);
    static_assert(sizeof(SpinVtx) == vtxBytes && offsetof(SpinVtx, n) == 16);
    GraphicsDesc desc{"vmain",
                      "fmain",
                      vtxBytes,
                      {{vtxPosition, 0, VK_FORMAT_R32G32B32A32_SFLOAT, offsetof(SpinVtx, p)},
                       {vtxNormal, 0, VK_FORMAT_R32G32B32A32_SFLOAT, offsetof(SpinVtx, n)}},
                      1,
                      true,
                      samples,
                      "spin pipeline: ",
                      VK_CULL_MODE_BACK_BIT};
    pipe = makeGraphics(g, pass, layout, desc);
    desc.frag = "fscreen";
    screenPipe = makeGraphics(g, pass, layout, desc);
    verts = makeBuffer(g, nVerts * sizeof(SpinVtx),
                       VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT, Memory::Device);
    uniforms = makeBuffer(g, sizeof(SpinUniforms), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, Memory::HostMapped);
    const int mips = int(std::floor(std::log2(std::max({s.texW, s.texH, 1})))) + 1;
    screenTex = makeImage(g, VK_FORMAT_B8G8R8A8_UNORM, s.texW, s.texH,
                          sampled | VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT,
                          VK_SAMPLE_COUNT_1_BIT, mips);
    smooth = makeSampler(g, Filter::Smooth);

    set = sets.allocate(setLayout);
    sets.buffer(set, devUniformsAt, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, uniforms);
    sets.image(set, devScreenAt, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, screenTex.view,
               VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, smooth);
}

// The mesh copied in, and a black screen until the first upload.
void DevicePass::prime(VkCommandBuffer cmd, Uploads& keep, const SpinSetup& s) const {
    if (nVerts) {
        const VkBufferCopy bc{0, 0, nVerts * sizeof(SpinVtx)};
        vkCmdCopyBuffer(cmd, stage(g, keep, s.verts.data(), bc.size), verts.buf, 1, &bc);
    }
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT;
    barrier(cmd, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, xfer,
            imageBarrier(screenTex.img, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 0,
                         VK_ACCESS_TRANSFER_WRITE_BIT));
    const VkClearColorValue black{};
    const VkImageSubresourceRange allLevels{VK_IMAGE_ASPECT_COLOR_BIT, 0, VK_REMAINING_MIP_LEVELS, 0, 1};
    vkCmdClearColorImage(cmd, screenTex.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &black, 1, &allLevels);
    barrier(cmd, xfer, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
            imageBarrier(screenTex.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                         VK_ACCESS_TRANSFER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT));
    memoryBarrier(cmd, xfer, VK_PIPELINE_STAGE_VERTEX_INPUT_BIT, VK_ACCESS_TRANSFER_WRITE_BIT,
                  VK_ACCESS_VERTEX_ATTRIBUTE_READ_BIT);
}

void DevicePass::record(VkCommandBuffer cmd, int aw, int ah, SpinRenderer::Facing front) const {
    VkClearValue clears[3]{};  // colour, its resolve, depth
    clears[2].depthStencil = {1, 0};
    beginPass(cmd, pass, fb, aw, ah, clears, 3);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipe);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, layout, 0, 1, &set, 0, nullptr);
    const VkDeviceSize zero = 0;
    const VkBuffer vb = verts.buf;
    vkCmdBindVertexBuffers(cmd, 0, 1, &vb, &zero);
    // The front half without its window, [0, rim); the window, [rim, frontVerts); the rest.
    const uint32_t rim = frontVerts - windowVerts;
    auto draw = [&](uint32_t from, uint32_t to) {
        if (to > from) vkCmdDraw(cmd, to - from, 1, from, 0);
    };
    switch (front) {
    case SpinRenderer::Facing::Front:
        if (windowVerts) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, screenPipe);
            draw(rim, frontVerts);
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipe);
            draw(0, rim);
            draw(frontVerts, nVerts);
            break;
        }
        [[fallthrough]];
    case SpinRenderer::Facing::EdgeOn: draw(0, nVerts); break;
    case SpinRenderer::Facing::Away:
        draw(frontVerts, nVerts);
        draw(0, rim);
        break;
    }
    vkCmdEndRenderPass(cmd);
}

void DevicePass::uploadScreen(VkCommandBuffer cmd, const GBuffer& pixels) const {
    const VkImage img = screenTex.img;
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT, frag = VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT;
    const VkImageLayout ro = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, dst = VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                        src = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;
    const VkAccessFlags wr = VK_ACCESS_TRANSFER_WRITE_BIT, rd = VK_ACCESS_TRANSFER_READ_BIT;
    barrier(cmd, frag, xfer, imageBarrier(img, ro, dst, VK_ACCESS_SHADER_READ_BIT, wr));
    VkBufferImageCopy ic{};
    ic.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    ic.imageExtent = {uint32_t(screenTex.w), uint32_t(screenTex.h), 1};
    vkCmdCopyBufferToImage(cmd, pixels.buf, img, dst, 1, &ic);
    // Each level is the linear blit of the one above it.
    int lw = screenTex.w, lh = screenTex.h;
    for (int level = 1; level < screenTex.mips; ++level) {
        barrier(cmd, xfer, xfer, imageBarrier(img, dst, src, wr, rd, uint32_t(level - 1), 1));
        const int nw = std::max(1, lw / 2), nh = std::max(1, lh / 2);
        VkImageBlit b{};
        b.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, uint32_t(level - 1), 0, 1};
        b.srcOffsets[1] = {lw, lh, 1};
        b.dstSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, uint32_t(level), 0, 1};
        b.dstOffsets[1] = {nw, nh, 1};
        vkCmdBlitImage(cmd, img, src, img, dst, 1, &b, VK_FILTER_LINEAR);
        barrier(cmd, xfer, frag, imageBarrier(img, src, ro, rd, VK_ACCESS_SHADER_READ_BIT, uint32_t(level - 1), 1));
        lw = nw;
        lh = nh;
    }
    barrier(cmd, xfer, frag,
            imageBarrier(img, dst, ro, wr, VK_ACCESS_SHADER_READ_BIT, uint32_t(screenTex.mips - 1), 1));
}
