#include <gtest/gtest.h>

#include "flat/imageio.h"
#include "support/support.h"
#include "video/clips.h"

TEST(PosterCommand, FramesOneMomentAsAPng) {
    const std::string dir = tempDir();
    const std::string rec = dir + "/rec.mov";
    ASSERT_EQ(pellmar({"gen-test", makeScreenshot(dir, 64, 128, true), rec, "--seconds", "1"}).status, 0);
    Ran r = pellmar({"poster", rec, dir + "/p.png", "--size", "101x151"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/p.png  (101x151)\n");
    const Image8 first = loadCG(dir + "/p.png");
    EXPECT_EQ(first.w, 101);
    EXPECT_EQ(first.h, 151);
    // Half a second in, the picture has moved: a different poster.
    r = pellmar({"poster", rec, dir + "/q.png", "--size", "101x151", "--start", "0.13", "--layout", "closeup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(dir + "/p.png"), readFile(dir + "/q.png"));
}

TEST(PosterCommand, RotatedRecordingIsLaidOutUpright) {
    const std::string dir = tempDir();
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=128x64:rate=30 -t 0.2 -c:v libx264 " + dir + "/plain.mp4"));
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=90 " + dir + "/rot.mp4"));
    ASSERT_EQ(pellmar({"poster", dir + "/rot.mp4", dir + "/p.png", "--size", "400x400"}).status, 0);
    // The screen of an upright recording is taller than wide: count red rows and columns.
    const Image8 img = loadCG(dir + "/p.png");
    int rows = 0, cols = 0;
    for (int y = 0; y < img.h; ++y) rows += img.at(200, y).r > 200 && img.at(200, y).g < 60;
    for (int x = 0; x < img.w; ++x) cols += img.at(x, 200).r > 200 && img.at(x, 200).g < 60;
    EXPECT_GT(rows, cols * 3 / 2);
}

TEST(PosterCommand, Refusals) {
    const std::string dir = tempDir();
    Ran r = pellmar({"poster", "only-one.mov", "--layout", "closeup_spin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "poster draws a flat frame: want --layout full·closeup\n");
    const std::string rec = dir + "/rec.mov";
    ASSERT_EQ(pellmar({"gen-test", makeScreenshot(dir, 64, 128), rec, "--seconds", "1"}).status, 0);
    // Within the last frame's display time the last frame is on screen; at its end
    // nothing is.
    r = pellmar({"poster", rec, dir + "/last.png", "--start", "0.99"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = pellmar({"poster", rec, dir + "/p.png", "--start", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "could not read a frame from " + rec + "\n");
    EXPECT_FALSE(exists(dir + "/p.png"));
}
