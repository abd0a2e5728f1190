#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "flat/raster.h"
#include "support/support.h"
#include "video/clips.h"
#include "video/writer.h"

// Turning-device outputs of the frame command, on whatever Vulkan device is there (the
// CPU device on a machine without a GPU), at tiny sizes.
namespace {

using Frame = std::vector<uint8_t>;

// A 30 fps recording of n frames; consecutive frames differ strongly in colour.
std::string coloured(const std::string& path, int n) {
    Writer w(path, 64, 128, 30, Container::QuickTime);
    for (int k = 0; k < n; ++k) {
        fill(w.newFrame(), Color{0.15 + 0.7 * (k % 2), 0.15 + 0.7 * (k / 2 % 2), 0.15 + 0.7 * (k / 4 % 2), 1});
        w.append(k);
    }
    w.finish(n);
    return path;
}

double meanDiff(const Frame& a, const Frame& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// A short turn: at rest until 0.2 s (slot 12), turning until 0.5 s (slot 30), at rest
// again until 0.7 s (slot 42).
std::string shortTurn(const std::string& dir) {
    const std::string path = dir + "/look.conf";
    writeFile(path, lookWith({{"spin_timing", "0.2,0.3,0.2"}}));
    return "TREVALO_LOOK=" + path;
}

}  // namespace

// One pass over a 0.4 s recording into a flat and a turning output of the same size: the
// flat output at the recording's rate, the turning one at 60 fps and padded to the
// whole turn. The flat output is the reference for which recording frame is where.
TEST(TurningOutputs, RecordingFrameKLandsOnSlot2K) {
    const std::string dir = tempDir();
    const std::string rec = coloured(dir + "/rec.mov", 12);
    const Ran r = pellmar(
        {"frame", rec, "--out", dir + "/flat.mp4", "90x160", "full", "--out", dir + "/spin.mp4", "90x160", "spin"},
        {shortTurn(dir)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/flat.mp4  (90x160, 12 frames @ 30fps)\n" + "saved " + dir +
                         "/spin.mp4  (90x160, 42 frames @ 60fps)\n");
    for (const char* f : {"/flat.mp4", "/spin.mp4"}) EXPECT_TRUE(decodesCleanly(dir + f)) << f;
    EXPECT_EQ(probe(dir + "/spin.mp4", "v:0", "r_frame_rate")["r_frame_rate"], "60/1");
    EXPECT_EQ(probe(dir + "/spin.mp4", "format", "duration")["duration"], "0.700000");

    const std::vector<Frame> flat = rgbFrames(dir + "/flat.mp4", 90, 160), spin = rgbFrames(dir + "/spin.mp4", 90, 160);
    ASSERT_EQ(flat.size(), 12u);
    ASSERT_EQ(spin.size(), 42u);
    // Before the turn the device rests on the same full-layout frame as the flat output.
    for (int k = 0; k < 6; ++k) {
        EXPECT_LT(meanDiff(spin[size_t(2 * k)], flat[size_t(k)]), 2.0) << "slot " << 2 * k;
        EXPECT_GT(meanDiff(spin[size_t(2 * k)], flat[size_t(k + 1)]), 10.0) << "slot " << 2 * k;
        EXPECT_LT(meanDiff(spin[size_t(2 * k + 1)], spin[size_t(2 * k)]), 0.5) << "rest repeats, slot " << 2 * k + 1;
    }
    // While it turns, the slots between two recording frames show the device moving on.
    for (int s = 17; s <= 25; s += 2) EXPECT_GT(meanDiff(spin[size_t(s)], spin[size_t(s - 1)]), 0.5) << "slot " << s;
    // After the turn the recording's last frame stays on the flat frame to the end.
    EXPECT_LT(meanDiff(spin[41], flat[11]), 2.0);
}

// A recording longer than the turn plays on after it, to its own end; the close-up
// variant rests on the close-up frame before the turn and on the full one after it.
// Two turning outputs render side by side on one device.
TEST(TurningOutputs, LongerRecordingPlaysOnAfterTheTurn) {
    const std::string dir = tempDir();
    const std::string rec = coloured(dir + "/rec.mov", 30);
    const Ran r =
        pellmar({"frame", rec, "--out", dir + "/c.mp4", "90x90", "closeup_spin", "--out", dir + "/f.mp4", "90x90",
                 "full", "--out", dir + "/k.mp4", "90x90", "closeup", "--out", dir + "/s.mp4", "90x90", "spin"},
                {shortTurn(dir)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/c.mp4  (90x90, 60 frames @ 60fps)\n" + "saved " + dir +
                         "/f.mp4  (90x90, 30 frames @ 30fps)\n" + "saved " + dir +
                         "/k.mp4  (90x90, 30 frames @ 30fps)\n" + "saved " + dir +
                         "/s.mp4  (90x90, 60 frames @ 60fps)\n");
    const std::vector<Frame> c = rgbFrames(dir + "/c.mp4", 90, 90), f = rgbFrames(dir + "/f.mp4", 90, 90),
                             k = rgbFrames(dir + "/k.mp4", 90, 90), t = rgbFrames(dir + "/s.mp4", 90, 90);
    ASSERT_EQ(c.size(), 60u);
    ASSERT_EQ(f.size(), 30u);
    ASSERT_EQ(k.size(), 30u);
    ASSERT_EQ(t.size(), 60u);
    for (int i = 0; i < 6; ++i) EXPECT_LT(meanDiff(c[size_t(2 * i)], k[size_t(i)]), 1.0) << "slot " << 2 * i;
    for (int i = 0; i < 6; ++i) EXPECT_LT(meanDiff(t[size_t(2 * i)], f[size_t(i)]), 1.0) << "slot " << 2 * i;
    for (int i = 22; i < 30; ++i) {
        EXPECT_LT(meanDiff(c[size_t(2 * i)], f[size_t(i)]), 1.0) << "slot " << 2 * i;
        EXPECT_LT(meanDiff(t[size_t(2 * i)], f[size_t(i)]), 1.0) << "slot " << 2 * i;
    }
    EXPECT_GT(meanDiff(c[0], f[0]), 2.0);
    EXPECT_TRUE(decodesCleanly(dir + "/c.mp4"));
}

// Without a usable device the command fails before any output file is made.
TEST(TurningOutputs, NoDeviceFailsBeforeAnyOutput) {
    const std::string dir = tempDir();
    const std::string rec = coloured(dir + "/rec.mov", 2);
    const Ran r =
        pellmar({"frame", rec, "--out", dir + "/a.mp4", "64x128", "full", "--out", dir + "/b.mp4", "64x128", "spin"},
                {"PELLMAR_GPU=no such device"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("spin needs a Vulkan GPU", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(dir + "/a.mp4"));
    EXPECT_FALSE(exists(dir + "/b.mp4"));
}
