#include <gtest/gtest.h>

#include <algorithm>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "support/support.h"
#include "video/clips.h"
#include "video/writer.h"

namespace {

// A recording whose frames sit on the given slots of a 30 fps grid.
std::string recordingAt(const std::string& path, std::initializer_list<int> slots) {
    Writer w(path, 64, 128, 30, Container::QuickTime, Slots::WithGaps);
    int last = 0;
    for (int s : slots) {
        fill(w.newFrame(), Color{0.1 + 0.04 * s, 0.3, 0.5, 1});
        w.append(s);
        last = s;
    }
    w.finish(last + 1);
    return path;
}

std::string genTest(const std::string& dir, const std::vector<std::string>& extra = {}) {
    const std::string out = dir + "/rec.mov";
    std::vector<std::string> args{"gen-test", makeScreenshot(dir, 200, 400, true), out};
    args.insert(args.end(), extra.begin(), extra.end());
    const Ran r = pellmar(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return out;
}

}  // namespace

TEST(FrameCommand, VariableRateFramesFillTheGrid) {
    const std::string dir = tempDir();
    // Frames at 0, 1/30, 0.5 and 0.6 s (the first gap makes it a 30 fps recording): slots
    // 0, 1, 15, 18, gaps repeated, tail to round((0.6 + 1/30) * 30).
    const std::string rec = recordingAt(dir + "/vfr.mov", {0, 1, 15, 18});
    const Ran r = pellmar({"frame", rec, dir + "/out.mp4", "--size", "64x128"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/out.mp4  (64x128, 19 frames @ 30fps)\n");
    std::vector<long> want(19);
    for (int i = 0; i < 19; ++i) want[size_t(i)] = i;
    EXPECT_EQ(packetTimes(dir + "/out.mp4"), want);
    EXPECT_EQ(probe(dir + "/out.mp4", "format", "duration")["duration"], "0.633333");
    EXPECT_TRUE(decodesCleanly(dir + "/out.mp4"));
}

TEST(FrameCommand, FramesThatRoundToATakenSlotAreDropped) {
    const std::string dir = tempDir();
    const std::string rec = dir + "/fast.mp4";
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=64x128:rate=120 -frames:v 3 -c:v libx264 " + rec));
    const Ran r = pellmar({"frame", rec, dir + "/out.mp4", "--size", "64x128"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 120 fps is outside every standard rate and held to 60: slots 0, 1 (0.5), 1 (dropped).
    EXPECT_EQ(r.out, "saved " + dir + "/out.mp4  (64x128, 2 frames @ 60fps)\n");
}

TEST(FrameCommand, ThreeShapesInOnePass) {
    const std::string dir = tempDir();
    const std::string rec = genTest(dir, {"--seconds", "1", "--vfr"});
    const Ran r = pellmar({"frame", rec, "--out", dir + "/v.mp4", "96x160", "full", "--out", dir + "/h.mp4", "160x96",
                           "full", "--out", dir + "/s.mp4", "128x128", "closeup", "--theme", "light"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/v.mp4  (96x160, 30 frames @ 30fps, island tidied)\n" + "saved " + dir +
                         "/h.mp4  (160x96, 30 frames @ 30fps, island tidied)\n" + "saved " + dir +
                         "/s.mp4  (128x128, 30 frames @ 30fps, island tidied)\n");
    // The encoder's settings are the writer's own tests' business; here each file is whole.
    for (const char* f : {"/v.mp4", "/h.mp4", "/s.mp4"}) {
        EXPECT_EQ(probe(dir + f, "v:0", "nb_frames")["nb_frames"], "30");
        EXPECT_TRUE(decodesCleanly(dir + f));
    }
    EXPECT_EQ(probe(dir + "/s.mp4", "v:0", "width")["width"], "128");
}

// More outputs than cores take turns on them: each must still draw every frame once, in
// order.
TEST(FrameCommand, EveryOutputDrawsEveryFrameInOrder) {
    const std::string dir = tempDir();
    const std::string rec = recordingAt(dir + "/rec.mov", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    const std::vector<std::pair<int, int>> sizes{{96, 160}, {160, 96}, {128, 128}, {64, 128}, {128, 64}};
    std::vector<std::string> args{"frame", rec};
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
        args.insert(args.end(), {"--out", dir + "/" + std::to_string(i) + ".mp4",
                                 std::to_string(w) + "x" + std::to_string(h), "full"});
    }
    const Ran r = pellmar(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
        const auto frames = rgbFrames(dir + "/" + std::to_string(i) + ".mp4", w, h);
        ASSERT_EQ(frames.size(), 12u) << i;
        // The recording gets redder frame by frame; the screen's middle shows it.
        const size_t middle = (size_t(h / 2) * size_t(w) + size_t(w / 2)) * 3;
        for (size_t k = 1; k < frames.size(); ++k)
            EXPECT_GT(frames[k][middle], frames[k - 1][middle] + 4) << "output " << i << ", frame " << k;
    }
}

TEST(FrameCommand, StartAndMaxChooseTheStretch) {
    const std::string dir = tempDir();
    const std::string rec = genTest(dir, {"--seconds", "2"});
    Ran r = pellmar({"frame", rec, dir + "/a.mp4", "--size", "64x128", "--start", "0.5", "--max", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/a.mp4  (64x128, 30 frames @ 30fps, island tidied)\n");
    r = pellmar({"frame", rec, dir + "/b.mp4", "--size", "64x128", "--start", "1.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/b.mp4  (64x128, 15 frames @ 30fps, island tidied)\n");
    r = pellmar({"frame", rec, dir + "/c.mp4", "--size", "64x128", "--start", "100"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no frames in range (start 100.0s, length 60.0s)\n");
    r = pellmar({"frame", rec, dir + "/c.mp4", "--size", "64x128", "--start", "2.5", "--max", "2.5"});
    EXPECT_EQ(r.err, "no frames in range (start 2.5s, length 2.5s)\n");
}

TEST(FrameCommand, PhoneRecordingHevcRotatedWithSound) {
    const std::string dir = tempDir();
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i testsrc2=size=128x64:rate=30000/1001 -f lavfi -i sine=f=440 -t 0.5 "
               "-c:v libx265 -x265-params log-level=none -tag:v hvc1 -c:a aac " +
               dir + "/plain.mp4"));
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=90 " + dir + "/phone.mov"));
    const Ran r = pellmar({"frame", dir + "/phone.mov", dir + "/out.mp4", "--size", "64x128"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/out.mp4  (64x128, 15 frames @ 30fps)\n");
    EXPECT_EQ(audioStreams(dir + "/out.mp4"), 0);
    EXPECT_TRUE(decodesCleanly(dir + "/out.mp4"));
}

TEST(FrameCommand, ArgumentErrorsAndOddSizes) {
    const std::string dir = tempDir();
    const std::string rec = recordingAt(dir + "/r.mov", {0, 1});
    Ran r = pellmar({"frame", rec});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no output given (out path or --out)\n");
    // Two outputs of one path would leave one file behind two "saved" lines.
    r = pellmar({"frame", rec, dir + "/./o.mp4", "--size", "64x128", "--out", dir + "/o.mp4", "128x64", "full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "two outputs write the same file: " + dir + "/./o.mp4\n");
    EXPECT_FALSE(exists(dir + "/o.mp4"));
    r = pellmar({"frame", rec, dir + "/o.mp4", "--size", "1081x1920"});
    EXPECT_EQ(r.err, "bad --size: 1081x1920  (video wants even sides, e.g. 1080x1920)\n");
    r = pellmar({"frame", rec, "--out", dir + "/a.mp4", "64x128", "full", "--out", dir + "/b.mp4", "63x128", "spin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "bad --size: 63x128  (video wants even sides, e.g. 1080x1920)\n");
    EXPECT_FALSE(exists(dir + "/a.mp4"));
}

// A recording whose index at the end is cut off has no readable track. (Missing files,
// text and sound-only files are the reader's own tests.)
TEST(FrameCommand, CutOffIndexEndsWithOneLine) {
    const std::string dir = tempDir();
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=64x128:rate=30 -t 1 -c:v libx264 " + dir + "/tail.mp4"));
    const std::string tail = readFile(dir + "/tail.mp4");
    writeFile(dir + "/cut2.mp4", tail.substr(0, tail.size() - 200));
    const Ran r = pellmar({"frame", dir + "/cut2.mp4", dir + "/o.mp4", "--size", "64x128"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no video track in " + dir + "/cut2.mp4\n");
}

namespace {

// Centre of the pixels that pass a test, relative to the centre of those that pass another.
std::pair<double, double> offsetOf(const Image8& img, bool (*is)(const Px8&), bool (*within)(const Px8&)) {
    double sx = 0, sy = 0, wx = 0, wy = 0;
    int n = 0, m = 0;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            const Px8 p = img.at(x, y);
            if (is(p)) sx += x, sy += y, ++n;
            if (within(p)) wx += x, wy += y, ++m;
        }
    if (n == 0 || m == 0) return {0, 0};
    return {sx / n - wx / m, sy / n - wy / m};
}

bool red(const Px8& p) { return p.r > 180 && p.g < 60 && p.b < 60; }
bool redOrGrey(const Px8& p) {
    return red(p) || (p.r > 100 && p.r < 160 && std::abs(p.r - p.g) < 12 && std::abs(p.g - p.b) < 12);
}

}  // namespace

// A recording stored on its side is turned upright the way an independent reader turns
// it, for both quarter turns: a red corner lands in the same corner of the picture.
TEST(FrameCommand, SidewaysRecordingsTurnTheRightWay) {
    const std::string dir = tempDir();
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"color=c=gray:size=128x64:rate=30,drawbox=x=0:y=0:w=40:h=20:color=red:t=fill\" "
               "-frames:v 2 -c:v libx264 " +
               dir + "/plain.mp4"));
    for (const char* rotate : {"270", "90"}) {  // orientations 6 and 8
        SCOPED_TRACE(rotate);
        ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=" + rotate + " " + dir + "/r.mov"));
        ASSERT_TRUE(ffmpeg("-i " + dir + "/r.mov -frames:v 1 " + dir + "/upright.png"));
        const Ran r = pellmar({"frame", dir + "/r.mov", dir + "/v.mp4", "--size", "200x400"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(ffmpeg("-i " + dir + "/v.mp4 -frames:v 1 " + dir + "/v.png"));
        const auto [wx, wy] = offsetOf(loadCG(dir + "/upright.png"), red, redOrGrey);
        const auto [gx, gy] = offsetOf(loadCG(dir + "/v.png"), red, redOrGrey);
        EXPECT_GT(std::abs(wx), 5);
        EXPECT_GT(std::abs(wy), 5);
        EXPECT_GT(wx * gx, 0) << "left or right";
        EXPECT_GT(wy * gy, 0) << "up or down";
    }
}

// The island is tidied in the pictures, not only in the report: the recording's red dot
// is gone from the video frame and from the poster of the same moment.
TEST(FrameCommand, IslandTidyingShowsInThePicture) {
    const std::string dir = tempDir();
    const std::string rec = genTest(dir, {"--seconds", "0.2"});
    auto redPixels = [](const Image8& img) { return std::count_if(img.px.begin(), img.px.end(), red); };
    ASSERT_TRUE(ffmpeg("-i " + rec + " -frames:v 1 " + dir + "/rec.png"));
    EXPECT_GT(redPixels(loadCG(dir + "/rec.png")), 40);
    Ran r = pellmar({"frame", rec, dir + "/v.mp4", "--size", "400x800"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("island tidied"), std::string::npos);
    ASSERT_TRUE(ffmpeg("-i " + dir + "/v.mp4 -frames:v 1 " + dir + "/v.png"));
    EXPECT_EQ(redPixels(loadCG(dir + "/v.png")), 0);
    r = pellmar({"poster", rec, dir + "/p.png", "--size", "400x800"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(redPixels(loadCG(dir + "/p.png")), 0);
}
