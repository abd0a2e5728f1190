// One spin frame on the GPU: the passes of passes.h recorded in order on one command
// buffer, submitted, waited for and read back.
#include "spin/renderer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "base/die.h"
#include "spin/passes.h"

namespace {

const SpinSetup& checked(const SpinSetup& s) {
    if (s.w < 1 || s.h < 1 || s.studio.size() != size_t(s.w) * size_t(s.h) ||
        s.grain.size() != size_t(s.w) * size_t(s.h))
        die("spin: renderer set up with mismatched studio or grain");
    return s;
}

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

std::atomic<Composer> chosenComposer{Composer::Auto};

}  // namespace

void useComposer(Composer c) { chosenComposer = c; }

PixelBox unite(const PixelBox& a, const PixelBox& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

struct SpinRenderer::Impl {
    GPU::Impl& g;
    int w, h, texW, texH;
    VCmdPool pool;
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    VFence fence;
    bool profile = false;
    PassTimes times;
    DevicePass device;
    ShadowPass shadow;
    // The blur and compose passes, or the host doing their work.
    std::optional<BlurPass> blur;
    ReadBack frames;
    std::optional<ComposePass> compose;
    std::optional<HostCompose> host;
    // Outside this box the output buffer holds the plain backdrop; nothing is known of it
    // before the first frame.
    std::optional<PixelBox> differs;

    explicit Impl(const SpinSetup& s)
        : g(GPU::shared().impl()), w(checked(s).w), h(s.h), texW(s.texW), texH(s.texH), device(g, s), shadow(g, s),
          frames(g, s) {
        const Composer c = chosenComposer;
        const bool unsigned16 = device.colourFormat == VK_FORMAT_R16G16B16A16_UNORM;
        if (unsigned16 && (c == Composer::Host || (c == Composer::Auto && g.kind == DeviceKind::Cpu)))
            host.emplace(g, s, device, shadow);
        else {
            blur.emplace(g, s, shadow);
            compose.emplace(g, s, device, *blur, frames);
        }
        VkCommandPoolCreateInfo pi{VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO};
        pi.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT;
        pi.queueFamilyIndex = g.family;
        VkCommandPool p;
        vkCheck(vkCreateCommandPool(g.dev, &pi, nullptr, &p), "vkCreateCommandPool");
        pool = VCmdPool(g.dev, p);
        VkCommandBufferAllocateInfo ai{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO};
        ai.commandPool = pool;
        ai.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        ai.commandBufferCount = 1;
        vkCheck(vkAllocateCommandBuffers(g.dev, &ai, &cmd), "vkAllocateCommandBuffers");
        VkFenceCreateInfo fi{VK_STRUCTURE_TYPE_FENCE_CREATE_INFO};
        VkFence f;
        vkCheck(vkCreateFence(g.dev, &fi, nullptr, &f), "vkCreateFence");
        fence = VFence(g.dev, f);
        Uploads keep;
        begin();
        device.prime(cmd, keep, s);
        if (blur) blur->prime(cmd);
        if (compose) compose->prime(cmd, keep, s);
        submitAndWait("spin: GPU upload failed: ");
    }

    void begin() {
        VkCommandBufferBeginInfo bi{VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO};
        bi.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
        vkCheck(vkBeginCommandBuffer(cmd, &bi), "vkBeginCommandBuffer");
    }

    void submitAndWait(const char* failure) {
        vkCheck(vkEndCommandBuffer(cmd), "vkEndCommandBuffer");
        g.submit(cmd, fence);
        VkFence f = fence;
        const VkResult r = vkWaitForFences(g.dev, 1, &f, VK_TRUE, UINT64_MAX);
        if (r != VK_SUCCESS) die(failure + vkText(r));
        vkCheck(vkResetFences(g.dev, 1, &f), "vkResetFences");
    }
};

SpinRenderer::SpinRenderer(const SpinSetup& setup) : m(std::make_unique<Impl>(setup)) {}
SpinRenderer::~SpinRenderer() = default;

View8 SpinRenderer::staging() const { return m->frames.staging(); }

std::span<float> SpinRenderer::shadowArea(int layer) const { return m->shadow.area(layer); }

void SpinRenderer::uploadScreen(const View8& px) {
    Impl& r = *m;
    if (px.w != r.texW || px.h != r.texH)
        die("spin: screen image is " + sizeText(px.w, px.h) + ", the texture " + sizeText(r.texW, r.texH));
    const size_t rowBytes = size_t(px.w) * 4;
    const GBuffer st = makeBuffer(r.g, rowBytes * size_t(px.h), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, Memory::HostMapped);
    for (int i = 0; i < px.h; ++i)
        std::memcpy(static_cast<uint8_t*>(st.map) + rowBytes * size_t(i), px.top(i), rowBytes);
    r.begin();
    r.device.uploadScreen(r.cmd, st);
    r.submitAndWait("spin: GPU upload failed: ");
}

void SpinRenderer::render(const SpinUniforms& u, const ComposeUniforms& c, const int shadowCount[2], View8 into,
                          const PixelBox& changed, Facing front) {
    Impl& r = *m;
    if (into.w != r.w || into.h != r.h)
        die("spin: frame of " + sizeText(into.w, into.h) + " for a " + sizeText(r.w, r.h) + " scene");
    // The device pass draws the compose region's part of its target, from the corner.
    const int aw = int(std::lround(c.region.z)), ah = int(std::lround(c.region.w));
    if (aw < 1 || ah < 1 || aw > r.device.w || ah > r.device.h)
        die("spin: device area " + sizeText(aw, ah) + " for a " + sizeText(r.device.w, r.device.h) + " target");
    std::memcpy(r.device.uniforms.map, &u, sizeof u);
    const PixelBox frame{0, 0, r.w, r.h};
    const PixelBox now{std::clamp(changed.x0, 0, r.w), std::clamp(changed.y0, 0, r.h), std::clamp(changed.x1, 0, r.w),
                       std::clamp(changed.y1, 0, r.h)};
    const PixelBox work = r.differs ? unite(now, *r.differs) : frame;
    r.differs = now;
    ComposeUniforms cw = c;
    cw.work = {float(work.x0), float(work.y0), float(work.x1), float(work.y1)};
    if (r.compose) std::memcpy(r.compose->uniforms.map, &cw, sizeof cw);
    // In a profile every pass is submitted and waited for on its own, so that the host's
    // clock sees where the time goes; otherwise the frame is one submission.
    using Clock = std::chrono::steady_clock;
    auto t = Clock::now();
    auto lap = [&](double& into, bool more) {
        if (!r.profile) return;
        r.submitAndWait("spin: GPU frame failed: ");
        const auto n = Clock::now();
        into = std::chrono::duration<double>(n - t).count();
        t = n;
        if (more) r.begin();
    };
    r.begin();
    r.device.record(r.cmd, aw, ah, front);
    lap(r.times.device, true);
    r.shadow.record(r.cmd, shadowCount);
    lap(r.times.shadow, true);
    // Only the mask texels that composing the work box samples (bilinear, a texel each
    // side, and one more for rounding) are blurred.
    PixelBox blurred[2];
    for (int i = 0; i < 2; ++i) {
        const vec4& sh = i == 0 ? c.shA : c.shB;
        const double scale = sh.z, drop = sh.y;
        blurred[i] = {std::max(int(std::floor(work.x0 * scale)) - 2, 0),
                      std::max(int(std::floor(work.y0 * scale - drop)) - 2, 0),
                      std::min(int(std::ceil(work.x1 * scale)) + 2, r.shadow.w[i]),
                      std::min(int(std::ceil(work.y1 * scale - drop)) + 2, r.shadow.h[i])};
    }
    if (r.blur) r.blur->record(r.cmd, blurred);
    lap(r.times.blur, true);
    if (r.host) r.host->record(r.cmd, aw, ah);
    else r.compose->record(r.cmd, work);
    lap(r.times.compose, false);
    if (!r.profile) r.submitAndWait("spin: GPU frame failed: ");
    t = Clock::now();
    if (r.host) {
        // The copies count as composing; the host's blur as the blur.
        auto since = [&] {
            const auto n = Clock::now();
            const double s = std::chrono::duration<double>(n - t).count();
            t = n;
            return s;
        };
        r.host->blur(blurred);
        r.times.blur = since();
        r.host->compose(cw, work, r.frames);
        r.times.compose = (r.profile ? r.times.compose : 0) + since();
    }
    r.frames.copyOut(into);
    r.times.readBack = std::chrono::duration<double>(Clock::now() - t).count();
}

void SpinRenderer::profile(bool on) { m->profile = on; }
const PassTimes& SpinRenderer::lastTimes() const { return m->times; }
