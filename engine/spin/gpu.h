#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

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
    // SPIR-V of one entry point of the spin program (vmain, fmain, fscreen, svert, sfrag,
    // blur, compose); an unknown name is a programming error that ends the process.
    const std::vector<uint32_t>& fn(const std::string& name) const;

    struct Impl;
    Impl& impl() const { return *m; }

private:
    GPU();
    std::unique_ptr<Impl> m;
};

// The spin program's text, embedded at build time, and its entry points, one per stage.
extern const char spinShader[];
std::vector<std::string> spinStages();

// Compiles one entry point of a program text in the spin program's dialect; ends the
// process with "spin shaders: " and the compiler's log when it fails. Needs no device.
std::vector<uint32_t> compileStage(const std::string& source, const std::string& entry);
