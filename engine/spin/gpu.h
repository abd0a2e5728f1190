#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "flat/surface.h"
#include "spin/mesh.h"
#include "spin/uniforms.h"

// The spin renderer's GPU side on Vulkan. Nothing outside gpu*.cpp sees a Vulkan type.

enum class DeviceKind { Discrete, Integrated, Virtual, Cpu, Other };

struct DeviceInfo {
    std::string name;
    DeviceKind kind = DeviceKind::Other;
    bool usable = true;  // has a queue that draws and computes
};

// The environment variable that picks the device. Unset or empty: the first usable
// discrete GPU, else integrated, else virtual, else the CPU device. "discrete",
// "integrated", "virtual" or "cpu": the first usable device of that kind. A whole
// number: that device in the loader's order. Other text: the first usable device whose
// name contains it, ignoring case.
inline constexpr const char* gpuChoiceVar = "PELLMAR_GPU";

// Index into devices of the device to use, or -1 when none fits the choice.
int pickDevice(const std::vector<DeviceInfo>& devices, const std::string& choice);

// The process's GPU context: instance, device, one queue and the compiled program.
// Created once on first use; ends the process with "spin needs a Vulkan GPU" when
// there is no usable device.
class GPU {
public:
    static GPU& shared();
    ~GPU();
    GPU(const GPU&) = delete;
    GPU& operator=(const GPU&) = delete;

    const std::string& deviceName() const;
    DeviceKind kind() const;
    // SPIR-V of one entry point of the spin program (vmain, fmain, svert, sfrag,
    // compose, blur); an unknown name is a programming error that ends the process.
    const std::vector<uint32_t>& fn(const std::string& name) const;

    struct Impl;
    Impl& impl() const { return *m; }

private:
    GPU();
    std::unique_ptr<Impl> m;
};

// Compiles one entry point of a program text in the spin program's dialect; ends the
// process with "spin shaders: " and the compiler's log when it fails.
std::vector<uint32_t> compileStage(const std::string& source, const std::string& entry);

// What the GPU side of one spin scene is built from. Images are top row first.
struct SpinSetup {
    int w = 0, h = 0;              // output size
    int regionW = 0, regionH = 0;  // device target, supersampled px
    int maskW = 0, maskH = 0;      // shadow masks
    int texW = 0, texH = 0;        // screen texture
    std::span<const SpinVtx> verts;
    std::span<const PxF> studio;   // w * h premultiplied RGBA
    std::span<const float> grain;  // w * h
    double blurSigma[2] = {0, 0};  // per shadow layer, in mask px
};

// Pipelines, targets and buffers of one spin scene. One frame at a time: every call
// waits for its GPU work before it returns. Different renderers may work at once on
// different threads.
class SpinRenderer {
public:
    static constexpr int shadowRoom = 32768;  // clip-space vertices per shadow layer

    explicit SpinRenderer(const SpinSetup& setup);
    ~SpinRenderer();
    SpinRenderer(const SpinRenderer&) = delete;
    SpinRenderer& operator=(const SpinRenderer&) = delete;

    // The w x h frame the compose pass mixes in while the hand-off weight is below 1;
    // host memory the caller draws the flat frame into.
    View8 staging() const;
    // Room for shadowRoom (x, y) clip-space vertices of one layer's triangles, y up.
    std::span<float> shadowArea(int layer) const;
    // Replaces the screen texture (texW x texH, premultiplied BGRA) and its mipmaps.
    void uploadScreen(const View8& pixels);
    // Device pass, both shadow layers with blur, compose into `into` (w x h).
    void render(const SpinUniforms& u, const ComposeUniforms& c, const int shadowCount[2], View8 into);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};
