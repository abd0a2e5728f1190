#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/die.h"
#include "spin/gpu.h"
#include "spin/gpu_vk.h"

namespace {

constexpr VkDeviceSize polyBytes = 524288;  // both shadow layers' triangles

VkImageMemoryBarrier imageBarrier(VkImage img, VkImageLayout from, VkImageLayout to, VkAccessFlags src,
                                  VkAccessFlags dst, uint32_t level = 0, uint32_t levels = VK_REMAINING_MIP_LEVELS) {
    VkImageMemoryBarrier b{VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER};
    b.oldLayout = from;
    b.newLayout = to;
    b.srcAccessMask = src;
    b.dstAccessMask = dst;
    b.srcQueueFamilyIndex = b.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    b.image = img;
    b.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, level, levels, 0, 1};
    return b;
}

void barrier(VkCommandBuffer cmd, VkPipelineStageFlags src, VkPipelineStageFlags dst, const VkImageMemoryBarrier& b) {
    vkCmdPipelineBarrier(cmd, src, dst, 0, 0, nullptr, 0, nullptr, 1, &b);
}

void memoryBarrier(VkCommandBuffer cmd, VkPipelineStageFlags src, VkPipelineStageFlags dst, VkAccessFlags from,
                   VkAccessFlags to) {
    VkMemoryBarrier b{VK_STRUCTURE_TYPE_MEMORY_BARRIER};
    b.srcAccessMask = from;
    b.dstAccessMask = to;
    vkCmdPipelineBarrier(cmd, src, dst, 0, 1, &b, 0, nullptr, 0, nullptr);
}

// Colour attachments with 4 samples, each resolved into a single-sample image the
// compute pass reads; optionally a depth attachment that is never stored.
VRenderPass makeRenderPass(VkDevice dev, const std::vector<VkFormat>& colours, VkFormat depth) {
    std::vector<VkAttachmentDescription> att;
    std::vector<VkAttachmentReference> colRefs, resRefs;
    for (VkFormat f : colours) {
        colRefs.push_back({uint32_t(att.size()), VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL});
        att.push_back({0, f, VK_SAMPLE_COUNT_4_BIT, VK_ATTACHMENT_LOAD_OP_CLEAR, VK_ATTACHMENT_STORE_OP_DONT_CARE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL});
    }
    for (VkFormat f : colours) {
        resRefs.push_back({uint32_t(att.size()), VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL});
        att.push_back({0, f, VK_SAMPLE_COUNT_1_BIT, VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_STORE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL});
    }
    VkAttachmentReference depthRef{uint32_t(att.size()), VK_IMAGE_LAYOUT_DEPTH_STENCIL_ATTACHMENT_OPTIMAL};
    if (depth != VK_FORMAT_UNDEFINED)
        att.push_back({0, depth, VK_SAMPLE_COUNT_4_BIT, VK_ATTACHMENT_LOAD_OP_CLEAR, VK_ATTACHMENT_STORE_OP_DONT_CARE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       VK_IMAGE_LAYOUT_DEPTH_STENCIL_ATTACHMENT_OPTIMAL});
    VkSubpassDescription sub{};
    sub.pipelineBindPoint = VK_PIPELINE_BIND_POINT_GRAPHICS;
    sub.colorAttachmentCount = uint32_t(colRefs.size());
    sub.pColorAttachments = colRefs.data();
    sub.pResolveAttachments = resRefs.data();
    sub.pDepthStencilAttachment = depth != VK_FORMAT_UNDEFINED ? &depthRef : nullptr;
    const VkSubpassDependency deps[] = {
        {VK_SUBPASS_EXTERNAL, 0, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT,
         VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT | VK_PIPELINE_STAGE_EARLY_FRAGMENT_TESTS_BIT, 0,
         VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT | VK_ACCESS_DEPTH_STENCIL_ATTACHMENT_WRITE_BIT, 0},
        {0, VK_SUBPASS_EXTERNAL, VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
         VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT, 0},
    };
    VkRenderPassCreateInfo ri{VK_STRUCTURE_TYPE_RENDER_PASS_CREATE_INFO};
    ri.attachmentCount = uint32_t(att.size());
    ri.pAttachments = att.data();
    ri.subpassCount = 1;
    ri.pSubpasses = &sub;
    ri.dependencyCount = 2;
    ri.pDependencies = deps;
    VkRenderPass rp;
    vkCheck(vkCreateRenderPass(dev, &ri, nullptr, &rp), "vkCreateRenderPass");
    return VRenderPass(dev, rp);
}

