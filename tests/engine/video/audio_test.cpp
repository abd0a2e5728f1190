#include <gtest/gtest.h>

#include <filesystem>

#include "support/support.h"
#include "video/clips.h"

namespace {

// A framed video of 31 frames of 64 x 128 at 30 fps: a length that 1/1000 s cannot hold.
std::string framedVideo(const std::string& dir, const std::string& name = "clip.mp4") {
    const std::string rec = dir + "/rec.mov";
    if (!exists(rec)) {
        EXPECT_EQ(pellmar({"gen-test", makeScreenshot(dir, 64, 128), rec, "--seconds", "1.04"}).status, 0);
    }
    const Ran r = pellmar({"frame", rec, dir + "/" + name, "--size", "64x128"});
    EXPECT_EQ(r.status, 0) << r.err;
    return dir + "/" + name;
}

bool onlyFile(const std::string& dir, const std::vector<std::string>& names) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        ++n;
        if (std::find(names.begin(), names.end(), e.path().filename().string()) == names.end()) return false;
    }
    return n == names.size();
}

}  // namespace

TEST(AudioCommand, LaysTheSoundUnderInPlace) {
    const std::string dir = tempDir();
    const std::string video = framedVideo(dir);
    const std::string before = readFile(video);
    // Two tracks of different rates and lengths, longer than the video: mixed and cut.
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i sine=f=440:sample_rate=44100:duration=3 -f lavfi -i "
               "sine=f=660:sample_rate=22050:duration=0.5 -map 0 -map 1 -c:a aac " +
               dir + "/two.m4a"));
    const Ran r = pellmar({"audio", video, dir + "/two.m4a"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + video + "  (+ two.m4a, 1.03s)\n");
    EXPECT_EQ(audioStreams(video), 1);
    auto a = probe(video, "a:0", "codec_name,sample_rate,channels,duration");
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["sample_rate"], "48000");
    EXPECT_EQ(a["channels"], "2");
    EXPECT_EQ(a["duration"], "1.033333");
    // The encoder's target; a pure tone may come in under it.
    const Ran rate = shell("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 " + video);
    EXPECT_NEAR(std::stod(rate.out), 192000, 40000);
    EXPECT_EQ(probe(video, "v:0", "nb_frames")["nb_frames"], "31");
    EXPECT_EQ(probe(video, "v:0", "time_base")["time_base"], "1/30");
    // The movie's own length is the picture's, exactly.
    EXPECT_EQ(probe(video, "format", "duration")["duration"], "1.033333");
    EXPECT_TRUE(decodesCleanly(video));
    EXPECT_TRUE(onlyFile(dir, {"rec.mov", "shot-64x128.png", "clip.mp4", "two.m4a"}));

    // The picture is the same bytes as before.
    const Ran p1 = shell("ffmpeg -nostdin -v error -i " + video + " -map 0:v -c copy -f md5 -");
    writeFile(dir + "/before.mp4", before);
    const Ran p0 = shell("ffmpeg -nostdin -v error -i " + dir + "/before.mp4 -map 0:v -c copy -f md5 -");
    EXPECT_EQ(p1.out, p0.out);
}

TEST(AudioCommand, ShortSoundEndsEarlyAndASecondRunReplacesTheFirst) {
    const std::string dir = tempDir();
    const std::string video = framedVideo(dir);
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=300:duration=0.4 " + dir + "/short.wav"));
    ASSERT_EQ(pellmar({"audio", video, dir + "/short.wav"}).status, 0);
    EXPECT_NEAR(std::stod(probe(video, "a:0", "duration")["duration"]), 0.4, 0.03);
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=500:duration=2 -ac 1 " + dir + "/mono.wav"));
    const Ran r = pellmar({"audio", video, dir + "/mono.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(audioStreams(video), 1);
    EXPECT_EQ(probe(video, "a:0", "channels")["channels"], "2");
    EXPECT_EQ(probe(video, "a:0", "duration")["duration"], "1.033333");
}

TEST(AudioCommand, KeepsTheTrackMatrixAndDropsOldSound) {
    const std::string dir = tempDir();
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=128x64:rate=30 -f lavfi -i sine=f=440 -t 1 -c:v libx264 -c:a aac " +
                       dir + "/plain.mp4"));
    ASSERT_TRUE(ffmpeg("-i " + dir + "/plain.mp4 -c copy -metadata:s:v:0 rotate=90 " + dir + "/rot.mp4"));
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=880:duration=5 " + dir + "/s.wav"));
    const Ran r = pellmar({"audio", dir + "/rot.mp4", dir + "/s.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(audioStreams(dir + "/rot.mp4"), 1);
    const Ran side = shell("ffprobe -v error -show_streams " + dir + "/rot.mp4 | grep -c 'rotation=90'");
    EXPECT_EQ(side.out, "1\n");
}

TEST(AudioCommand, FailuresLeaveTheVideoAsItWas) {
    const std::string dir = tempDir();
    const std::string video = framedVideo(dir);
    const std::string before = readFile(video);

    Ran r = pellmar({"audio", dir + "/none.mp4", dir + "/none.wav"});
    EXPECT_EQ(r.err, "not found: " + dir + "/none.mp4\n");
    r = pellmar({"audio", video, dir + "/none.wav"});
    EXPECT_EQ(r.err, "not found: " + dir + "/none.wav\n");

    // A sound file without sound: the video itself has only a picture.
    r = pellmar({"audio", video, video});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no sound in " + video + "\n");
    writeFile(dir + "/noise.wav", "RIFF but not really");
    r = pellmar({"audio", video, dir + "/noise.wav"});
    EXPECT_EQ(r.err, "no sound in " + dir + "/noise.wav\n");
    r = pellmar({"audio", dir + "/noise.wav", video});
    EXPECT_EQ(r.err, "no video in " + dir + "/noise.wav\n");

    // A sound that breaks off part way fails while copying, after the hidden file exists.
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440:duration=4 -c:a flac " + dir + "/s.flac"));
    std::string flac = readFile(dir + "/s.flac");
    for (size_t i = flac.size() / 3; i < flac.size(); i += 7) flac[i] = char(flac[i] ^ 0x5a);
    writeFile(dir + "/bad.flac", flac);
    r = pellmar({"audio", video, dir + "/bad.flac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("audio failed: ", 0), 0u) << r.err;

    EXPECT_EQ(readFile(video), before);
    for (const auto& e : std::filesystem::directory_iterator(dir))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}
