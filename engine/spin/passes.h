#pragma once
// The spin renderer's passes on Vulkan, one file each: device (pass_device.cpp), shadow
// silhouettes (pass_shadow.cpp), blur (pass_blur.cpp), compose (pass_compose.cpp, or on
// the host: pass_hostcompose.cpp) and read-back (pass_readback.cpp); renderer.cpp runs
// them in that order. Only those files
// and vk_build.cpp, which builds their pipelines, include this.
#include <initializer_list>
#include <utility>
#include <vector>

#include "spin/gpu_vk.h"
#include "spin/program.h"
#include "spin/renderer.h"

// Pipeline and descriptor building, barriers (vk_build.cpp).

VkImageMemoryBarrier imageBarrier(VkImage img, VkImageLayout from, VkImageLayout to, VkAccessFlags src,
                                  VkAccessFlags dst, uint32_t level = 0, uint32_t levels = VK_REMAINING_MIP_LEVELS);
void barrier(VkCommandBuffer cmd, VkPipelineStageFlags src, VkPipelineStageFlags dst, const VkImageMemoryBarrier& b);
void memoryBarrier(VkCommandBuffer cmd, VkPipelineStageFlags src, VkPipelineStageFlags dst, VkAccessFlags from,
                   VkAccessFlags to);

// Colour attachments, cleared; with several samples each is resolved into a single-sample
// image the compute passes read, with one it is that image. Optionally a depth attachment
// that is never stored.
VRenderPass makeRenderPass(VkDevice dev, const std::vector<VkFormat>& colours, VkFormat depth,
                           VkSampleCountFlagBits samples);
VFramebuffer makeFramebuffer(VkDevice dev, VkRenderPass rp, const std::vector<VkImageView>& views, int w, int h);
// One binding of set 0: its number (from program.h), what it holds, which stages see it.
struct Binding {
    int at;
    VkDescriptorType type;
    VkShaderStageFlags stages;
};
VSetLayout makeSetLayout(VkDevice dev, const std::vector<Binding>& bindings);
VPipeLayout makePipeLayout(VkDevice dev, VkDescriptorSetLayout set, uint32_t computePushBytes = 0);

struct GraphicsDesc {
    const char* vert;
    const char* frag;
    uint32_t stride;
    std::vector<VkVertexInputAttributeDescription> attrs;
    int colourCount;
    bool depth;
    VkSampleCountFlagBits samples;
    const char* failure;                       // message prefix when the driver refuses the pipeline
    VkCullModeFlags cull = VK_CULL_MODE_NONE;  // or the triangles facing away
};
VPipeline makeGraphics(GPU::Impl& g, VkRenderPass rp, VkPipelineLayout layout, const GraphicsDesc& d);
VPipeline makeCompute(GPU::Impl& g, VkPipelineLayout layout, const char* entry, const char* failure);

// Smooth: trilinear (anisotropic where the device does it well), for the screen image.
// Bilinear: one level, zero beyond the edges, for the shadow masks.
// Nearest: the texel as stored, for images the kernels read texel by texel.
enum class Filter { Smooth, Bilinear, Nearest };
VSampler makeSampler(GPU::Impl& g, Filter filter);

// The descriptor sets of one pass, from a pool of its own.
class Descriptors {
public:
    Descriptors(VkDevice dev, std::initializer_list<VkDescriptorPoolSize> sizes, uint32_t maxSets);
    VkDescriptorSet allocate(VkDescriptorSetLayout layout);
    void image(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, VkImageView view, VkImageLayout layout,
               VkSampler sampler = VK_NULL_HANDLE);
    void buffer(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, const GBuffer& b);

private:
    void write(VkDescriptorSet set, uint32_t binding, VkDescriptorType type, const VkDescriptorImageInfo* image,
               const VkDescriptorBufferInfo* buffer);

    VkDevice m_dev;
    VDescPool m_pool;
};

// Begins a render pass over w x h with viewport and scissor to match.
void beginPass(VkCommandBuffer cmd, VkRenderPass rp, VkFramebuffer fb, int w, int h, const VkClearValue* clears,
               uint32_t clearCount);

// Host buffers a pass fills before the first frame; they must live until that upload has
// been waited for.
using Uploads = std::vector<GBuffer>;
// Copies bytes into a new host buffer kept in `keep`, for a copy command to read.
VkBuffer stage(GPU::Impl& g, Uploads& keep, const void* bytes, size_t size);

// The passes. Each builds its pipeline and targets from the setup, records its first
// contents with prime() and its per-frame work with record().

// The turned device over its region only: colour and screen mask, 4 samples resolved.
struct DevicePass {
    DevicePass(GPU::Impl& g, const SpinSetup& s);
    void prime(VkCommandBuffer cmd, Uploads& keep, const SpinSetup& s) const;
    // Draws into the aw x ah corner of the targets (at most w x h), in the order `front`
    // asks for.
    void record(VkCommandBuffer cmd, int aw, int ah, SpinRenderer::Facing front) const;
    // Replaces the screen texture and its mipmaps; recorded on cmd.
    void uploadScreen(VkCommandBuffer cmd, const GBuffer& pixels) const;