VFramebuffer makeFramebuffer(VkDevice dev, VkRenderPass rp, const std::vector<VkImageView>& views, int w, int h) {
    VkFramebufferCreateInfo fi{VK_STRUCTURE_TYPE_FRAMEBUFFER_CREATE_INFO};
    fi.renderPass = rp;
    fi.attachmentCount = uint32_t(views.size());
    fi.pAttachments = views.data();
    fi.width = uint32_t(std::max(1, w));
    fi.height = uint32_t(std::max(1, h));
    fi.layers = 1;
    VkFramebuffer fb;
    vkCheck(vkCreateFramebuffer(dev, &fi, nullptr, &fb), "vkCreateFramebuffer");
    return VFramebuffer(dev, fb);
}

VSetLayout makeSetLayout(VkDevice dev, const std::vector<std::pair<VkDescriptorType, VkShaderStageFlags>>& bindings) {
    std::vector<VkDescriptorSetLayoutBinding> b;
    for (size_t i = 0; i < bindings.size(); ++i)
        b.push_back({uint32_t(i), bindings[i].first, 1, bindings[i].second, nullptr});
    VkDescriptorSetLayoutCreateInfo li{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO};
    li.bindingCount = uint32_t(b.size());
    li.pBindings = b.data();
    VkDescriptorSetLayout l;
    vkCheck(vkCreateDescriptorSetLayout(dev, &li, nullptr, &l), "vkCreateDescriptorSetLayout");
    return VSetLayout(dev, l);
}

VPipeLayout makePipeLayout(VkDevice dev, VkDescriptorSetLayout set, uint32_t pushBytes = 0) {
    VkPushConstantRange pr{VK_SHADER_STAGE_COMPUTE_BIT, 0, pushBytes};
    VkPipelineLayoutCreateInfo pi{VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO};
    pi.setLayoutCount = set ? 1 : 0;
    pi.pSetLayouts = &set;
    pi.pushConstantRangeCount = pushBytes ? 1 : 0;
    pi.pPushConstantRanges = &pr;
    VkPipelineLayout l;
    vkCheck(vkCreatePipelineLayout(dev, &pi, nullptr, &l), "vkCreatePipelineLayout");
    return VPipeLayout(dev, l);
}

struct GraphicsDesc {
    const char* vert;
    const char* frag;
    uint32_t stride;
    std::vector<VkVertexInputAttributeDescription> attrs;
    int colourCount;
    bool depth;
    const char* failure;  // message prefix when the driver refuses the pipeline
};

VPipeline makeGraphics(GPU::Impl& g, VkRenderPass rp, VkPipelineLayout layout, const GraphicsDesc& d) {
    VShader vs = makeShader(g, d.vert), fs = makeShader(g, d.frag);
    VkPipelineShaderStageCreateInfo stages[2] = {{VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO},
                                                 {VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO}};
    stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
    stages[0].module = vs;
    stages[0].pName = "main";
    stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
    stages[1].module = fs;
    stages[1].pName = "main";
    VkVertexInputBindingDescription bind{0, d.stride, VK_VERTEX_INPUT_RATE_VERTEX};
    VkPipelineVertexInputStateCreateInfo vi{VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO};
    vi.vertexBindingDescriptionCount = 1;
    vi.pVertexBindingDescriptions = &bind;
    vi.vertexAttributeDescriptionCount = uint32_t(d.attrs.size());
    vi.pVertexAttributeDescriptions = d.attrs.data();
    VkPipelineInputAssemblyStateCreateInfo ia{VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO};
    ia.topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    VkPipelineViewportStateCreateInfo vp{VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO};
    vp.viewportCount = 1;
    vp.scissorCount = 1;
    VkPipelineRasterizationStateCreateInfo rs{VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO};
    rs.polygonMode = VK_POLYGON_MODE_FILL;
    rs.cullMode = VK_CULL_MODE_NONE;  // the mesh's winding is not kept consistent
    rs.lineWidth = 1;
    VkPipelineMultisampleStateCreateInfo ms{VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO};
    ms.rasterizationSamples = VK_SAMPLE_COUNT_4_BIT;
    VkPipelineDepthStencilStateCreateInfo ds{VK_STRUCTURE_TYPE_PIPELINE_DEPTH_STENCIL_STATE_CREATE_INFO};
    ds.depthTestEnable = d.depth;
    ds.depthWriteEnable = d.depth;
    ds.depthCompareOp = VK_COMPARE_OP_LESS;
    std::vector<VkPipelineColorBlendAttachmentState> blends(size_t(d.colourCount));
    for (auto& b : blends) b.colorWriteMask = 0xf;
    VkPipelineColorBlendStateCreateInfo cb{VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO};
    cb.attachmentCount = uint32_t(blends.size());
    cb.pAttachments = blends.data();
    const VkDynamicState dyn[] = {VK_DYNAMIC_STATE_VIEWPORT, VK_DYNAMIC_STATE_SCISSOR};
    VkPipelineDynamicStateCreateInfo dy{VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO};
    dy.dynamicStateCount = 2;
    dy.pDynamicStates = dyn;
    VkGraphicsPipelineCreateInfo pi{VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO};
    pi.stageCount = 2;
    pi.pStages = stages;
    pi.pVertexInputState = &vi;
    pi.pInputAssemblyState = &ia;
    pi.pViewportState = &vp;
    pi.pRasterizationState = &rs;
    pi.pMultisampleState = &ms;
    pi.pDepthStencilState = &ds;
    pi.pColorBlendState = &cb;
    pi.pDynamicState = &dy;
    pi.layout = layout;
    pi.renderPass = rp;
    VkPipeline p;
    const VkResult r = vkCreateGraphicsPipelines(g.dev, VK_NULL_HANDLE, 1, &pi, nullptr, &p);
    if (r != VK_SUCCESS) die(std::string(d.failure) + vkText(r));
    return VPipeline(g.dev, p);
}

