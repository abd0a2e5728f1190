#include <gtest/gtest.h>

#include "flat/imageio.h"
#include "support/support.h"
#include "video/clips.h"

// Titles and backdrops as a user asks for them, through every command that draws.

namespace {

const int W = 270, H = 480;
// The caption's rows at this size: well above the device, below the frame's top edge.
const int bandRows = 100;

std::string sample() { return sourceDir() + "/resources/sample.png"; }

const std::vector<std::string> dress = {"--size",     "270x480",       "--title",    "Plan your week",
                                        "--subtitle", "in one glance", "--backdrop", "#1b3a6b,#0d1b33"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The top rows of an RGB picture.
std::vector<uint8_t> band(const std::vector<uint8_t>& rgb) { return {rgb.begin(), rgb.begin() + 3 * W * bandRows}; }

std::vector<uint8_t> pngRGB(const std::string& path) {
    const std::vector<std::vector<uint8_t>> frames = rgbFrames(path, W, H);
    return frames.empty() ? std::vector<uint8_t>{} : frames[0];
}

}  // namespace

TEST(CaptionOutputs, VideoFramesPosterAndTurningClipCarryTheStillsCaption) {
    const std::string dir = tempDir();
    const std::string rec = dir + "/rec.mp4", still = dir + "/still.png", bare = dir + "/bare.png";
    ASSERT_EQ(pellmar({"gen-test", makeScreenshot(dir, 64, 128), rec, "--seconds", "0.5"}).status, 0);
    Ran r = pellmar(with({"still", sample(), still}, dress));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(pellmar({"still", sample(), bare, "--size", "270x480", "--backdrop", "#1b3a6b,#0d1b33"}).status, 0);
    const std::vector<uint8_t> expected = band(pngRGB(still));
    // Without the caption the band is quite another picture: the comparisons below see text.
    EXPECT_LT(psnr(band(pngRGB(bare)), expected), 25);

    r = pellmar(with({"frame", rec, dir + "/framed.mp4"}, dress));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto frames = rgbFrames(dir + "/framed.mp4", W, H);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_GT(psnr(band(frames.front()), expected), 32);
    EXPECT_GT(psnr(band(frames.back()), expected), 32);

    r = pellmar(with({"poster", rec, dir + "/poster.png"}, dress));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(psnr(band(pngRGB(dir + "/poster.png")), expected), 34);

    // A short turn: the clip's first frame is the flat frame at rest, and the turning
    // frames move over the same captioned backdrop.
    const std::string look = dir + "/look.conf";
    writeFile(look, readFile(shippedLook()) + "\nspin_timing=\"0.05,0.1,0.05\"\n");
    r = pellmar(with({"spin", sample(), dir + "/spin.mp4"}, dress), {"TREVALO_LOOK=" + look});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto turning = rgbFrames(dir + "/spin.mp4", W, H);
    ASSERT_GE(turning.size(), 6u);
    EXPECT_GT(psnr(band(turning.front()), expected), 32);
    EXPECT_GT(psnr(band(turning[turning.size() / 2]), expected), 32);
}

TEST(CaptionOutputs, BadValuesEndWithOneLine) {
    const std::string dir = tempDir();
    const std::string out = dir + "/out.png";
    const std::string want = "  (want #RRGGBB, #RRGGBB,#RRGGBB or a picture)\n";
    struct Case {
        std::vector<std::string> extra;
        std::string err;
    } cases[] = {
        {{"--caption", "left"}, "unknown caption: left  (want top·bottom)\n"},
        {{"--title"}, "--title needs a value\n"},
        {{"--backdrop", "#12345"}, "bad --backdrop: #12345" + want},
        {{"--backdrop", "#123456,#12345g"}, "bad --backdrop: #123456,#12345g" + want},
        {{"--backdrop", ""}, "bad --backdrop: " + want},
        {{"--backdrop", dir + "/none.png"}, "cannot read image: " + dir + "/none.png\n"},
        {{"--backdrop", dir}, "image is a folder: " + dir + "\n"},
        {{"--title", "caf\xe9"}, "bad --title: not UTF-8\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const Ran r = pellmar(with({"still", sample(), out}, c.extra));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        EXPECT_FALSE(exists(out));
    }
    // A recording is not a picture for the backdrop either.
    const std::string rec = dir + "/rec.mp4";
    ASSERT_EQ(pellmar({"gen-test", makeScreenshot(dir, 64, 128), rec, "--seconds", "0.2"}).status, 0);
    const Ran r = pellmar({"still", sample(), out, "--backdrop", rec});
    EXPECT_EQ(r.err, "cannot read image: " + rec + "\n");
}
