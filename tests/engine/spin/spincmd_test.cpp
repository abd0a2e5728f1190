#include <gtest/gtest.h>

#include "flat/imageio.h"
#include "spin/spincmd.h"
#include "support/support.h"

// The spin subcommand as a user runs it: the built engine in a child process.
namespace {

std::string sample() { return sourceDir() + "/resources/sample.png"; }

// The shipped look with a short turn, so a whole clip renders quickly on the CPU device.
std::string shortLook() {
    const std::string path = tempDir() + "/look.conf";
    writeFile(path, readFile(shippedLook()) + "\nspin_timing=\"0.05,0.2,0.05\"\n");
    return path;
}

// Width, height, frame rate and decoded frame count of a clip, as ffprobe reads them.
std::string clipShape(const std::string& path) {
    return shell(
               "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
               path + "'")
        .out;
}

}  // namespace

TEST(SpinCommand, PictureAtAnAngle) {
    const std::string out = tempDir() + "/turned.mp4";  // a picture whatever the extension
    const Ran r = pellmar({"spin", sample(), out, "--size", "90x160", "--at", "35"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + out + "  (90x160 at 35\u00b0)\n");
    const Image8 img = loadCG(out);
    EXPECT_EQ(img.w, 90);
    EXPECT_EQ(img.h, 160);

    // At 0 degrees it is still the 3-D model: the side buttons stand out of the outline,
    // which the flat frame does not draw.
    const std::string flat = tempDir() + "/flat.png", zero = tempDir() + "/zero.png";
    ASSERT_EQ(pellmar({"still", sample(), flat, "--size", "90x160"}).status, 0);
    const Ran z = pellmar({"spin", sample(), zero, "--at", "0", "--size", "90x160"});
    ASSERT_EQ(z.status, 0) << z.err;
    EXPECT_NE(loadCG(flat).px, loadCG(zero).px);
}

TEST(SpinCommand, ClipOfAStill) {
    const std::string out = tempDir() + "/clip.mp4";
    const Ran r =
        pellmar({"spin", sample(), out, "--size", "64x96", "--layout", "closeup"}, {"TREVALO_LOOK=" + shortLook()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + out + "  (64x96, 18 frames @ 60fps)\n");
    EXPECT_EQ(clipShape(out), "64,96,60/1,18\n");
}

// A recording goes through the frame command: it plays in the device from the first
// slot, at 60 fps, for the longer of itself and the turn (0.5 s at 30 fps: 30 slots).
TEST(SpinCommand, ClipOfARecording) {
    const std::string dir = tempDir();
    const std::string rec = dir + "/rec.mp4", out = dir + "/clip.mp4";
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x128:rate=30 -frames:v 15 -pix_fmt yuv420p "
                    "-c:v libx264 '" +
                    rec + "'")
                  .status,
              0);
    const Ran r = pellmar({"spin", rec, out, "--size", "64x96", "--layout", "closeup", "--theme", "light"},
                          {"TREVALO_LOOK=" + shortLook()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + out + "  (64x96, 30 frames @ 60fps)\n");
    EXPECT_EQ(clipShape(out), "64,96,60/1,30\n");
    // A recording shorter than the turn is padded to the whole turn.
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -y -i '" + rec + "' -frames:v 3 '" + dir + "/short.mp4'").status, 0);
    const Ran s = pellmar({"spin", dir + "/short.mp4", out, "--size", "64x96"}, {"TREVALO_LOOK=" + shortLook()});
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out, "saved " + out + "  (64x96, 18 frames @ 60fps)\n");
    const Ran clean = shell("ffmpeg -nostdin -v error -xerror -i '" + out + "' -f null - 2>&1");
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, "");
}

TEST(SpinCommand, Refusals) {
    const std::string dir = tempDir();
    const std::string usage =
        "usage: spin <screenshot|recording> <out.mp4> [--size WxH] [--theme ..] [--layout full|closeup] [--at DEG]\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"spin", sample()}, usage},
        {{"spin", sample(), dir + "/a.mp4", dir + "/b.mp4"}, usage},
        {{"spin", sample(), dir + "/a.mp4", "--out", dir + "/b.mp4", "90x160", "full"}, usage},
        {{"spin", sample(), dir + "/a.mp4", "--layout", "spin"}, "spin --layout wants full·closeup, got spin\n"},
        {{"spin", sample(), dir + "/a.mp4", "--size", "91x160"},
         "bad --size: 91x160  (video wants even sides, e.g. 1080x1920)\n"},
        {{"spin", sample(), dir + "/a.png", "--at"}, "--at wants degrees\n"},
        {{"spin", sample(), dir + "/a.png", "--at", "12deg"}, "--at wants degrees\n"},
        {{"spin", sample(), dir + "/a.png", "--at", "nan"}, "--at wants degrees\n"},
    };
    for (const Case& c : cases) {
        const Ran r = pellmar(c.args);
        EXPECT_EQ(r.status, 1) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
        EXPECT_EQ(r.out, "");
    }
    // Only the first --at is taken; the second reaches the option parser.
    const Ran twice = pellmar({"spin", sample(), dir + "/t.png", "--at", "10", "--at", "20"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_FALSE(exists(dir + "/t.png"));
}

TEST(SpinHandOff, RecordingGoesToFrameWithASpinLayout) {
    EXPECT_EQ(
        spinHandOffArgs({"rec.mov", "out.mp4", "--layout", "closeup", "--theme", "light"}, 1, "1080x1080", true),
        (Args{"rec.mov", "--layout", "closeup", "--theme", "light", "--out", "out.mp4", "1080x1080", "closeup_spin"}));
    // Only the positional output goes: an option's value that reads the same stays.
    EXPECT_EQ(spinHandOffArgs({"rec.mp4", "--title", "out.mp4", "out.mp4"}, 3, "8x8", false),
              (Args{"rec.mp4", "--title", "out.mp4", "--out", "out.mp4", "8x8", "spin"}));
}
