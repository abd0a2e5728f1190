#include <gtest/gtest.h>

#include <cmath>

#include "support/support.h"
#include "video/clips.h"
#include "video/source.h"

TEST(NormalizedFps, SnapsNearStandardRatesRoundsOthersAndTakesThePeak) {
    struct Case {
        float fps;
        double shortestGap;
        int want;
    } cases[] = {
        {29.97f, 0, 30},
        {23.976f, 0, 24},
        {59.94f, 0, 60},
        // 27.5 is as near 25 as 30, keeps 25, but is 2.5 > 2.2 away from it.
        {27.5f, 0, 28},
        {15.f, 0, 15},
        {120.f, 0, 60},
        {0.4f, 0, 1},
        // A variable recording's peak rate wins; no rate at all falls back to 60.
        {30.f, 1.0 / 60, 60},
        {20.2f, 1.0 / 30, 30},
        {0.f, 0, 60},
        {0.f, 1.0 / 24, 24},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizedFps(c.fps, c.shortestGap), c.want) << c.fps << " " << c.shortestGap;
}

// Shared with the window's thumbnails: a track turns the way the library's own reading of
// its matrix says (clockwise by minus the angle it reports).
TEST(UprightQuarterTurns, AgreeWithTheLibrarysReading) {
    for (double degrees : {0.0, 90.0, 180.0, 270.0}) {
        int32_t m[9];
        av_display_rotation_set(m, degrees);
        const int library = int(std::lround(-av_display_rotation_get(m) / 90 + 4)) % 4;
        EXPECT_EQ(uprightQuarterTurns(m[0] / 65536.0, m[1] / 65536.0, m[3] / 65536.0, m[4] / 65536.0), library)
            << degrees;
    }
    EXPECT_EQ(uprightQuarterTurns(0, 1, -1, 0), 1);  // as phones store portrait recordings
    EXPECT_EQ(uprightQuarterTurns(-1, 0, 0, 1), 0);  // mirrored
    EXPECT_EQ(uprightQuarterTurns(0.7071, 0.7071, -0.7071, 0.7071), 0);
}

TEST(OpenVideo, RotatedHevcPhoneRecording) {
    const std::string dir = tempDir();
    // Stored landscape, 29.97 fps, HEVC with sound, turned upright by its track matrix.
    // ffmpeg 5.1 writes (0, 1, -1, 0), a phone held upright, for rotate=270.
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i testsrc2=size=128x64:rate=30000/1001 -f lavfi -i sine=f=440 -t 0.5 "
               "-c:v libx265 -x265-params log-level=none -tag:v hvc1 -c:a aac " +
               dir + "/plain.mp4"));
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=270 " + dir + "/phone.mov"));
    Source s = openVideo(dir + "/phone.mov");
    EXPECT_EQ(s.W, 64);
    EXPECT_EQ(s.H, 128);
    EXPECT_EQ(s.orient, 6);
    EXPECT_EQ(s.fps, 30);

    FrameReader reader(s, 0);
    ASSERT_TRUE(reader.next());
    Image8 frame;
    reader.picture(frame);
    EXPECT_EQ(frame.w, 128);  // frames stay in stored orientation
    EXPECT_EQ(frame.h, 64);
    EXPECT_EQ(frame.px[0].a, 255);
    int n = 1;
    while (reader.next()) ++n;
    EXPECT_EQ(n, 15);

    // The other quarter turn and the half turn.
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=90 " + dir + "/left.mov"));
    EXPECT_EQ(openVideo(dir + "/left.mov").orient, 8);
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=180 " + dir + "/down.mov"));
    const Source down = openVideo(dir + "/down.mov");
    EXPECT_EQ(down.orient, 3);
    EXPECT_EQ(down.W, 128);
}

namespace {

// Every frame of a recording from its start, as decoded.
std::vector<Image8> allFrames(Source& s) {
    std::vector<Image8> frames;
    FrameReader reader(s, 0);
    while (reader.next()) reader.picture(frames.emplace_back());
    return frames;
}

}  // namespace