VPipeline makeCompute(GPU::Impl& g, VkPipelineLayout layout, const char* entry, const char* failure) {
    VShader cs = makeShader(g, entry);
    VkComputePipelineCreateInfo pi{VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO};
    pi.stage = {VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO};
    pi.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    pi.stage.module = cs;
    pi.stage.pName = "main";
    pi.layout = layout;
    VkPipeline p;
    const VkResult r = vkCreateComputePipelines(g.dev, VK_NULL_HANDLE, 1, &pi, nullptr, &p);
    if (r != VK_SUCCESS) die(std::string(failure) + vkText(r));
    return VPipeline(g.dev, p);
}

VSampler makeSampler(GPU::Impl& g, bool smooth) {
    VkSamplerCreateInfo si{VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO};
    si.magFilter = si.minFilter = smooth ? VK_FILTER_LINEAR : VK_FILTER_NEAREST;
    si.mipmapMode = smooth ? VK_SAMPLER_MIPMAP_MODE_LINEAR : VK_SAMPLER_MIPMAP_MODE_NEAREST;
    si.addressModeU = si.addressModeV = si.addressModeW = VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
    si.anisotropyEnable = smooth && g.anisotropy;
    si.maxAnisotropy = smooth ? g.maxAnisotropy : 1;
    si.maxLod = smooth ? VK_LOD_CLAMP_NONE : 0;
    VkSampler s;
    vkCheck(vkCreateSampler(g.dev, &si, nullptr, &s), "vkCreateSampler");
    return VSampler(g.dev, s);
}

// Three sigmas each side; the shader's line buffer holds at most 256, which only a
// shadow blur beyond 85 mask pixels would reach.
int blurRadius(double sigma) { return sigma > 0 ? std::min(256, int(std::ceil(3 * sigma))) : 0; }

}  // namespace

struct SpinRenderer::Impl {
    GPU::Impl& g;
    SpinSetup s;
    uint32_t nVerts = 0;
    VCmdPool pool;
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    VFence fence;

    // Device pass.
    VkFormat colourFormat = VK_FORMAT_R16G16B16A16_UNORM, depthFormat = VK_FORMAT_D32_SFLOAT;
    GImage colourMS, maskMS, depthMS, colour, mask;
    VRenderPass devPass;
    VFramebuffer devFB;
    VSetLayout devSetLayout;
    VPipeLayout devLayout;
    VPipeline devPipe;
    GBuffer verts, spinUBO;
    GImage screenTex;
    VSampler smooth, nearest;

    // Shadows.
    GImage shadowMS, shadowMask[2], shadowTmp[2], shadowBlur[2];
    VRenderPass shadowPass;
    VFramebuffer shadowFB[2];
    VPipeLayout shadowLayout;
    VPipeline shadowPipe;
    GBuffer polys;
    VSetLayout blurSetLayout;
    VPipeLayout blurLayout;
    VPipeline blurPipe;

    // Compose.
    GImage studio, grain;
    GBuffer flat, out, composeUBO;
    VSetLayout composeSetLayout;
    VPipeLayout composeLayout;
    VPipeline composePipe;

    VDescPool descPool;
    VkDescriptorSet devSet = VK_NULL_HANDLE, composeSet = VK_NULL_HANDLE, blurSets[2][2] = {};

