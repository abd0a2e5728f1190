#include <gtest/gtest.h>

#include <sstream>

#include "flat/palette.h"
#include "flat/raster.h"
#include "support/support.h"
#include "video/clips.h"
#include "video/writer.h"

namespace {

// A 64 x 128 clip of n frames at fps, each a flat colour that changes with the slot.
std::string writeClip(const std::string& path, int n, int fps, Container c = Container::MP4) {
    Writer w(path, 64, 128, fps, c);
    for (int i = 0; i < n; ++i) {
        fill(w.newFrame(), Color{0.2 + 0.6 * i / n, 0.5, 0.3, 1});
        w.append(i);
    }
    w.finish(n);
    return path;
}

}  // namespace

TEST(Writer, H264HighCabacBt709AtTheFrameRate) {
    const std::string path = writeClip(tempDir() + "/w.mp4", 45, 30);
    auto v = probe(path, "v:0",
                   "codec_name,profile,pix_fmt,width,height,time_base,nb_frames,duration,"
                   "color_range,color_space,color_primaries,color_transfer");
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["profile"], "High");
    EXPECT_EQ(v["pix_fmt"], "yuv420p");
    EXPECT_EQ(v["width"], "64");
    EXPECT_EQ(v["height"], "128");
    EXPECT_EQ(v["time_base"], "1/30");
    EXPECT_EQ(v["nb_frames"], "45");
    EXPECT_EQ(v["duration"], "1.500000");
    EXPECT_EQ(v["color_range"], "tv");
    EXPECT_EQ(v["color_space"], "bt709");
    EXPECT_EQ(v["color_primaries"], "bt709");
    EXPECT_EQ(v["color_transfer"], "bt709");
    EXPECT_EQ(probe(path, "format", "duration")["duration"], "1.500000");
    EXPECT_EQ(probe(path, "format", "format_name")["format_name"], "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_TRUE(decodesCleanly(path));

    // The entropy coder and the key frame interval, read from the stream itself.
    const Ran pps = shell("ffmpeg -nostdin -i " + path +
                          " -c copy -bsf:v trace_headers -f null - 2>&1"
                          " | grep entropy_coding_mode_flag | sed 's/.* = //' | sort -u");
    EXPECT_EQ(pps.out, "1\n");  // CABAC
    // Key frames at least once a second (scene cuts may add more).
    const Ran keys = shell("ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 " + path +
                           " | grep K | cut -d, -f1 | sort -n");
    std::istringstream in(keys.out);
    long prev = -1, k = 0, widest = 0;
    while (in >> k) {
        if (prev < 0) EXPECT_EQ(k, 0);
        else widest = std::max(widest, k - prev);
        prev = k;
    }
    EXPECT_LE(widest, 30);
    EXPECT_GE(45 - prev, 1);
    EXPECT_LE(45 - prev, 30);
    // The rate's floor, in the encoder's own record of its settings.
    EXPECT_NE(readFile(path).find("bitrate=8000 "), std::string::npos);
}

TEST(Writer, ColoursSurviveTheRoundTrip) {
    const std::string path = tempDir() + "/c.mp4";
    {
        Writer w(path, 64, 64, 30, Container::MP4);
        for (int i = 0; i < 3; ++i) {
            fill(w.newFrame(), Color{200 / 255.0, 60 / 255.0, 30 / 255.0, 1});
            w.append(i);
        }
        w.finish(3);
    }
    // ffmpeg reads the BT.709 tags and converts back; a wrong matrix or range is off by tens.
    const Ran px = shell("ffmpeg -nostdin -v error -i " + path +
                         " -frames:v 1 -vf crop=8:8:28:28,scale=1:1 -f rawvideo -pix_fmt rgb24 - | od -An -tu1");
    int r = 0, g = 0, b = 0;
    ASSERT_EQ(sscanf(px.out.c_str(), "%d %d %d", &r, &g, &b), 3) << px.out << px.err;
    EXPECT_NEAR(r, 200, 3);
    EXPECT_NEAR(g, 60, 3);
    EXPECT_NEAR(b, 30, 3);
}

TEST(Writer, ReplacesAnExistingFileAndRepeatsFrames) {
    const std::string path = tempDir() + "/r.mp4";
    writeFile(path, std::string(100000, 'x'));
    {
        Writer w(path, 64, 128, 30, Container::MP4);
        EXPECT_FALSE(w.repeat(0));  // nothing drawn yet
        fill(w.newFrame(), Color{1, 0, 0, 1});
        w.append(0);
        for (int i = 1; i < 90; ++i) EXPECT_TRUE(w.repeat(i));
        w.finish(90);
    }
    EXPECT_EQ(probe(path, "v:0", "nb_frames")["nb_frames"], "90");
    EXPECT_EQ(probe(path, "format", "duration")["duration"], "3.000000");
    EXPECT_TRUE(decodesCleanly(path));
}

TEST(Writer, GapsKeepTheirTimes) {
    const std::string path = tempDir() + "/g.mov";
    {
        Writer w(path, 64, 128, 30, Container::QuickTime, Slots::WithGaps);
        for (int slot : {0, 15, 18}) {
            fill(w.newFrame(), Color{0.1 * slot / 6, 0.2, 0.3, 1});
            w.append(slot);
        }
        w.finish(19);
    }
    // Times in slots: the track's time scale is the frame rate.
    EXPECT_EQ(packetTimes(path), (std::vector<long>{0, 15, 18}));
    EXPECT_EQ(shell("head -c 12 " + path + " | tail -c 4").out, "qt  ");
    EXPECT_EQ(probe(path, "v:0", "duration")["duration"], "0.633333");
    EXPECT_EQ(probe(path, "format", "duration")["duration"], "0.633333");
}

TEST(WriterDeathTest, FolderThatDoesNotExist) {
    EXPECT_EXIT(Writer("/nonexistent/dir/x.mp4", 64, 64, 30, Container::MP4), testing::ExitedWithCode(1),
                "^cannot write /nonexistent/dir/x.mp4: No such file or directory\n$");
}

TEST(WriterDeathTest, OddSidesAreRefusedBeforeTheFileIsTouched) {
    const std::string path = tempDir() + "/odd.mp4";
    writeFile(path, "keep");
    EXPECT_EXIT(Writer(path, 65, 64, 30, Container::MP4), testing::ExitedWithCode(1),
                "^cannot write .*/odd.mp4: H.264 in 4:2:0 wants even sides, not 65x64\n$");
    EXPECT_EQ(readFile(path), "keep");
}
