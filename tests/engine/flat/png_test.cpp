#include <gtest/gtest.h>
#include <zlib.h>

#include <array>

#include "flat/imageio.h"
#include "flat/png.h"
#include "support/support.h"

namespace {

// A picture with flat runs (long matches) and hashed noise (none), straight colours in
// steps of 5 so that alpha 51 premultiplies and comes back exactly.
struct Picture {
    int w, h;
    bool opaque;
    Px8 straight(int x, int y) const {
        const uint32_t k = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
        if ((x / 16 + y / 8) % 3 == 0) return {200, 100, 50, 255};
        const uint8_t a = opaque ? 255 : std::array<uint8_t, 3>{0, 51, 255}[k % 3];
        if (a == 0) return {0, 0, 0, 0};
        return {uint8_t(k % 52 * 5), uint8_t(k / 52 % 52 * 5), uint8_t(k / 2704 % 52 * 5), a};
    }
    Px8 premultiplied(int x, int y) const {
        const Px8 s = straight(x, y);
        return {uint8_t(s.b * s.a / 255), uint8_t(s.g * s.a / 255), uint8_t(s.r * s.a / 255), s.a};
    }
    std::string expected() const {  // top row first, R G B (A)
        std::string out;
        for (int t = 0; t < h; ++t)
            for (int x = 0; x < w; ++x) {
                const Px8 s = straight(x, h - 1 - t);
                out += {char(s.r), char(s.g), char(s.b)};
                if (!opaque) out += char(s.a);
            }
        return out;
    }
    void save(const std::string& path) const {
        savePNG(
            w, h, opaque ? PngAlpha::opaque : PngAlpha::kept,
            [this](View8 band, int top) {
                for (int i = 0; i < band.h; ++i)
                    for (int x = 0; x < w; ++x) band.top(i)[x] = premultiplied(x, h - 1 - (top + i));
            },
            path);
    }
};

uint32_t be32(const std::string& s, size_t at) {
    auto b = [&](size_t i) { return uint32_t(uint8_t(s[at + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

}  // namespace

TEST(PngEncoder, EveryReaderDecodesTheSamePixels) {
    const std::string dir = tempDir();
    // One pixel; an odd width; several strips, of which the last is short.
    for (const Picture p :
         {Picture{1, 1, true}, Picture{37, 5, false}, Picture{301, 700, true}, Picture{301, 700, false}}) {
        const std::string png = dir + "/p.png", raw = dir + "/p.raw", what = p.opaque ? "rgb" : "rgba";
        const std::string name = std::to_string(p.w) + "x" + std::to_string(p.h) + " " + what;
        p.save(png);
        const std::string want = p.expected();
        ASSERT_EQ(shell("convert '" + png + "' -depth 8 " + what + ":'" + raw + "'").status, 0) << name;
        EXPECT_TRUE(readFile(raw) == want) << "ImageMagick, " << name;
        ASSERT_EQ(shell("vips rawsave '" + png + "[fail]' '" + raw + "'").status, 0) << name;
        EXPECT_TRUE(readFile(raw) == want) << "libvips, " << name;
        const Ran pil = shell(
            "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).verify(); "
            "im = Image.open(sys.argv[1]); sys.stdout.write(im.mode); open(sys.argv[2], 'wb').write(im.tobytes())\" '" +
            png + "' '" + raw + "'");
        ASSERT_EQ(pil.status, 0) << pil.err;
        EXPECT_EQ(pil.out, p.opaque ? "RGB" : "RGBA") << name;
        EXPECT_TRUE(readFile(raw) == want) << "PIL, " << name;
    }
}

TEST(PngEncoder, StripsJoinIntoOneCheckedZlibStream) {
    // Readers differ in what they verify; zlib itself checks the stream end and the
    // combined Adler-32, and every chunk's CRC is checked here.
    const std::string path = tempDir() + "/s.png";
    const Picture p{517, 900, true};
    p.save(path);
    const std::string file = readFile(path);
    ASSERT_EQ(file.substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::string idat;
    int chunks = 0;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t len = be32(file, at);
        const std::string type = file.substr(at + 4, 4);
        const auto* body = reinterpret_cast<const Bytef*>(file.data() + at + 4);
        EXPECT_EQ(be32(file, at + 8 + len), uint32_t(crc32(0, body, uInt(4 + len)))) << type;
        if (type == "IDAT") idat += file.substr(at + 8, len), ++chunks;
        at += 12 + len;
        if (type == "IEND") {
            EXPECT_EQ(at, file.size());
        }
    }
    EXPECT_GT(chunks, 2);  // really several strips
    std::string rows(size_t(p.h) * (1 + 3 * size_t(p.w)) + 1, '\0');
    uLongf size = rows.size();
    uLong used = idat.size();
    ASSERT_EQ(
        uncompress2(reinterpret_cast<Bytef*>(rows.data()), &size, reinterpret_cast<const Bytef*>(idat.data()), &used),
        Z_OK);
    EXPECT_EQ(size, rows.size() - 1);
    EXPECT_EQ(used, idat.size());  // nothing after the stream's end
}