    explicit Impl(const SpinSetup& setup);
    void begin();
    void submitAndWait(const char* failure);
    VkDescriptorSet allocSet(VkDescriptorSetLayout l);
    void writeImage(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, VkImageView view,
                    VkImageLayout layout);
    void writeBuffer(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, const GBuffer& b);
    void uploadImage(const GImage& img, const void* bytes, size_t pixelBytes);
};

SpinRenderer::Impl::Impl(const SpinSetup& setup) : g(GPU::shared().impl()), s(setup) {
    if (s.w < 1 || s.h < 1 || s.studio.size() != size_t(s.w) * size_t(s.h) ||
        s.grain.size() != size_t(s.w) * size_t(s.h))
        die("spin: renderer set up with mismatched studio or grain");
    VkDevice dev = g.dev;
    nVerts = uint32_t(s.verts.size());

    VkCommandPoolCreateInfo pi{VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO};
    pi.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT;
    pi.queueFamilyIndex = g.family;
    VkCommandPool p;
    vkCheck(vkCreateCommandPool(dev, &pi, nullptr, &p), "vkCreateCommandPool");
    pool = VCmdPool(dev, p);
    VkCommandBufferAllocateInfo ai{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO};
    ai.commandPool = pool;
    ai.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    ai.commandBufferCount = 1;
    vkCheck(vkAllocateCommandBuffers(dev, &ai, &cmd), "vkAllocateCommandBuffers");
    VkFenceCreateInfo fi{VK_STRUCTURE_TYPE_FENCE_CREATE_INFO};
    VkFence f;
    vkCheck(vkCreateFence(dev, &fi, nullptr, &f), "vkCreateFence");
    fence = VFence(dev, f);

    // 16-bit unsigned colour where the device renders it; half floats carry as much for 8-bit output.
    const VkFormatFeatureFlags target = VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT | VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT;
    if (!g.supports(colourFormat, target)) colourFormat = VK_FORMAT_R16G16B16A16_SFLOAT;
    if (!g.supports(depthFormat, VK_FORMAT_FEATURE_DEPTH_STENCIL_ATTACHMENT_BIT))
        depthFormat = VK_FORMAT_X8_D24_UNORM_PACK32;

    const VkImageUsageFlags att = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT, sampled = VK_IMAGE_USAGE_SAMPLED_BIT;
    const VkSampleCountFlagBits x4 = VK_SAMPLE_COUNT_4_BIT;
    const int rw = s.regionW, rh = s.regionH;
    colourMS = makeImage(g, colourFormat, rw, rh, att, x4, 1, true);
    maskMS = makeImage(g, VK_FORMAT_R8_UNORM, rw, rh, att, x4, 1, true);
    depthMS = makeImage(g, depthFormat, rw, rh, VK_IMAGE_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT, x4, 1, true,
                        VK_IMAGE_ASPECT_DEPTH_BIT);
    colour = makeImage(g, colourFormat, rw, rh, att | sampled);
    mask = makeImage(g, VK_FORMAT_R8_UNORM, rw, rh, att | sampled);
    devPass = makeRenderPass(dev, {colourFormat, VK_FORMAT_R8_UNORM}, depthFormat);
    devFB = makeFramebuffer(dev, devPass, {colourMS.view, maskMS.view, colour.view, mask.view, depthMS.view}, rw, rh);
    const VkShaderStageFlags vf = VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT;
    devSetLayout = makeSetLayout(dev, {{VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, vf},
                                       {VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, VK_SHADER_STAGE_FRAGMENT_BIT}});
    devLayout = makePipeLayout(dev, devSetLayout);
    devPipe = makeGraphics(g, devPass, devLayout,
                           {"vmain",
                            "fmain",
                            sizeof(SpinVtx),
                            {{0, 0, VK_FORMAT_R32G32B32A32_SFLOAT, 0}, {1, 0, VK_FORMAT_R32G32B32A32_SFLOAT, 16}},
                            2,
                            true,
                            "spin pipeline: "});
    verts = makeBuffer(g, nVerts * sizeof(SpinVtx),
                       VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT, false);
    spinUBO = makeBuffer(g, sizeof(SpinUniforms), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, true);
    const int mips = int(std::floor(std::log2(std::max({s.texW, s.texH, 1})))) + 1;
    screenTex = makeImage(g, VK_FORMAT_B8G8R8A8_UNORM, s.texW, s.texH,
                          sampled | VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT,
                          VK_SAMPLE_COUNT_1_BIT, mips);
    smooth = makeSampler(g, true);
    nearest = makeSampler(g, false);

    shadowMS = makeImage(g, VK_FORMAT_R16_SFLOAT, s.maskW, s.maskH, att, x4, 1, true);
    shadowPass = makeRenderPass(dev, {VK_FORMAT_R16_SFLOAT}, VK_FORMAT_UNDEFINED);
    const VkImageUsageFlags storage = VK_IMAGE_USAGE_STORAGE_BIT | sampled;
    for (int i = 0; i < 2; ++i) {
        shadowMask[i] = makeImage(g, VK_FORMAT_R16_SFLOAT, s.maskW, s.maskH, att | sampled);
        shadowTmp[i] = makeImage(g, VK_FORMAT_R32_SFLOAT, s.maskW, s.maskH, storage);
        shadowBlur[i] = makeImage(g, VK_FORMAT_R32_SFLOAT, s.maskW, s.maskH, storage);
        shadowFB[i] = makeFramebuffer(dev, shadowPass, {shadowMS.view, shadowMask[i].view}, s.maskW, s.maskH);
    }
    shadowLayout = makePipeLayout(dev, VK_NULL_HANDLE);
    shadowPipe = makeGraphics(g, shadowPass, shadowLayout,
                              {"svert", "sfrag", 8, {{0, 0, VK_FORMAT_R32G32_SFLOAT, 0}}, 1, false, "spin shadow: "});
    polys = makeBuffer(g, polyBytes, VK_BUFFER_USAGE_VERTEX_BUFFER_BIT, true);
    const VkShaderStageFlags cs = VK_SHADER_STAGE_COMPUTE_BIT;
    blurSetLayout =
        makeSetLayout(dev, {{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, cs}, {VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, cs}});
    blurLayout = makePipeLayout(dev, blurSetLayout, 20);
    blurPipe = makeCompute(g, blurLayout, "blur", "spin shadow: ");

    studio = makeImage(g, VK_FORMAT_R32G32B32A32_SFLOAT, s.w, s.h, sampled | VK_IMAGE_USAGE_TRANSFER_DST_BIT);
    grain = makeImage(g, VK_FORMAT_R32_SFLOAT, s.w, s.h, sampled | VK_IMAGE_USAGE_TRANSFER_DST_BIT);
    const VkDeviceSize frameBytes = VkDeviceSize(s.w) * VkDeviceSize(s.h) * 4;
    flat = makeBuffer(g, frameBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, true);
    out = makeBuffer(g, frameBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, true);
    composeUBO = makeBuffer(g, sizeof(ComposeUniforms), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, true);
    const VkDescriptorType tex = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, sb = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    composeSetLayout = makeSetLayout(dev, {{VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, cs},
                                           {tex, cs},
                                           {tex, cs},
                                           {tex, cs},
                                           {tex, cs},
                                           {tex, cs},
                                           {tex, cs},
                                           {sb, cs},
                                           {sb, cs}});
    composeLayout = makePipeLayout(dev, composeSetLayout);
    composePipe = makeCompute(g, composeLayout, "compose", "spin compose: ");

    const VkDescriptorPoolSize sizes[] = {
        {VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 2}, {tex, 11}, {VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, 4}, {sb, 2}};
    VkDescriptorPoolCreateInfo dpi{VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO};
    dpi.maxSets = 6;
    dpi.poolSizeCount = 4;
    dpi.pPoolSizes = sizes;
    VkDescriptorPool dp;
    vkCheck(vkCreateDescriptorPool(dev, &dpi, nullptr, &dp), "vkCreateDescriptorPool");
    descPool = VDescPool(dev, dp);

    const VkImageLayout ro = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, general = VK_IMAGE_LAYOUT_GENERAL;
    devSet = allocSet(devSetLayout);
    writeBuffer(devSet, 0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, spinUBO);
    writeImage(devSet, 1, tex, screenTex.view, ro);
    for (int i = 0; i < 2; ++i) {
        blurSets[i][0] = allocSet(blurSetLayout);
        writeImage(blurSets[i][0], 0, tex, shadowMask[i].view, ro);
        writeImage(blurSets[i][0], 1, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, shadowTmp[i].view, general);
        blurSets[i][1] = allocSet(blurSetLayout);
        writeImage(blurSets[i][1], 0, tex, shadowTmp[i].view, general);
        writeImage(blurSets[i][1], 1, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE, shadowBlur[i].view, general);
    }
    composeSet = allocSet(composeSetLayout);
    writeBuffer(composeSet, 0, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, composeUBO);
    writeImage(composeSet, 1, tex, studio.view, ro);
    writeImage(composeSet, 2, tex, colour.view, ro);
    writeImage(composeSet, 3, tex, mask.view, ro);
    writeImage(composeSet, 4, tex, shadowBlur[0].view, general);
    writeImage(composeSet, 5, tex, shadowBlur[1].view, general);
    writeImage(composeSet, 6, tex, grain.view, ro);
    writeBuffer(composeSet, 7, sb, flat);
    writeBuffer(composeSet, 8, sb, out);

    // First contents: studio, grain and mesh copied in; blur images in their working
    // layout; a black screen until the first upload.
    GBuffer vs = makeBuffer(g, nVerts * sizeof(SpinVtx), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true);
    if (nVerts) std::memcpy(vs.map, s.verts.data(), nVerts * sizeof(SpinVtx));
    GBuffer ss = makeBuffer(g, s.studio.size() * sizeof(PxF), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true);
    std::memcpy(ss.map, s.studio.data(), s.studio.size() * sizeof(PxF));
    GBuffer gs = makeBuffer(g, s.grain.size() * sizeof(float), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true);
    std::memcpy(gs.map, s.grain.data(), s.grain.size() * sizeof(float));
    begin();
    if (nVerts) {
        VkBufferCopy bc{0, 0, nVerts * sizeof(SpinVtx)};
        vkCmdCopyBuffer(cmd, vs.buf, verts.buf, 1, &bc);
    }
    const VkPipelineStageFlags top = VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, xfer = VK_PIPELINE_STAGE_TRANSFER_BIT,
                               all = VK_PIPELINE_STAGE_ALL_COMMANDS_BIT;
    for (const GImage* im : {&studio, &grain, &screenTex}) {
        barrier(cmd, top, xfer,
                imageBarrier(im->img, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 0,
                             VK_ACCESS_TRANSFER_WRITE_BIT));
    }
    VkBufferImageCopy ic{};
    ic.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    ic.imageExtent = {uint32_t(s.w), uint32_t(s.h), 1};
    vkCmdCopyBufferToImage(cmd, ss.buf, studio.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &ic);
    vkCmdCopyBufferToImage(cmd, gs.buf, grain.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &ic);
    const VkClearColorValue black{};
    const VkImageSubresourceRange allLevels{VK_IMAGE_ASPECT_COLOR_BIT, 0, VK_REMAINING_MIP_LEVELS, 0, 1};
    vkCmdClearColorImage(cmd, screenTex.img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &black, 1, &allLevels);
    for (const GImage* im : {&studio, &grain, &screenTex})
        barrier(cmd, xfer, all,
                imageBarrier(im->img, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, ro, VK_ACCESS_TRANSFER_WRITE_BIT,
                             VK_ACCESS_SHADER_READ_BIT));
    for (int i = 0; i < 2; ++i)
        for (const GImage* im : {&shadowTmp[i], &shadowBlur[i]})
            barrier(cmd, top, all,
                    imageBarrier(im->img, VK_IMAGE_LAYOUT_UNDEFINED, general, 0, VK_ACCESS_SHADER_WRITE_BIT));
    memoryBarrier(cmd, xfer, VK_PIPELINE_STAGE_VERTEX_INPUT_BIT, VK_ACCESS_TRANSFER_WRITE_BIT,
                  VK_ACCESS_VERTEX_ATTRIBUTE_READ_BIT);
    submitAndWait("spin: GPU upload failed: ");
}