// A start between two frames shows the frame on screen at that moment, also in files
// without an index, where a seek lands near the time rather than on a key frame.
TEST(FrameReader, StartShowsTheFrameOnScreenThen) {
    const std::string dir = tempDir();
    // 2 s at 15 fps with B-frames and a key frame every second.
    const std::string enc = "-f lavfi -i testsrc2=size=64x64:rate=15 -t 2 -c:v libx264 -g 15 -bf 2 ";
    ASSERT_TRUE(ffmpeg(enc + dir + "/c.mp4"));
    ASSERT_TRUE(ffmpeg(enc + dir + "/c.ts"));
    for (const char* name : {"/c.mp4", "/c.ts"}) {
        Source s = openVideo(dir + name);
        const std::vector<Image8> all = allFrames(s);
        ASSERT_EQ(all.size(), 30u) << name;
        // start -> the frame on screen: 7/15 <= 0.5 < 8/15; 1.0 is frame 15 itself;
        // 1.3 is in the middle of the second group of pictures; 1.99 is within the last
        // frame's display time.
        for (const auto& [start, want] : {std::pair{0.5, 7}, {1.0, 15}, {1.3, 19}, {1.99, 29}, {0.01, 0}}) {
            FrameReader reader(s, start);
            ASSERT_TRUE(reader.next()) << name << " at " << start;
            EXPECT_NEAR(reader.seconds(), want / 15.0, 1e-6) << name << " at " << start;
            Image8 first;
            reader.picture(first);
            EXPECT_TRUE(first.px == all[size_t(want)].px) << name << " at " << start;
            int n = 1;
            while (reader.next()) ++n;
            EXPECT_EQ(n, 30 - want) << name << " at " << start;
        }
        // Only a start at or past the end of the last frame finds nothing.
        EXPECT_FALSE(FrameReader(s, 2.0).next()) << name;
        EXPECT_FALSE(FrameReader(s, 100.0).next()) << name;
    }
}

TEST(OpenVideoDeathTest, MissingFile) {
    EXPECT_EXIT(openVideo("/nonexistent/clip.mov"), testing::ExitedWithCode(1),
                "^recording not found: /nonexistent/clip.mov\n$");
}

TEST(OpenVideoDeathTest, NotAVideo) {
    const std::string dir = tempDir();
    writeFile(dir + "/notes.mov", "these are notes, not a recording\n");
    EXPECT_EXIT(openVideo(dir + "/notes.mov"), testing::ExitedWithCode(1), "^no video track in .*/notes.mov\n$");
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440 -t 0.2 " + dir + "/sound.m4a"));
    EXPECT_EXIT(openVideo(dir + "/sound.m4a"), testing::ExitedWithCode(1), "^no video track in .*/sound.m4a\n$");
    // Lists that name other files are not followed, though what they name is a recording.
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=64x64:rate=10 -t 1 " + dir + "/clip.ts"));
    EXPECT_EQ(openVideo(dir + "/clip.ts").fps, 10);
    writeFile(dir + "/list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nclip.ts\n#EXT-X-ENDLIST\n");
    writeFile(dir + "/list.txt", "ffconcat version 1.0\nfile 'clip.ts'\n");
    for (const char* name : {"/list.m3u8", "/list.txt"})
        EXPECT_EXIT(openVideo(dir + name), testing::ExitedWithCode(1),
                    std::string("^no video track in .*") + name + "\n$");
}

// Pictures open as one-stream videos; none of them is a recording.
TEST(OpenVideoDeathTest, PicturesAreNotRecordings) {
    const std::string dir = tempDir();
    const std::string pic = "-f lavfi -i testsrc2=size=64x64:rate=10 ";
    ASSERT_TRUE(ffmpeg(pic + "-frames:v 1 " + dir + "/shot.png"));
    ASSERT_TRUE(ffmpeg(pic + "-frames:v 1 " + dir + "/photo.jpg"));
    ASSERT_TRUE(ffmpeg(pic + "-frames:v 4 " + dir + "/moving.gif"));
    // A picture in a movie file, and cover art beside a sound.
    ASSERT_TRUE(ffmpeg(pic + "-frames:v 1 -c:v png " + dir + "/one.mov"));
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440:duration=0.2 -i " + dir +
                       "/photo.jpg -map 0 -map 1 -c:a aac -c:v copy " + "-disposition:v:0 attached_pic " + dir +
                       "/song.m4a"));
    for (const char* name : {"/shot.png", "/photo.jpg", "/moving.gif", "/one.mov", "/song.m4a"})
        EXPECT_EXIT(openVideo(dir + name), testing::ExitedWithCode(1),
                    std::string("^no video track in .*") + name + "\n$");
    // Several pictures of a still-image codec in a movie file are a recording.
    ASSERT_TRUE(ffmpeg(pic + "-frames:v 3 -c:v png " + dir + "/three.mov"));
    EXPECT_EQ(openVideo(dir + "/three.mov").fps, 10);
}