    GPU::Impl& g;
    uint32_t nVerts = 0, frontVerts = 0, windowVerts = 0;
    int w = 0, h = 0;
    VkFormat colourFormat = VK_FORMAT_R16G16B16A16_UNORM, depthFormat = VK_FORMAT_D32_SFLOAT;
    GImage colourMS, depthMS, colour, screenTex;
    VRenderPass pass;
    VFramebuffer fb;
    VSetLayout setLayout;
    VPipeLayout layout;
    VPipeline pipe, screenPipe;
    GBuffer verts, uniforms;
    VSampler smooth;
    Descriptors sets;
    VkDescriptorSet set = VK_NULL_HANDLE;
};

// The device's silhouette filled into one quarter-size mask per shadow layer.
struct ShadowPass {
    ShadowPass(GPU::Impl& g, const SpinSetup& s);
    void record(VkCommandBuffer cmd, const int counts[2]) const;
    std::span<float> area(int layer) const;

    int w[2] = {}, h[2] = {};
    GImage ms, mask[2];
    VRenderPass pass;
    VFramebuffer fb[2];
    VPipeLayout layout;
    VPipeline pipe;
    GBuffer polys;  // both layers' triangles, shadowLayerBytes each
};

// The Gaussian's radius, sigma and normalisation at sigma (mask px); direction and box unset.
BlurPush blurKernel(double sigma);

// Each shadow mask blurred by its layer's Gaussian, rows then columns.
struct BlurPass {
    BlurPass(GPU::Impl& g, const SpinSetup& s, const ShadowPass& from);
    void prime(VkCommandBuffer cmd) const;
    // Blurs each layer's mask within its box (mask texels; empty: none); the rest of the
    // blurred image keeps what it held.
    void record(VkCommandBuffer cmd, const PixelBox boxes[2]) const;

    int w[2] = {}, h[2] = {};
    BlurPush push[2][2] = {};  // per layer, per direction; record() sets the texels written
    GImage tmp[2], out[2];
    VSetLayout setLayout;
    VPipeLayout layout;
    VPipeline pipe;
    VSampler nearest;  // the kernel reads its source texel by texel
    Descriptors sets;
    VkDescriptorSet set[2][2] = {};
};

// Where frames cross between host and device: the flat frame the compose pass mixes in,
// and the finished frame it writes, read back into the caller's frame.
struct ReadBack {
    ReadBack(GPU::Impl& g, const SpinSetup& s);
    View8 staging() const;
    void copyOut(View8 into) const;

    int w = 0, h = 0;
    GBuffer flat, out;
};

// Backdrop, shadows, device and grain into the output frame, mixed with the flat frame
// by the hand-off weight.
struct ComposePass {
    ComposePass(GPU::Impl& g, const SpinSetup& s, const DevicePass& device, const BlurPass& blur,
                const ReadBack& frames);
    void prime(VkCommandBuffer cmd, Uploads& keep, const SpinSetup& s) const;
    // Composes the pixels of work (left, top, right, bottom), as the uniforms also say.
    void record(VkCommandBuffer cmd, const PixelBox& work) const;

    GPU::Impl& g;
    int w = 0, h = 0;
    GImage studio;  // the backdrop, with the grain in alpha
    GBuffer uniforms;
    VSetLayout setLayout;
    VPipeLayout layout;
    VPipeline pipe;
    VSampler nearest, bilinear;
    Descriptors sets;
    VkDescriptorSet set = VK_NULL_HANDLE;
};

// The blur and compose passes' work done by the host, from copies of the device's images
// and the shadow masks; for devices whose colour target is 16-bit unsigned.
struct HostCompose {
    HostCompose(GPU::Impl& g, const SpinSetup& s, const DevicePass& device, const ShadowPass& shadows);
    // Copies the device's aw x ah corner and both shadow masks into the buffers.
    void record(VkCommandBuffer cmd, int aw, int ah) const;
    // Once the copies are done: blurs each layer's mask within its box (as BlurPass),
    // then composes the pixels of work into frames.out.
    void blur(const PixelBox boxes[2]);
    void compose(const ComposeUniforms& c, const PixelBox& work, const ReadBack& frames) const;

    GPU::Impl& g;
    const DevicePass& device;
    const ShadowPass& shadows;
    int w = 0;
    std::vector<PxF> studio;  // the backdrop, with the grain in alpha
    GBuffer colour;           // rows device.w texels apart
    GBuffer masks[2];         // the shadow masks, half floats
    std::vector<float> tmp[2], blurred[2];
    std::vector<float> taps[2];  // the Gaussian's weights from the centre out
    float norm[2] = {1, 1};

private:
    void blurLayer(int layer, const PixelBox& box);
};
