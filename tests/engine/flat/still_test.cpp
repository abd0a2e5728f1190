#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/support.h"

namespace {

const std::string usage = "usage: still <screenshot> <out.png> [--theme ..] [--size WxH] [--layout ..]\n";

std::string sample() { return sourceDir() + "/resources/sample.png"; }

// Width, height and top-left-origin RGB bytes of a picture, read by ImageMagick.
struct Pic {
    int w = 0, h = 0;
    std::string rgb;
    const unsigned char* at(int x, int yFromTop) const {
        return reinterpret_cast<const unsigned char*>(rgb.data()) + 3 * (size_t(yFromTop) * size_t(w) + size_t(x));
    }
};

Pic readPic(const std::string& path) {
    Pic p;
    const Ran id = shell("identify -format '%w %h' '" + path + "'");
    sscanf(id.out.c_str(), "%d %d", &p.w, &p.h);
    const std::string raw = path + ".rgb";
    shell("convert '" + path + "' -depth 8 rgb:'" + raw + "'");
    p.rgb = readFile(raw);
    return p;
}

// A JPEG whose EXIF says "rotate 90 degrees clockwise to view" (orientation 6).
void addOrientation(const std::string& jpeg, int value) {
    std::string bytes = readFile(jpeg);
    const std::string tiff = std::string("II*\0\x08\0\0\0", 8) + std::string("\x01\0", 2) +  // one entry
                             std::string("\x12\x01\x03\0\x01\0\0\0", 8) + char(value) + std::string("\0\0\0", 3) +
                             std::string("\0\0\0\0", 4);
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    const size_t len = payload.size() + 2;
    const std::string app1 = std::string("\xff\xe1", 2) + char(len >> 8) + char(len & 255) + payload;
    bytes.insert(2, app1);
    writeFile(jpeg, bytes);
}

}  // namespace

