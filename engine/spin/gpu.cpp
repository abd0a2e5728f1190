#include "spin/gpu.h"

#include <shaderc/shaderc.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/die.h"
#include "spin/gpu_vk.h"

extern const char spinProgramHeader[];

std::string vkText(VkResult r) {
    switch (r) {
    case VK_ERROR_OUT_OF_HOST_MEMORY: return "out of host memory";
    case VK_ERROR_OUT_OF_DEVICE_MEMORY: return "out of device memory";
    case VK_ERROR_INITIALIZATION_FAILED: return "initialization failed";
    case VK_ERROR_DEVICE_LOST: return "device lost";
    case VK_ERROR_INCOMPATIBLE_DRIVER: return "incompatible driver";
    case VK_ERROR_FEATURE_NOT_PRESENT: return "feature not present";
    case VK_ERROR_EXTENSION_NOT_PRESENT: return "extension not present";
    case VK_ERROR_FORMAT_NOT_SUPPORTED: return "format not supported";
    case VK_TIMEOUT: return "timeout";
    default: return "VkResult " + std::to_string(int(r));
    }
}

void vkCheck(VkResult r, const char* what) {
    if (r != VK_SUCCESS) die(std::string(what) + ": " + vkText(r));
}

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower((unsigned char)c));
    return s;
}

DeviceKind kindOf(VkPhysicalDeviceType t) {
    switch (t) {
    case VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU: return DeviceKind::Discrete;
    case VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU: return DeviceKind::Integrated;
    case VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU: return DeviceKind::Virtual;
    case VK_PHYSICAL_DEVICE_TYPE_CPU: return DeviceKind::Cpu;
    default: return DeviceKind::Other;
    }
}

struct Entry {
    const char* name;
    const char* macro;
    shaderc_shader_kind kind;
};
constexpr Entry entries[] = {
    {"vmain", "VMAIN", shaderc_vertex_shader},       {"fmain", "FMAIN", shaderc_fragment_shader},
    {"svert", "SVERT", shaderc_vertex_shader},       {"sfrag", "SFRAG", shaderc_fragment_shader},
    {"compose", "COMPOSE", shaderc_compute_shader},  {"blur", "BLUR", shaderc_compute_shader},
    {"fscreen", "FSCREEN", shaderc_fragment_shader},
};

// The program's one include is the header it shares with the engine.
shaderc_include_result* resolveInclude(void*, const char* requested, int, const char*, size_t) {
    auto* r = new shaderc_include_result{};
    static const std::string header = "program.h";
    if (requested == header) {
        r->source_name = header.c_str();
        r->source_name_length = header.size();
        r->content = spinProgramHeader;
        r->content_length = std::strlen(spinProgramHeader);
    } else {
        static const char* missing = "only program.h can be included";
        r->content = missing;
        r->content_length = std::strlen(missing);
    }
    return r;
}
void releaseInclude(void*, shaderc_include_result* r) { delete r; }

}  // namespace

int pickDevice(const std::vector<DeviceInfo>& devices, const std::string& choice) {
    auto firstOf = [&](DeviceKind k) {
        for (size_t i = 0; i < devices.size(); ++i)
            if (devices[i].usable && devices[i].kind == k) return int(i);
        return -1;
    };
    const std::string c = lower(choice);
    if (c.empty()) {
        for (DeviceKind k :
             {DeviceKind::Discrete, DeviceKind::Integrated, DeviceKind::Virtual, DeviceKind::Cpu, DeviceKind::Other}) {
            const int i = firstOf(k);
            if (i >= 0) return i;
        }
        return -1;
    }
    if (c == "discrete") return firstOf(DeviceKind::Discrete);
    if (c == "integrated") return firstOf(DeviceKind::Integrated);
    if (c == "virtual") return firstOf(DeviceKind::Virtual);
    if (c == "cpu") return firstOf(DeviceKind::Cpu);
    if (std::all_of(c.begin(), c.end(), [](char ch) { return ch >= '0' && ch <= '9'; }) && c.size() < 6) {
        const size_t i = std::stoul(c);
        return i < devices.size() && devices[i].usable ? int(i) : -1;
    }
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].usable && lower(devices[i].name).find(c) != std::string::npos) return int(i);
    return -1;
}

