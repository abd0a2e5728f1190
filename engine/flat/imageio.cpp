#include "flat/imageio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "flat/scene.h"
#include "flat/vipsimage.h"
#include "base/die.h"
#include "base/inputfile.h"
#include "base/pending.h"

namespace {

void startVips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("pellmar")) die(std::string("vips_init: ") + vips_error_buffer());
        // The engine owns its threads; vips' own pool stays small and its caches off,
        // since every image is read once.
        vips_cache_set_max(0);
        // Only the decoders libvips counts as safe for untrusted files, which cover what
        // phones write (PNG, JPEG, HEIC, WebP, TIFF, GIF). The others reach much more code
        // (ImageMagick's among them), and some print their own text on standard output.
        vips_block_untrusted_set(TRUE);
        // The engine's only error channel is its one line: decoder chatter stays quiet.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

}  // namespace

struct ImageFile::Pipeline {
    VipsPtr img;
};

ImageFile::ImageFile(const std::string& path) : m_path(path), m_p(std::make_unique<Pipeline>()) {
    startVips();
    auto fail = [&] {
        vips_error_clear();
        die("cannot read image: " + path);
    };
    requireRegularFile(path, "image", "cannot read image: " + path);
    // Decoding errors (a truncated file) fail the read rather than give half a picture.
    VipsPtr img(vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_ERROR, nullptr));
    if (!img) fail();
    const int64_t w = vips_image_get_width(img.get()), h = vips_image_get_height(img.get());
    if (w > maxInputSide || h > maxInputSide || w * h > maxInputPixels) {
        die("image too large: " + path + "  (max " + std::to_string(maxInputSide) + " pixels a side and " +
            std::to_string(maxInputPixels / 1'000'000) + " megapixels)");
    }
    VipsImage* out = nullptr;
    if (!vipsStep(img, vips_autorot(img.get(), &out, nullptr), out)) fail();
    // Phone pictures often carry a wide-gamut profile: bring them to sRGB as drawing would.
    if (vips_image_get_typeof(img.get(), VIPS_META_ICC_NAME)) {
        if (!vipsStep(img,
                      vips_icc_transform(img.get(), &out, "srgb", "embedded", TRUE, "intent", VIPS_INTENT_PERCEPTUAL,
                                         nullptr),
                      out))
            vips_error_clear();
    }
    if (!toSrgbAlpha8(img)) fail();
    m_w = vips_image_get_width(img.get()), m_h = vips_image_get_height(img.get());
    m_p->img = std::move(img);
}

ImageFile::~ImageFile() = default;

namespace {

// One decoded row of straight RGBA as premultiplied BGRA.
void premultiplyRow(const uint8_t* s, Px8* d, int w) {
    uint8_t alpha = 255;
    for (int x = 0; x < w; ++x) alpha &= s[4 * x + 3];
    if (alpha == 255) {  // most screenshots: nothing to premultiply, red and blue swap
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            std::memcpy(&v, s + 4 * x, 4);
            v = (v & 0xff00ff00u) | (v >> 16 & 0xffu) | (v & 0xffu) << 16;
            std::memcpy(d + x, &v, 4);
        }
        return;
    }
    for (int x = 0; x < w; ++x, s += 4) {
        const unsigned a = s[3];
        auto pm = [&](unsigned c) { return uint8_t((c * a + 127) / 255); };
        d[x] = {pm(s[2]), pm(s[1]), pm(s[0]), uint8_t(a)};
    }
}

}  // namespace

Image8 ImageFile::decode() const {
    // Rows are converted as the decoder hands them over, in order, straight into the
    // picture: no second copy of it is made.
    Image8 result(m_w, m_h);
    const VipsRegionWrite write = [](VipsRegion* region, VipsRect* area, void* into) {
        Image8& out = *static_cast<Image8*>(into);
        for (int y = area->top; y < area->top + area->height; ++y)
            premultiplyRow(reinterpret_cast<const uint8_t*>(VIPS_REGION_ADDR(region, area->left, y)),
                           out.top(y) + area->left, area->width);
        return 0;
    };
    if (vips_sink_disc(m_p->img.get(), write, &result) != 0) {
        vips_error_clear();
        die("cannot read image: " + m_path);
    }
    return result;
}