TEST(StillCommand, ArgumentFaultsComeInStepOrder) {
    const std::string dir = tempDir();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"still", "a.png"}, usage},
        {{"still", "a.png", "b.png", "c.png"}, usage},
        {{"still", "a.png", "b.png", "--out", "x", "1x1", "full"}, usage},
        {{"still", "a.png", "--layout", "closeup_spin"}, usage},
        {{"still", "a.png", "b.png", "--layout", "closeup_spin", "--size", "bad"},
         "spin renders video: use `pellmar spin` for a screenshot\n"},
        {{"still", "a.png", "b.png", "--size", "0x5", "--theme", "pink"},
         "bad --size: 0x5  (want WxH, e.g. 1080x1920)\n"},
        {{"still", "a.png", "b.png", "--theme", "Dark"}, "unknown theme: Dark  (want dark·light)\n"},
        {{"still", "missing.png", "b.png"}, "cannot read image: missing.png\n"},
        {{"still", "a.png", "b.png", "--frobnicate"}, "unknown option: --frobnicate\n"},
    };
    for (const auto& c : cases) {
        const Ran r = pellmar(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST(StillCommand, BrokenInputsAreOneLineEach) {
    const std::string dir = tempDir();
    writeFile(dir + "/empty.png", "");
    writeFile(dir + "/text.png", "this is not a picture\n");
    const std::string whole = readFile(sample());
    writeFile(dir + "/cut.png", whole.substr(0, whole.size() / 2));
    for (const char* name : {"empty.png", "text.png", "cut.png"}) {
        const std::string in = dir + "/" + name;
        const Ran r = pellmar({"still", in, dir + "/out.png", "--size", "100x200"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "cannot read image: " + in + "\n");
        EXPECT_FALSE(exists(dir + "/out.png"));
    }
    // The picture decodes while the scene is made: its damage is still reported before
    // a bad colour of the plate, and a good picture meets the colour's message.
    writeFile(dir + "/look.conf", lookWith({{"theme_dark", "#1d1e2,#3b3c41,#232428,0.13,0.85"}}));
    const std::vector<std::string> env{"TREVALO_LOOK=" + dir + "/look.conf"};
    EXPECT_EQ(pellmar({"still", dir + "/cut.png", dir + "/out.png", "--size", "100x200"}, env).err,
              "cannot read image: " + dir + "/cut.png\n");
    EXPECT_EQ(pellmar({"still", sample(), dir + "/out.png", "--size", "100x200"}, env).err,
              "bad colour: #1d1e2  (want #RRGGBB)\n");
}

TEST(StillCommand, ReplacesAnExistingOutputAndFailsCleanlyOnBadFolders) {
    const std::string dir = tempDir();
    writeFile(dir + "/out.png", "old");
    ASSERT_EQ(pellmar({"still", sample(), dir + "/out.png", "--size", "90x160"}).status, 0);
    EXPECT_EQ(readPic(dir + "/out.png").w, 90);

    Ran r = pellmar({"still", sample(), dir + "/nowhere/out.png", "--size", "90x160"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot write " + dir + "/nowhere/out.png\n");

    // A target that cannot be replaced (a folder) stays as it was; no temporary is left.
    std::filesystem::create_directory(dir + "/taken.png");
    r = pellmar({"still", sample(), dir + "/taken.png", "--size", "90x160"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot write " + dir + "/taken.png\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/taken.png"));
    int hidden = 0;
    for (auto& e : std::filesystem::directory_iterator(dir)) hidden += e.path().filename().string()[0] == '.';
    EXPECT_EQ(hidden, 0);
}

// A GIF of a few bytes whose one frame covers a canvas of w x h (its pixels would all be
// the background; a decoder has to fill every one of them).
std::string hugeGif(int w, int h) {
    auto u16 = [](int v) { return std::string{char(v & 255), char(v >> 8)}; };
    return "GIF89a" + u16(w) + u16(h) + std::string("\0\0\0", 3) + "," + u16(0) + u16(0) + u16(w) + u16(h) +
           std::string("\0\x02\x02\x44\x01\0;", 8);
}

TEST(StillCommand, AbsurdSizesAreRefusedQuickly) {
    const std::string dir = tempDir();
    const Ran r = pellmar({"still", sample(), dir + "/o.png", "--size", "100000x100000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "size too large: 100000x100000  (max 8192x8192)\n");
    // Within the side limit but past the pixel count: refused from the header alone.
    for (auto [w, h] : {std::pair{20000, 100}, std::pair{10000, 6000}}) {
        const std::string in = dir + "/" + std::to_string(w) + ".gif";
        writeFile(in, hugeGif(w, h));
        EXPECT_EQ(pellmar({"still", in, dir + "/o.png"}).err,
                  "image too large: " + in + "  (max 16384 pixels a side and 50 megapixels)\n");
    }
    EXPECT_FALSE(exists(dir + "/o.png"));
}

TEST(StillCommand, RotatedJpegIsDrawnUpright) {
    const std::string dir = tempDir();
    // Stored 80 x 40: red on the left, blue on the right. Orientation 6 turns it a
    // quarter clockwise, so upright it is 40 x 80 with red on top.
    ASSERT_EQ(shell("convert -size 80x40 xc:red -fill blue -draw 'rectangle 40,0 79,39' '" + dir + "/r.jpg'").status,
              0);
    addOrientation(dir + "/r.jpg", 6);
    const Ran r = pellmar({"still", dir + "/r.jpg", dir + "/o.png", "--size", "200x200", "--theme", "light"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Pic p = readPic(dir + "/o.png");
    // Upright content is taller than wide, so the screen is narrow: the pixel left of
    // the centre by a third of the frame is backdrop, not screen.
    const unsigned char* top = p.at(100, 70);
    const unsigned char* bottom = p.at(100, 130);
    EXPECT_GT(top[0], 180);
    EXPECT_LT(top[2], 90);
    EXPECT_LT(bottom[0], 90);
    EXPECT_GT(bottom[2], 180);
}

TEST(StillCommand, ReadsHeicAndClosesUp) {
    const std::string dir = tempDir();
    ASSERT_EQ(shell("convert '" + sample() + "' -resize 25% '" + dir + "/s.heic'").status, 0);
    const Ran r = pellmar({"still", dir + "/s.heic", dir + "/o.png", "--size", "300x300", "--layout", "closeup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + dir + "/o.png  (300x300)\n");
    const Pic p = readPic(dir + "/o.png");
    // The closeup runs the screen off the bottom edge: the bottom centre is screen
    // (the sample's light background), not backdrop.
    EXPECT_GT(p.at(150, 299)[0], 200);
}

TEST(StillCommand, SeeThroughShotShowsTheBodyInAnOpaquePng) {
    // Blue on the right; beside it half-transparent orange, which in the lower half leaves
    // the left third clear. Clear shows the body exactly as a wholly clear shot does, orange
    // lies over it, and the file has no alpha.
    const std::string dir = tempDir();
    ASSERT_EQ(shell("convert -size 90x180 xc:none '" + dir +
                    "/clear.png' && convert -size 90x180 xc:none -fill "
                    "'rgba(200,40,0,0.5)' -draw 'rectangle 0,0 59,89' -draw 'rectangle 30,90 59,179' -fill blue "
                    "-draw 'rectangle 60,0 89,179' '" +
                    dir + "/shot.png'")
                  .status,
              0);
    for (const char* name : {"clear", "shot"})
        ASSERT_EQ(pellmar({"still", dir + "/" + name + ".png", dir + "/" + name + "-out.png", "--size", "270x480",
                           "--theme", "light"})
                      .status,
                  0);
    const Ran mode =
        shell("/usr/bin/python3 -c \"import sys; from PIL import Image; print(Image.open(sys.argv[1]).mode)\" '" + dir +
              "/shot-out.png'");
    EXPECT_EQ(mode.out, "RGB\n") << mode.err;
    const Pic body = readPic(dir + "/clear-out.png"), p = readPic(dir + "/shot-out.png");
    const int upper = 150, lower = 330, left = 135 - 40, middle = 135, right = 135 + 40;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(p.at(left, lower)[c], body.at(left, lower)[c]);
    for (const auto& [x, y] : {std::pair{left, upper}, {middle, upper}, {middle, lower}}) {
        EXPECT_NEAR(p.at(x, y)[0], 200 * 0.5 + body.at(x, y)[0] * 0.5, 2) << x << "," << y;
        EXPECT_NEAR(p.at(x, y)[1], 40 * 0.5 + body.at(x, y)[1] * 0.5, 2) << x << "," << y;
    }
    EXPECT_LT(p.at(right, upper)[0], 10);
    EXPECT_GT(p.at(right, upper)[2], 245);
}

TEST(StillCommand, GrainIsFainterThanAPosters) {
    // A still's plate carries grain 0.008, a poster's 0.03 like the videos it stands for:
    // in a corner of plain backdrop the levels spread by about 0.4 and 1.3.
    const std::string dir = tempDir();
    ASSERT_EQ(shell("convert '" + sample() + "' -resize 10% '" + dir + "/shot.png'").status, 0);
    ASSERT_EQ(pellmar({"gen-test", dir + "/shot.png", dir + "/rec.mov", "--seconds", "1"}).status, 0);
    ASSERT_EQ(pellmar({"still", dir + "/shot.png", dir + "/still.png", "--size", "270x480"}).status, 0);
    ASSERT_EQ(pellmar({"poster", dir + "/rec.mov", dir + "/poster.png", "--size", "270x480"}).status, 0);
    auto spread = [](const Pic& p) {  // of green over the bottom-left 16 x 16 pixels
        double sum = 0, sq = 0;
        for (int t = p.h - 16; t < p.h; ++t)
            for (int x = 0; x < 16; ++x) sum += p.at(x, t)[1], sq += p.at(x, t)[1] * p.at(x, t)[1];
        return std::sqrt(sq / 256 - sum * sum / 256 / 256);
    };
    const double still = spread(readPic(dir + "/still.png")), poster = spread(readPic(dir + "/poster.png"));
    EXPECT_GT(still, 0.15);
    EXPECT_LT(still, 0.7);
    EXPECT_GT(poster, 1.0);
    EXPECT_LT(poster, 1.8);
}