std::vector<std::string> spinStages() {
    std::vector<std::string> names;
    for (const Entry& e : entries) names.push_back(e.name);
    return names;
}

std::vector<uint32_t> compileStage(const std::string& source, const std::string& entry) {
    const Entry* e = nullptr;
    for (const Entry& x : entries)
        if (entry == x.name) e = &x;
    if (!e) die("spin shaders: no entry point " + entry);

    shaderc_compiler_t compiler = shaderc_compiler_initialize();
    shaderc_compile_options_t opts = shaderc_compile_options_initialize();
    if (!compiler || !opts) die("spin shaders: cannot start the compiler");
    shaderc_compile_options_add_macro_definition(opts, e->macro, std::strlen(e->macro), "1", 1);
    shaderc_compile_options_set_target_env(opts, shaderc_target_env_vulkan, shaderc_env_version_vulkan_1_1);
    shaderc_compile_options_set_optimization_level(opts, shaderc_optimization_level_performance);
    shaderc_compile_options_set_include_callbacks(opts, resolveInclude, releaseInclude, nullptr);
    shaderc_compilation_result_t r =
        shaderc_compile_into_spv(compiler, source.data(), source.size(), e->kind, "spin.glsl", "main", opts);
    if (shaderc_result_get_compilation_status(r) != shaderc_compilation_status_success) {
        std::string log = shaderc_result_get_error_message(r);
        while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
        // One line: the compiler's first complaint is the useful one.
        die("spin shaders: " + entry + ": " + log.substr(0, log.find('\n')));
    }
    const size_t n = shaderc_result_get_length(r) / 4;
    std::vector<uint32_t> words(n);
    std::memcpy(words.data(), shaderc_result_get_bytes(r), n * 4);
    shaderc_result_release(r);
    shaderc_compile_options_release(opts);
    shaderc_compiler_release(compiler);
    return words;
}

GPU& GPU::shared() {
    // Never destroyed: workers may still be using it when the process ends.
    static std::once_flag once;
    static GPU* gpu = nullptr;
    std::call_once(once, [] { gpu = new GPU(); });
    return *gpu;
}

GPU::GPU() : m(std::make_unique<Impl>()) {
    const char* noGPU = "spin needs a Vulkan GPU";
    VkApplicationInfo app{VK_STRUCTURE_TYPE_APPLICATION_INFO};
    app.pApplicationName = "pellmar";
    app.apiVersion = VK_API_VERSION_1_1;
    VkInstanceCreateInfo ici{VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO};
    ici.pApplicationInfo = &app;
    if (vkCreateInstance(&ici, nullptr, &m->instance) != VK_SUCCESS) die(noGPU);

    uint32_t count = 0;
    vkEnumeratePhysicalDevices(m->instance, &count, nullptr);
    std::vector<VkPhysicalDevice> phys(count);
    if (count) vkEnumeratePhysicalDevices(m->instance, &count, phys.data());
    std::vector<DeviceInfo> infos;
    std::vector<uint32_t> families;
    for (VkPhysicalDevice p : phys) {
        VkPhysicalDeviceProperties props;
        vkGetPhysicalDeviceProperties(p, &props);
        uint32_t nf = 0;
        vkGetPhysicalDeviceQueueFamilyProperties(p, &nf, nullptr);
        std::vector<VkQueueFamilyProperties> qf(nf);
        vkGetPhysicalDeviceQueueFamilyProperties(p, &nf, qf.data());
        uint32_t fam = UINT32_MAX;
        for (uint32_t i = 0; i < nf; ++i)
            if ((qf[i].queueFlags & VK_QUEUE_GRAPHICS_BIT) && (qf[i].queueFlags & VK_QUEUE_COMPUTE_BIT)) {
                fam = i;
                break;
            }
        const bool usable = fam != UINT32_MAX && props.apiVersion >= VK_API_VERSION_1_1;
        infos.push_back({props.deviceName, kindOf(props.deviceType), usable});
        families.push_back(fam);
    }
    const char* env = std::getenv(gpuChoiceVar);
    const std::string choice = env ? env : "";
    const int pick = pickDevice(infos, choice);
    if (pick < 0) {
        if (choice.empty() || infos.empty()) die(noGPU);
        std::string names;
        for (const DeviceInfo& d : infos) names += (names.empty() ? "" : "·") + d.name;
        die(std::string(noGPU) + "  (" + gpuChoiceVar + "=" + choice + " matches none of " + names + ")");
    }
    m->phys = phys[size_t(pick)];
    m->family = families[size_t(pick)];
    m->name = infos[size_t(pick)].name;
    m->kind = infos[size_t(pick)].kind;
    vkGetPhysicalDeviceMemoryProperties(m->phys, &m->mem);
    VkPhysicalDeviceFeatures have{};
    vkGetPhysicalDeviceFeatures(m->phys, &have);
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(m->phys, &props);
    // The CPU device's anisotropic filtering leaves a broken one-pixel line through the
    // screen at some angles and zooms (seen mid-travel in close-up clips); plain
    // trilinear filtering there, the real thing on GPUs.
    m->anisotropy = have.samplerAnisotropy && m->kind != DeviceKind::Cpu;
    m->maxAnisotropy = std::min(16.f, props.limits.maxSamplerAnisotropy);

    const float priority = 1;
    VkDeviceQueueCreateInfo qci{VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO};
    qci.queueFamilyIndex = m->family;
    qci.queueCount = 1;
    qci.pQueuePriorities = &priority;
    VkPhysicalDeviceFeatures want{};
    want.samplerAnisotropy = have.samplerAnisotropy;
    VkDeviceCreateInfo dci{VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO};
    dci.queueCreateInfoCount = 1;
    dci.pQueueCreateInfos = &qci;
    dci.pEnabledFeatures = &want;
    if (vkCreateDevice(m->phys, &dci, nullptr, &m->dev) != VK_SUCCESS) die(noGPU);
    vkGetDeviceQueue(m->dev, m->family, 0, &m->queue);
    if (!m->queue) die(noGPU);

    for (const Entry& e : entries) m->spirv.push_back({e.name, compileStage(spinShader, e.name)});
}