void SpinRenderer::Impl::begin() {
    VkCommandBufferBeginInfo bi{VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO};
    bi.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    vkCheck(vkBeginCommandBuffer(cmd, &bi), "vkBeginCommandBuffer");
}

void SpinRenderer::Impl::submitAndWait(const char* failure) {
    vkCheck(vkEndCommandBuffer(cmd), "vkEndCommandBuffer");
    g.submit(cmd, fence);
    VkFence f = fence;
    const VkResult r = vkWaitForFences(g.dev, 1, &f, VK_TRUE, UINT64_MAX);
    if (r != VK_SUCCESS) die(failure + vkText(r));
    vkCheck(vkResetFences(g.dev, 1, &f), "vkResetFences");
}

VkDescriptorSet SpinRenderer::Impl::allocSet(VkDescriptorSetLayout l) {
    VkDescriptorSetAllocateInfo ai{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO};
    ai.descriptorPool = descPool;
    ai.descriptorSetCount = 1;
    ai.pSetLayouts = &l;
    VkDescriptorSet set;
    vkCheck(vkAllocateDescriptorSets(g.dev, &ai, &set), "vkAllocateDescriptorSets");
    return set;
}

void SpinRenderer::Impl::writeImage(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, VkImageView view,
                                    VkImageLayout layout) {
    VkDescriptorImageInfo ii{type == VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER
                                 ? (view == screenTex.view.get() ? smooth.get() : nearest.get())
                                 : VK_NULL_HANDLE,
                             view, layout};
    VkWriteDescriptorSet w{VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    w.dstSet = set;
    w.dstBinding = binding;
    w.descriptorCount = 1;
    w.descriptorType = type;
    w.pImageInfo = &ii;
    vkUpdateDescriptorSets(g.dev, 1, &w, 0, nullptr);
}

void SpinRenderer::Impl::writeBuffer(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, const GBuffer& b) {
    VkDescriptorBufferInfo bi{b.buf, 0, VK_WHOLE_SIZE};
    VkWriteDescriptorSet w{VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    w.dstSet = set;
    w.dstBinding = binding;
    w.descriptorCount = 1;
    w.descriptorType = type;
    w.pBufferInfo = &bi;
    vkUpdateDescriptorSets(g.dev, 1, &w, 0, nullptr);
}

SpinRenderer::SpinRenderer(const SpinSetup& setup) : m(std::make_unique<Impl>(setup)) {}
SpinRenderer::~SpinRenderer() = default;

View8 SpinRenderer::staging() const {
    return {static_cast<uint8_t*>(m->flat.map), m->s.w, m->s.h, ptrdiff_t(m->s.w) * 4};
}

std::span<float> SpinRenderer::shadowArea(int layer) const {
    if (layer < 0 || layer > 1) die("spin: shadow layer " + std::to_string(layer));
    return {static_cast<float*>(m->polys.map) + size_t(layer) * shadowRoom * 2, size_t(shadowRoom) * 2};
}

void SpinRenderer::uploadScreen(const View8& px) {
    Impl& r = *m;
    if (px.w != r.s.texW || px.h != r.s.texH)
        die("spin: screen image is " + std::to_string(px.w) + "x" + std::to_string(px.h) + ", the texture " +
            std::to_string(r.s.texW) + "x" + std::to_string(r.s.texH));
    const size_t rowBytes = size_t(px.w) * 4;
    GBuffer st = makeBuffer(r.g, rowBytes * size_t(px.h), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, true);
    for (int i = 0; i < px.h; ++i)
        std::memcpy(static_cast<uint8_t*>(st.map) + rowBytes * size_t(i), px.top(i), rowBytes);

    const VkImage img = r.screenTex.img;
    const VkPipelineStageFlags xfer = VK_PIPELINE_STAGE_TRANSFER_BIT, frag = VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT;
    const VkImageLayout ro = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, dst = VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                        src = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;
    const VkAccessFlags wr = VK_ACCESS_TRANSFER_WRITE_BIT, rd = VK_ACCESS_TRANSFER_READ_BIT;
    r.begin();
    barrier(r.cmd, frag, xfer, imageBarrier(img, ro, dst, VK_ACCESS_SHADER_READ_BIT, wr));
    VkBufferImageCopy ic{};
    ic.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    ic.imageExtent = {uint32_t(px.w), uint32_t(px.h), 1};
    vkCmdCopyBufferToImage(r.cmd, st.buf, img, dst, 1, &ic);
    // Each level is the linear blit of the one above it.
    int w = px.w, h = px.h;
    for (int level = 1; level < r.screenTex.mips; ++level) {
        barrier(r.cmd, xfer, xfer, imageBarrier(img, dst, src, wr, rd, uint32_t(level - 1), 1));
        const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
        VkImageBlit b{};
        b.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, uint32_t(level - 1), 0, 1};
        b.srcOffsets[1] = {w, h, 1};
        b.dstSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, uint32_t(level), 0, 1};
        b.dstOffsets[1] = {nw, nh, 1};
        vkCmdBlitImage(r.cmd, img, src, img, dst, 1, &b, VK_FILTER_LINEAR);
        barrier(r.cmd, xfer, frag, imageBarrier(img, src, ro, rd, VK_ACCESS_SHADER_READ_BIT, uint32_t(level - 1), 1));
        w = nw;
        h = nh;
    }
    barrier(r.cmd, xfer, frag,
            imageBarrier(img, dst, ro, wr, VK_ACCESS_SHADER_READ_BIT, uint32_t(r.screenTex.mips - 1), 1));
    r.submitAndWait("spin: GPU upload failed: ");
}

