#include <algorithm>
#include <cstring>

#include "base/die.h"
#include "spin/passes.h"

VkImageMemoryBarrier imageBarrier(VkImage img, VkImageLayout from, VkImageLayout to, VkAccessFlags src,
                                  VkAccessFlags dst, uint32_t level, uint32_t levels) {
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

VRenderPass makeRenderPass(VkDevice dev, const std::vector<VkFormat>& colours, VkFormat depth,
                           VkSampleCountFlagBits samples) {
    const bool resolve = samples != VK_SAMPLE_COUNT_1_BIT;
    std::vector<VkAttachmentDescription> att;
    std::vector<VkAttachmentReference> colRefs, resRefs;
    for (VkFormat f : colours) {
        colRefs.push_back({uint32_t(att.size()), VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL});
        att.push_back({0, f, samples, VK_ATTACHMENT_LOAD_OP_CLEAR,
                       resolve ? VK_ATTACHMENT_STORE_OP_DONT_CARE : VK_ATTACHMENT_STORE_OP_STORE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       resolve ? VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL : VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL});
    }
    for (VkFormat f : resolve ? colours : std::vector<VkFormat>{}) {
        resRefs.push_back({uint32_t(att.size()), VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL});
        att.push_back({0, f, VK_SAMPLE_COUNT_1_BIT, VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_STORE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL});
    }
    VkAttachmentReference depthRef{uint32_t(att.size()), VK_IMAGE_LAYOUT_DEPTH_STENCIL_ATTACHMENT_OPTIMAL};
    if (depth != VK_FORMAT_UNDEFINED)
        att.push_back({0, depth, samples, VK_ATTACHMENT_LOAD_OP_CLEAR, VK_ATTACHMENT_STORE_OP_DONT_CARE,
                       VK_ATTACHMENT_LOAD_OP_DONT_CARE, VK_ATTACHMENT_STORE_OP_DONT_CARE, VK_IMAGE_LAYOUT_UNDEFINED,
                       VK_IMAGE_LAYOUT_DEPTH_STENCIL_ATTACHMENT_OPTIMAL});
    VkSubpassDescription sub{};
    sub.pipelineBindPoint = VK_PIPELINE_BIND_POINT_GRAPHICS;
    sub.colorAttachmentCount = uint32_t(colRefs.size());
    sub.pColorAttachments = colRefs.data();
    sub.pResolveAttachments = resolve ? resRefs.data() : nullptr;
    sub.pDepthStencilAttachment = depth != VK_FORMAT_UNDEFINED ? &depthRef : nullptr;
    const VkSubpassDependency deps[] = {
        {VK_SUBPASS_EXTERNAL, 0, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT,
         VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT | VK_PIPELINE_STAGE_EARLY_FRAGMENT_TESTS_BIT, 0,
         VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT | VK_ACCESS_DEPTH_STENCIL_ATTACHMENT_WRITE_BIT, 0},
        {0, VK_SUBPASS_EXTERNAL, VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT,
         VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT,
         VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_TRANSFER_READ_BIT, 0},
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

VSetLayout makeSetLayout(VkDevice dev, const std::vector<Binding>& bindings) {
    std::vector<VkDescriptorSetLayoutBinding> b;
    for (const Binding& x : bindings) b.push_back({uint32_t(x.at), x.type, 1, x.stages, nullptr});
    VkDescriptorSetLayoutCreateInfo li{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO};
    li.bindingCount = uint32_t(b.size());
    li.pBindings = b.data();
    VkDescriptorSetLayout l;
    vkCheck(vkCreateDescriptorSetLayout(dev, &li, nullptr, &l), "vkCreateDescriptorSetLayout");
    return VSetLayout(dev, l);
}

VPipeLayout makePipeLayout(VkDevice dev, VkDescriptorSetLayout set, uint32_t computePushBytes) {
    VkPushConstantRange pr{VK_SHADER_STAGE_COMPUTE_BIT, 0, computePushBytes};
    VkPipelineLayoutCreateInfo pi{VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO};
    pi.setLayoutCount = set ? 1 : 0;
    pi.pSetLayouts = &set;
    pi.pushConstantRangeCount = computePushBytes ? 1 : 0;
    pi.pPushConstantRanges = &pr;
    VkPipelineLayout l;
    vkCheck(vkCreatePipelineLayout(dev, &pi, nullptr, &l), "vkCreatePipelineLayout");
    return VPipeLayout(dev, l);
}

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
    // Counter-clockwise on the target is the mesh's outside (Mesh::orientOutwards), once
    // the projection has turned y downwards.
    rs.cullMode = d.cull;
    rs.frontFace = VK_FRONT_FACE_COUNTER_CLOCKWISE;
    rs.lineWidth = 1;
    VkPipelineMultisampleStateCreateInfo ms{VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO};
    ms.rasterizationSamples = d.samples;
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

VSampler makeSampler(GPU::Impl& g, Filter filter) {
    const bool smooth = filter == Filter::Smooth;
    VkSamplerCreateInfo si{VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO};
    si.magFilter = si.minFilter = filter == Filter::Nearest ? VK_FILTER_NEAREST : VK_FILTER_LINEAR;
    si.mipmapMode = smooth ? VK_SAMPLER_MIPMAP_MODE_LINEAR : VK_SAMPLER_MIPMAP_MODE_NEAREST;
    si.addressModeU = si.addressModeV = si.addressModeW =
        filter == Filter::Bilinear ? VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_BORDER : VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
    si.borderColor = VK_BORDER_COLOR_FLOAT_TRANSPARENT_BLACK;
    si.anisotropyEnable = smooth && g.anisotropy;
    si.maxAnisotropy = smooth ? g.maxAnisotropy : 1;
    si.maxLod = smooth ? VK_LOD_CLAMP_NONE : 0;
    // Half a level sharper: the screen texture is at the frame's own scale, and a turned
    // screen read at the plain level looks softer than the flat frame's resampled one.
    si.mipLodBias = smooth ? -0.5f : 0;
    VkSampler s;
    vkCheck(vkCreateSampler(g.dev, &si, nullptr, &s), "vkCreateSampler");
    return VSampler(g.dev, s);
}

Descriptors::Descriptors(VkDevice dev, std::initializer_list<VkDescriptorPoolSize> sizes, uint32_t maxSets)
    : m_dev(dev) {
    VkDescriptorPoolCreateInfo dpi{VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO};
    dpi.maxSets = maxSets;
    dpi.poolSizeCount = uint32_t(sizes.size());
    dpi.pPoolSizes = sizes.begin();
    VkDescriptorPool dp;
    vkCheck(vkCreateDescriptorPool(dev, &dpi, nullptr, &dp), "vkCreateDescriptorPool");
    m_pool = VDescPool(dev, dp);
}

VkDescriptorSet Descriptors::allocate(VkDescriptorSetLayout layout) {
    VkDescriptorSetAllocateInfo ai{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO};
    ai.descriptorPool = m_pool;
    ai.descriptorSetCount = 1;
    ai.pSetLayouts = &layout;
    VkDescriptorSet set;
    vkCheck(vkAllocateDescriptorSets(m_dev, &ai, &set), "vkAllocateDescriptorSets");
    return set;
}

void Descriptors::image(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, VkImageView view,
                        VkImageLayout layout, VkSampler sampler) {
    const VkDescriptorImageInfo ii{sampler, view, layout};
    write(set, binding, type, &ii, nullptr);
}

void Descriptors::buffer(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, const GBuffer& b) {
    const VkDescriptorBufferInfo bi{b.buf, 0, VK_WHOLE_SIZE};
    write(set, binding, type, nullptr, &bi);
}

void Descriptors::write(VkDescriptorSet set, uint32_t binding, VkDescriptorType type,
                        const VkDescriptorImageInfo* image, const VkDescriptorBufferInfo* buffer) {
    VkWriteDescriptorSet w{VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    w.dstSet = set;
    w.dstBinding = binding;
    w.descriptorCount = 1;
    w.descriptorType = type;
    w.pImageInfo = image;
    w.pBufferInfo = buffer;
    vkUpdateDescriptorSets(m_dev, 1, &w, 0, nullptr);
}

void beginPass(VkCommandBuffer cmd, VkRenderPass rp, VkFramebuffer fb, int w, int h, const VkClearValue* clears,
               uint32_t clearCount) {
    VkRenderPassBeginInfo bi{VK_STRUCTURE_TYPE_RENDER_PASS_BEGIN_INFO};
    bi.renderPass = rp;
    bi.framebuffer = fb;
    bi.renderArea = {{0, 0}, {uint32_t(std::max(1, w)), uint32_t(std::max(1, h))}};
    bi.clearValueCount = clearCount;
    bi.pClearValues = clears;
    vkCmdBeginRenderPass(cmd, &bi, VK_SUBPASS_CONTENTS_INLINE);
    const VkViewport vp{0, 0, float(std::max(1, w)), float(std::max(1, h)), 0, 1};
    vkCmdSetViewport(cmd, 0, 1, &vp);
    vkCmdSetScissor(cmd, 0, 1, &bi.renderArea);
}

VkBuffer stage(GPU::Impl& g, Uploads& keep, const void* bytes, size_t size) {
    keep.push_back(makeBuffer(g, size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, Memory::HostMapped));
    if (size) std::memcpy(keep.back().map, bytes, size);
    return keep.back().buf;
}