GPU::~GPU() {
    if (m->dev) {
        vkDeviceWaitIdle(m->dev);
        vkDestroyDevice(m->dev, nullptr);
    }
    if (m->instance) vkDestroyInstance(m->instance, nullptr);
}

const std::string& GPU::deviceName() const { return m->name; }
DeviceKind GPU::kind() const { return m->kind; }

const std::vector<uint32_t>& GPU::fn(const std::string& name) const {
    for (const auto& [n, words] : m->spirv)
        if (n == name) return words;
    die("spin shaders: no entry point " + name);
}

int GPU::Impl::memoryType(uint32_t bits, VkMemoryPropertyFlags need, VkMemoryPropertyFlags want) const {
    int fallback = -1;
    for (uint32_t i = 0; i < mem.memoryTypeCount; ++i) {
        if (!(bits & (1u << i))) continue;
        const VkMemoryPropertyFlags f = mem.memoryTypes[i].propertyFlags;
        if ((f & need) != need) continue;
        if ((f & want) == want) return int(i);
        if (fallback < 0) fallback = int(i);
    }
    return fallback;
}

bool GPU::Impl::supports(VkFormat f, VkFormatFeatureFlags features) const {
    VkFormatProperties p;
    vkGetPhysicalDeviceFormatProperties(phys, f, &p);
    return (p.optimalTilingFeatures & features) == features;
}

void GPU::Impl::submit(VkCommandBuffer cmd, VkFence fence) {
    VkSubmitInfo si{VK_STRUCTURE_TYPE_SUBMIT_INFO};
    si.commandBufferCount = 1;
    si.pCommandBuffers = &cmd;
    std::lock_guard lock(queueLock);
    vkCheck(vkQueueSubmit(queue, 1, &si, fence), "vkQueueSubmit");
}

namespace {

VMemory allocate(GPU::Impl& g, VkMemoryRequirements req, VkMemoryPropertyFlags need, VkMemoryPropertyFlags want,
                 const char* what) {
    const int type = g.memoryType(req.memoryTypeBits, need, want);
    if (type < 0) die(std::string(what) + ": no suitable memory type");
    VkMemoryAllocateInfo ai{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO};
    ai.allocationSize = req.size;
    ai.memoryTypeIndex = uint32_t(type);
    VkDeviceMemory mem;
    vkCheck(vkAllocateMemory(g.dev, &ai, nullptr, &mem), "vkAllocateMemory");
    return VMemory(g.dev, mem);
}

}  // namespace

