#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>

#include "spin/gpu.h"

namespace {

std::vector<DeviceInfo> machine() {
    return {{"llvmpipe (LLVM 15)", DeviceKind::Cpu, true},
            {"Radeon RX 7600", DeviceKind::Discrete, true},
            {"Intel UHD 770", DeviceKind::Integrated, true},
            {"Broken Discrete", DeviceKind::Discrete, false}};
}

}  // namespace

TEST(PickDevice, PrefersDiscreteThenIntegratedThenCpu) {
    auto d = machine();
    EXPECT_EQ(pickDevice(d, ""), 1);
    d.erase(d.begin() + 1);
    EXPECT_EQ(pickDevice(d, ""), 1);  // integrated; the unusable discrete one never counts
    d.erase(d.begin() + 1);
    EXPECT_EQ(pickDevice(d, ""), 0);
    EXPECT_EQ(pickDevice({}, ""), -1);
}

TEST(PickDevice, ChoiceByKindIndexOrName) {
    const auto d = machine();
    EXPECT_EQ(pickDevice(d, "cpu"), 0);
    EXPECT_EQ(pickDevice(d, "CPU"), 0);
    EXPECT_EQ(pickDevice(d, "integrated"), 2);
    EXPECT_EQ(pickDevice(d, "virtual"), -1);
    EXPECT_EQ(pickDevice(d, "2"), 2);
    EXPECT_EQ(pickDevice(d, "3"), -1);  // exists but cannot draw
    EXPECT_EQ(pickDevice(d, "9"), -1);
    EXPECT_EQ(pickDevice(d, "99999999999999999999"), -1);
    EXPECT_EQ(pickDevice(d, "radeon"), 1);
    EXPECT_EQ(pickDevice(d, "LLVMpipe"), 0);
    EXPECT_EQ(pickDevice(d, "broken"), -1);
    EXPECT_EQ(pickDevice(d, "geforce"), -1);
}

// Every stage of the embedded program compiles on the CPU, with or without a device.
TEST(SpinProgram, EveryStageCompilesWithoutADevice) {
    const std::vector<std::string> stages = spinStages();
    EXPECT_EQ(stages.size(), 7u);
    for (const std::string& e : stages) {
        const std::vector<uint32_t> words = compileStage(spinShader, e);
        ASSERT_GT(words.size(), 5u) << e;
        EXPECT_EQ(words[0], 0x07230203u) << e;  // SPIR-V magic
    }
}

// These run on whatever device the machine has; CI has only lavapipe. Without a device
// GPU::shared() ends the test binary, which fails the test rather than skipping it.
TEST(GPU, OneContextForAllThreads) {
    GPU* seen[4] = {};
    std::vector<std::thread> ts;
    for (auto& s : seen) ts.emplace_back([&s] { s = &GPU::shared(); });
    for (auto& t : ts) t.join();
    for (GPU* s : seen) EXPECT_EQ(s, seen[0]);
    EXPECT_FALSE(GPU::shared().deviceName().empty());
}

TEST(GPUDeathTest, Failures) {
    EXPECT_EXIT(GPU::shared().fn("main"), testing::ExitedWithCode(1), "^spin shaders: no entry point main\n$");
    EXPECT_EXIT(compileStage("#version 450\nlayout(local_size_x = 1) in;\nvoid main() { nope = 1; }\n", "compose"),
                testing::ExitedWithCode(1), "^spin shaders: compose: .*nope");
    EXPECT_EXIT(compileStage("#version 450\n#include \"other.h\"\nvoid main() {}\n", "sfrag"),
                testing::ExitedWithCode(1), "^spin shaders: sfrag: .*other.h");
}

TEST(GPUDeathTest, NoDevice) {
    // The child process has not made its context yet, so the environment decides.
    EXPECT_EXIT(
        {
            setenv("VK_ICD_FILENAMES", "/nonexistent/icd.json", 1);
            setenv("VK_DRIVER_FILES", "/nonexistent/icd.json", 1);
            GPU::shared();
        },
        testing::ExitedWithCode(1), "^spin needs a Vulkan GPU\n$");
    EXPECT_EXIT(
        {
            setenv(gpuChoiceVar, "no-such-card", 1);
            GPU::shared();
        },
        testing::ExitedWithCode(1), "^spin needs a Vulkan GPU  \\(PELLMAR_GPU=no-such-card matches none of .+\\)\n$");
}