void SpinRenderer::render(const SpinUniforms& u, const ComposeUniforms& c, const int shadowCount[2], View8 into) {
    Impl& r = *m;
    if (into.w != r.s.w || into.h != r.s.h)
        die("spin: frame of " + std::to_string(into.w) + "x" + std::to_string(into.h) + " for a " +
            std::to_string(r.s.w) + "x" + std::to_string(r.s.h) + " scene");
    std::memcpy(r.spinUBO.map, &u, sizeof u);
    std::memcpy(r.composeUBO.map, &c, sizeof c);
    r.begin();
    VkCommandBuffer cmd = r.cmd;

    auto pass = [&](VkRenderPass rp, VkFramebuffer fb, int w, int h, const VkClearValue* clears, uint32_t nClears) {
        VkRenderPassBeginInfo bi{VK_STRUCTURE_TYPE_RENDER_PASS_BEGIN_INFO};
        bi.renderPass = rp;
        bi.framebuffer = fb;
        bi.renderArea = {{0, 0}, {uint32_t(std::max(1, w)), uint32_t(std::max(1, h))}};
        bi.clearValueCount = nClears;
        bi.pClearValues = clears;
        vkCmdBeginRenderPass(cmd, &bi, VK_SUBPASS_CONTENTS_INLINE);
        const VkViewport vp{0, 0, float(std::max(1, w)), float(std::max(1, h)), 0, 1};
        vkCmdSetViewport(cmd, 0, 1, &vp);
        vkCmdSetScissor(cmd, 0, 1, &bi.renderArea);
    };

    VkClearValue clears[5]{};
    clears[4].depthStencil = {1, 0};
    pass(r.devPass, r.devFB, r.s.regionW, r.s.regionH, clears, 5);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.devPipe);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.devLayout, 0, 1, &r.devSet, 0, nullptr);
    const VkDeviceSize zero = 0;
    VkBuffer vb = r.verts.buf;
    vkCmdBindVertexBuffers(cmd, 0, 1, &vb, &zero);
    if (r.nVerts) vkCmdDraw(cmd, r.nVerts, 1, 0, 0);
    vkCmdEndRenderPass(cmd);

    for (int i = 0; i < 2; ++i) {
        pass(r.shadowPass, r.shadowFB[i], r.s.maskW, r.s.maskH, clears, 2);
        const int n = std::clamp(shadowCount[i], 0, shadowRoom) / 3 * 3;
        if (n > 0) {
            vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, r.shadowPipe);
            const VkDeviceSize offset = VkDeviceSize(i) * (polyBytes / 2);
            VkBuffer pb = r.polys.buf;
            vkCmdBindVertexBuffers(cmd, 0, 1, &pb, &offset);
            vkCmdDraw(cmd, uint32_t(n), 1, 0, 0);
        }
        vkCmdEndRenderPass(cmd);
    }

    struct Push {
        int dx, dy, radius;
        float sigma, norm;
    };
    const VkPipelineStageFlags comp = VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT;
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.blurPipe);
    for (int i = 0; i < 2; ++i) {
        const int radius = blurRadius(r.s.blurSigma[i]);
        const float sigma = float(r.s.blurSigma[i]);
        double sum = 0;
        for (int k = -radius; k <= radius; ++k) sum += radius ? std::exp(-double(k * k) / (2.0 * sigma * sigma)) : 1;
        for (int dir = 0; dir < 2; ++dir) {
            const Push p{dir == 0, dir == 1, radius, sigma, float(1 / sum)};
            vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.blurLayout, 0, 1, &r.blurSets[i][dir], 0,
                                    nullptr);
            vkCmdPushConstants(cmd, r.blurLayout, VK_SHADER_STAGE_COMPUTE_BIT, 0, sizeof p, &p);
            // One workgroup per 256 pixels of a line.
            const int along = dir == 0 ? r.s.maskW : r.s.maskH, across = dir == 0 ? r.s.maskH : r.s.maskW;
            vkCmdDispatch(cmd, uint32_t(along + 255) / 256, uint32_t(across), 1);
            if (dir == 0) memoryBarrier(cmd, comp, comp, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT);
        }
    }
    memoryBarrier(cmd, comp, comp, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_SHADER_READ_BIT);

    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.composePipe);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.composeLayout, 0, 1, &r.composeSet, 0, nullptr);
    vkCmdDispatch(cmd, uint32_t(r.s.w + 15) / 16, uint32_t(r.s.h + 15) / 16, 1);
    memoryBarrier(cmd, comp, VK_PIPELINE_STAGE_HOST_BIT, VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_HOST_READ_BIT);
    r.submitAndWait("spin: GPU frame failed: ");

    const size_t rowBytes = size_t(r.s.w) * 4;
    for (int i = 0; i < r.s.h; ++i)
        std::memcpy(into.top(i), static_cast<const uint8_t*>(r.out.map) + rowBytes * size_t(i), rowBytes);
}