Plane setText(const std::string& markup, int width) {
    startVips();
    VipsImage* out = nullptr;
    // Words that are wider than a line on their own break between letters rather than
    // run out of it.
    if (vips_text(&out, markup.c_str(), "width", std::max(1, width), "dpi", 72, "align", VIPS_ALIGN_CENTRE, "wrap",
                  VIPS_TEXT_WRAP_WORD_CHAR, nullptr) != 0) {
        vips_error_clear();
        return {};
    }
    VipsPtr img(out);
    VipsImage* mem = nullptr;
    if (!vipsStep(img, vips_cast_uchar(img.get(), &mem, nullptr), mem) || vips_image_get_bands(img.get()) != 1 ||
        !(mem = vips_image_copy_memory(img.get()))) {
        vips_error_clear();
        return {};
    }
    img.reset(mem);
    Plane cover(vips_image_get_width(img.get()), vips_image_get_height(img.get()));
    for (int i = 0; i < cover.h; ++i) {
        const uint8_t* s = reinterpret_cast<const uint8_t*>(VIPS_IMAGE_ADDR(img.get(), 0, i));
        float* d = cover.top(i);
        for (int x = 0; x < cover.w; ++x) d[x] = s[x] / 255.f;
    }
    return cover;
}

Image8 loadCG(const std::string& path) { return ImageFile(path).decode(); }

Image8 orient(const Image8& img, int o) {
    if (o < 2 || o > 8) return img;
    // Orientations 5 to 8 swap the sides.
    const bool swap = o >= 5;
    Image8 out(swap ? img.h : img.w, swap ? img.w : img.h);
    for (int i = 0; i < out.h; ++i) {
        Px8* d = out.top(i);
        for (int j = 0; j < out.w; ++j) {
            // (j, i) in the upright picture, top-left origin, read from the stored one.
            int sx = 0, sy = 0;
            switch (o) {
            case 2: sx = img.w - 1 - j, sy = i; break;
            case 3: sx = img.w - 1 - j, sy = img.h - 1 - i; break;
            case 4: sx = j, sy = img.h - 1 - i; break;
            case 5: sx = i, sy = j; break;
            case 6: sx = i, sy = img.h - 1 - j; break;
            case 7: sx = img.w - 1 - i, sy = img.h - 1 - j; break;
            case 8: sx = img.w - 1 - i, sy = j; break;
            }
            d[j] = img.top(sy)[sx];
        }
    }
    return out;
}

void savePNG(int w, int h, PngAlpha alpha, const DrawBand& draw, const std::string& path) {
    auto fail = [&] { die("cannot write " + path); };
    PendingFile file(path);
    if (file.error()) fail();
    const int fd = ::open(file.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool written = fd >= 0;
    if (written) {
        encodePNG(w, h, alpha, draw, [&](const uint8_t* p, size_t n) {
            while (written && n > 0) {
                const ssize_t k = ::write(fd, p, n);
                if (k < 0 && errno == EINTR) continue;
                written = k > 0;
                if (written) p += k, n -= size_t(k);
            }
        });
        written = ::close(fd) == 0 && written;
    }
    if (!written || file.commit() != 0) fail();
}

void savePNG(const Image8& img, const std::string& path) {
    bool opaque = true;
    for (const Px8& p : img.px)
        if (p.a != 255) {
            opaque = false;
            break;
        }
    // Every frame the engine draws is opaque: RGB is smaller and faster to write.
    const PngAlpha alpha = opaque ? PngAlpha::opaque : PngAlpha::kept;
    savePNG(
        img.w, img.h, alpha,
        [&](View8 band, int top) {
            for (int i = 0; i < band.h; ++i) std::copy_n(img.top(top + i), img.w, band.top(i));
        },
        path);
}

void writePNG(const Scene& scene, const Image8& content, const std::string& path) {
    // Plate, screen and glass are opaque together; bands are encoded as they are drawn.
    const SceneFrame frame(scene, content.view());
    const std::string abs = absolutePath(path);
    savePNG(
        scene.w, scene.h, PngAlpha::opaque, [&](View8 band, int top) { frame.draw(band, top); }, abs);
    reportSaved(abs, std::to_string(scene.w) + "x" + std::to_string(scene.h));
}
