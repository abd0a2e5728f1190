#pragma once
// Vulkan helpers shared by the context and the renderer; nothing outside engine/spin
// includes this.
#include <vulkan/vulkan.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "spin/gpu.h"

std::string vkText(VkResult r);
// Ends the process with the call's name and the result when a call fails.
void vkCheck(VkResult r, const char* what);

// One owner per handle; destroyed through the device that made it.
template <class T, void (*Destroy)(VkDevice, T, const VkAllocationCallbacks*)> class Owned {
public:
    Owned() = default;
    Owned(VkDevice dev, T h) : m_dev(dev), m_h(h) {}
    Owned(Owned&& o) noexcept : m_dev(o.m_dev), m_h(std::exchange(o.m_h, VK_NULL_HANDLE)) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) {
            reset();
            m_dev = o.m_dev;
            m_h = std::exchange(o.m_h, VK_NULL_HANDLE);
        }
        return *this;
    }
    ~Owned() { reset(); }
    void reset() {
        if (m_h != VK_NULL_HANDLE) Destroy(m_dev, m_h, nullptr);
        m_h = VK_NULL_HANDLE;
    }
    T get() const { return m_h; }
    operator T() const { return m_h; }

private:
    VkDevice m_dev = VK_NULL_HANDLE;
    T m_h = VK_NULL_HANDLE;
};

using VBuffer = Owned<VkBuffer, vkDestroyBuffer>;
using VMemory = Owned<VkDeviceMemory, vkFreeMemory>;
using VImage = Owned<VkImage, vkDestroyImage>;
using VView = Owned<VkImageView, vkDestroyImageView>;
using VSampler = Owned<VkSampler, vkDestroySampler>;
using VShader = Owned<VkShaderModule, vkDestroyShaderModule>;
using VPipeline = Owned<VkPipeline, vkDestroyPipeline>;
using VPipeLayout = Owned<VkPipelineLayout, vkDestroyPipelineLayout>;
using VSetLayout = Owned<VkDescriptorSetLayout, vkDestroyDescriptorSetLayout>;
using VDescPool = Owned<VkDescriptorPool, vkDestroyDescriptorPool>;
using VRenderPass = Owned<VkRenderPass, vkDestroyRenderPass>;
using VFramebuffer = Owned<VkFramebuffer, vkDestroyFramebuffer>;
using VCmdPool = Owned<VkCommandPool, vkDestroyCommandPool>;
using VFence = Owned<VkFence, vkDestroyFence>;

struct GPU::Impl {
    VkInstance instance = VK_NULL_HANDLE;
    VkPhysicalDevice phys = VK_NULL_HANDLE;
    VkDevice dev = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;
    uint32_t family = 0;
    VkPhysicalDeviceMemoryProperties mem{};
    bool anisotropy = false;
    float maxAnisotropy = 1;
    std::string name;
    DeviceKind kind = DeviceKind::Other;
    // Vulkan wants submissions to one queue serialised; scenes on different workers share it.
    std::mutex queueLock;
    std::vector<std::pair<std::string, std::vector<uint32_t>>> spirv;

    // A memory type among `bits` with all of `need`, preferring one with `want` too;
    // -1 when there is none.
    int memoryType(uint32_t bits, VkMemoryPropertyFlags need, VkMemoryPropertyFlags want = 0) const;
    bool supports(VkFormat f, VkFormatFeatureFlags features) const;
    void submit(VkCommandBuffer cmd, VkFence fence);
};

// A buffer with its memory, mapped when host-visible.
struct GBuffer {
    VBuffer buf;
    VMemory mem;
    void* map = nullptr;
    VkDeviceSize size = 0;
};
// Where a buffer lives: device memory the host never sees, or host memory that stays
// mapped for the life of the buffer.
enum class Memory { Device, HostMapped };
GBuffer makeBuffer(GPU::Impl& g, VkDeviceSize size, VkBufferUsageFlags usage, Memory where);

// An image with its memory and one view over all its levels.
struct GImage {
    VImage img;
    VMemory mem;
    VView view;
    VkFormat format = VK_FORMAT_UNDEFINED;
    int w = 0, h = 0, mips = 1;
};
// Whether an image's contents outlive the render pass that writes them. A transient one
// (a multisample target resolved inside its pass) takes lazily allocated memory where the
// device has it.
enum class Contents { Kept, Transient };
// At least 1 x 1.
GImage makeImage(GPU::Impl& g, VkFormat format, int w, int h, VkImageUsageFlags usage,
                 VkSampleCountFlagBits samples = VK_SAMPLE_COUNT_1_BIT, int mips = 1,
                 Contents contents = Contents::Kept, VkImageAspectFlags aspect = VK_IMAGE_ASPECT_COLOR_BIT);

VShader makeShader(GPU::Impl& g, const std::string& entry);