GBuffer makeBuffer(GPU::Impl& g, VkDeviceSize size, VkBufferUsageFlags usage, Memory where) {
    const bool host = where == Memory::HostMapped;
    GBuffer b;
    b.size = std::max<VkDeviceSize>(size, 4);
    VkBufferCreateInfo bi{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
    bi.size = b.size;
    bi.usage = usage;
    VkBuffer buf;
    vkCheck(vkCreateBuffer(g.dev, &bi, nullptr, &buf), "vkCreateBuffer");
    b.buf = VBuffer(g.dev, buf);
    VkMemoryRequirements req;
    vkGetBufferMemoryRequirements(g.dev, buf, &req);
    b.mem = host ? allocate(g, req, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
                            VK_MEMORY_PROPERTY_HOST_CACHED_BIT, "buffer")
                 : allocate(g, req, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, 0, "buffer");
    vkCheck(vkBindBufferMemory(g.dev, buf, b.mem, 0), "vkBindBufferMemory");
    if (host) vkCheck(vkMapMemory(g.dev, b.mem, 0, VK_WHOLE_SIZE, 0, &b.map), "vkMapMemory");
    return b;
}

GImage makeImage(GPU::Impl& g, VkFormat format, int w, int h, VkImageUsageFlags usage, VkSampleCountFlagBits samples,
                 int mips, Contents contents, VkImageAspectFlags aspect) {
    const bool transient = contents == Contents::Transient;
    GImage im;
    im.format = format;
    im.w = std::max(1, w);
    im.h = std::max(1, h);
    im.mips = mips;
    VkImageCreateInfo ii{VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO};
    ii.imageType = VK_IMAGE_TYPE_2D;
    ii.format = format;
    ii.extent = {uint32_t(im.w), uint32_t(im.h), 1};
    ii.mipLevels = uint32_t(mips);
    ii.arrayLayers = 1;
    ii.samples = samples;
    ii.tiling = VK_IMAGE_TILING_OPTIMAL;
    ii.usage = usage | (transient ? VK_IMAGE_USAGE_TRANSIENT_ATTACHMENT_BIT : 0);
    ii.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    VkImage img;
    vkCheck(vkCreateImage(g.dev, &ii, nullptr, &img), "vkCreateImage");
    im.img = VImage(g.dev, img);
    VkMemoryRequirements req;
    vkGetImageMemoryRequirements(g.dev, img, &req);
    // Multisample targets are resolved inside their pass: tile memory is enough where offered.
    const bool lazy = transient && g.memoryType(req.memoryTypeBits, VK_MEMORY_PROPERTY_LAZILY_ALLOCATED_BIT) >= 0;
    im.mem = lazy ? allocate(g, req, VK_MEMORY_PROPERTY_LAZILY_ALLOCATED_BIT, 0, "image")
                  : allocate(g, req, 0, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, "image");
    vkCheck(vkBindImageMemory(g.dev, img, im.mem, 0), "vkBindImageMemory");
    VkImageViewCreateInfo vi{VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO};
    vi.image = img;
    vi.viewType = VK_IMAGE_VIEW_TYPE_2D;
    vi.format = format;
    vi.subresourceRange = {aspect, 0, uint32_t(mips), 0, 1};
    VkImageView view;
    vkCheck(vkCreateImageView(g.dev, &vi, nullptr, &view), "vkCreateImageView");
    im.view = VView(g.dev, view);
    return im;
}

VShader makeShader(GPU::Impl& g, const std::string& entry) {
    const std::vector<uint32_t>& words = GPU::shared().fn(entry);
    VkShaderModuleCreateInfo si{VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO};
    si.codeSize = words.size() * 4;
    si.pCode = words.data();
    VkShaderModule mod;
    vkCheck(vkCreateShaderModule(g.dev, &si, nullptr, &mod), "vkCreateShaderModule");
    return VShader(g.dev, mod);
}
