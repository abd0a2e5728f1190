#include <gtest/gtest.h>

#include "support/support.h"
#include "video/clips.h"

TEST(GenTest, DefaultsAndVariableRate) {
    const std::string dir = tempDir();
    const std::string shot = makeScreenshot(dir, 64, 128);
    Ran r = pellmar({"gen-test", shot, dir + "/c.mov"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/c.mov  (64x128, 180 frames @ 30fps)\n");
    EXPECT_EQ(probe(dir + "/c.mov", "format", "duration")["duration"], "6.000000");
    EXPECT_EQ(probe(dir + "/c.mov", "v:0", "time_base")["time_base"], "1/30");

    r = pellmar({"gen-test", shot, dir + "/v.mov", "--vfr"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/v.mov  (64x128, 121 frames @ 30fps)\n");
    const std::vector<long> ts = packetTimes(dir + "/v.mov");
    ASSERT_EQ(ts.size(), 121u);
    // Steady to 3 s, then gaps of three slots, ending on the last one.
    EXPECT_EQ(ts[90], 90);
    EXPECT_EQ(ts[91], 93);
    EXPECT_EQ(ts[120], 179);
    EXPECT_EQ(probe(dir + "/v.mov", "format", "duration")["duration"], "6.000000");
    EXPECT_EQ(probe(dir + "/v.mov", "v:0", "duration")["duration"], "6.000000");
    EXPECT_TRUE(decodesCleanly(dir + "/v.mov"));
}

TEST(GenTest, SecondsAndFps) {
    const std::string dir = tempDir();
    const std::string shot = makeScreenshot(dir, 64, 128);
    Ran r = pellmar({"gen-test", shot, dir + "/a.mov", "--seconds", "2.5", "--fps", "24"});
    EXPECT_EQ(r.out, "saved " + dir + "/a.mov  (64x128, 60 frames @ 24fps)\n");
    EXPECT_EQ(probe(dir + "/a.mov", "v:0", "time_base")["time_base"], "1/24");
    // Values that do not read leave the earlier ones.
    r = pellmar({"gen-test", shot, dir + "/b.mov", "--seconds", "1", "--fps", "abc", "--seconds", "x"});
    EXPECT_EQ(r.out, "saved " + dir + "/b.mov  (64x128, 30 frames @ 30fps)\n");
}

TEST(GenTest, OddScreenshotLosesOnePixel) {
    const std::string dir = tempDir();
    const Ran r = pellmar({"gen-test", makeScreenshot(dir, 65, 129), dir + "/o.mov", "--seconds", "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/o.mov  (64x128, 6 frames @ 30fps)\n");
    EXPECT_TRUE(decodesCleanly(dir + "/o.mov"));
}

TEST(GenTest, Refusals) {
    const std::string dir = tempDir();
    const std::string shot = makeScreenshot(dir, 64, 128);
    Ran r = pellmar({"gen-test", shot, dir + "/a.mov", "--fps", "0"});
    EXPECT_EQ(r.err, "--fps wants 1 to 240, got 0\n");
    r = pellmar({"gen-test", shot, dir + "/a.mov", "--seconds", "0.01"});
    EXPECT_EQ(r.err, "--seconds wants a length of 1 to 1000000 frames at 30fps, got 0.01\n");
    r = pellmar({"gen-test", dir + "/none.png", dir + "/a.mov"});
    EXPECT_EQ(r.err, "cannot read image: " + dir + "/none.png\n");
    EXPECT_FALSE(exists(dir + "/a.mov"));
}
