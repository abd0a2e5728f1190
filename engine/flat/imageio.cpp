#include "flat/imageio.h"

#include <vips/vips.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include "flat/scene.h"
#include "base/die.h"
#include "base/inputfile.h"
#include "base/pending.h"

namespace {

struct GUnref {
    void operator()(VipsImage* i) const { g_object_unref(i); }
};
using VipsPtr = std::unique_ptr<VipsImage, GUnref>;

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

// Replaces `in` by the result of a vips operation that succeeded. `out` is taken by
// reference: it is written by the call that is evaluated as the argument before it.
bool step(VipsPtr& in, int rc, VipsImage*& out) {
    if (rc != 0) return false;
    in.reset(out);
    return true;
}

}  // namespace

Image8 loadCG(const std::string& path) {
    startVips();
    auto fail = [&] {
        vips_error_clear();
        die("cannot read image: " + path);
    };
    requireRegularFile(path, "image", "cannot read image: " + path);
    // Decoding errors (a truncated file) fail the read rather than give half a picture.
    VipsPtr img(vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_ERROR, nullptr));
    if (!img) fail();
    if (vips_image_get_width(img.get()) > maxInputSide || vips_image_get_height(img.get()) > maxInputSide) {
        die("image too large: " + path + "  (max " + std::to_string(maxInputSide) + " pixels a side)");
    }
    VipsImage* out = nullptr;
    if (!step(img, vips_autorot(img.get(), &out, nullptr), out)) fail();
    // Phone pictures often carry a wide-gamut profile: bring them to sRGB as drawing would.
    if (vips_image_get_typeof(img.get(), VIPS_META_ICC_NAME)) {
        if (!step(img,
                  vips_icc_transform(img.get(), &out, "srgb", "embedded", TRUE, "intent", VIPS_INTENT_PERCEPTUAL,
                                     nullptr),
                  out))
            vips_error_clear();
    }
    if (vips_image_get_interpretation(img.get()) != VIPS_INTERPRETATION_sRGB || img->BandFmt != VIPS_FORMAT_UCHAR) {
        if (!step(img, vips_colourspace(img.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr), out)) fail();
        if (!step(img, vips_cast_uchar(img.get(), &out, nullptr), out)) fail();
    }
    const int bands = vips_image_get_bands(img.get());
    if (bands == 1 || bands == 2) {
        if (!step(img, vips_colourspace(img.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr), out)) fail();
    }
    if (vips_image_get_bands(img.get()) == 3) {
        if (!step(img, vips_bandjoin_const1(img.get(), &out, 255, nullptr), out)) fail();
    } else if (vips_image_get_bands(img.get()) > 4) {
        if (!step(img, vips_extract_band(img.get(), &out, 0, "n", 4, nullptr), out)) fail();
    }
    if (vips_image_get_bands(img.get()) != 4 || img->BandFmt != VIPS_FORMAT_UCHAR) fail();

    size_t size = 0;
    std::unique_ptr<uint8_t, decltype(&g_free)> mem(static_cast<uint8_t*>(vips_image_write_to_memory(img.get(), &size)),
                                                    &g_free);
    const int w = vips_image_get_width(img.get()), h = vips_image_get_height(img.get());
    if (!mem || size != size_t(w) * size_t(h) * 4) fail();
    Image8 result(w, h);
    const uint8_t* s = mem.get();
    for (size_t i = 0; i < result.px.size(); ++i, s += 4) {
        const unsigned a = s[3];
        auto pm = [&](unsigned c) { return uint8_t((c * a + 127) / 255); };
        result.px[i] = {pm(s[2]), pm(s[1]), pm(s[0]), uint8_t(a)};
    }
    return result;
}

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

void savePNG(const Image8& img, const std::string& path) {
    startVips();
    auto fail = [&] {
        vips_error_clear();
        die("cannot write " + path);
    };
    bool opaque = true;
    for (const Px8& p : img.px)
        if (p.a != 255) {
            opaque = false;
            break;
        }
    // Every frame the engine draws is opaque: RGB is smaller and faster to write.
    const int bands = opaque ? 3 : 4;
    std::vector<uint8_t> buf(img.px.size() * size_t(bands));
    uint8_t* d = buf.data();
    for (const Px8& p : img.px) {
        if (opaque) {
            d[0] = p.r, d[1] = p.g, d[2] = p.b;
        } else {
            auto un = [&](uint8_t c) { return p.a ? uint8_t(std::min(255, (c * 255 + p.a / 2) / p.a)) : uint8_t(0); };
            d[0] = un(p.r), d[1] = un(p.g), d[2] = un(p.b), d[3] = p.a;
        }
        d += bands;
    }
    VipsPtr v(vips_image_new_from_memory(buf.data(), buf.size(), img.w, img.h, bands, VIPS_FORMAT_UCHAR));
    if (!v) fail();
    PendingFile file(path);
    if (file.error()) fail();
    // zlib level 1 with the sub filter: measured both faster and smaller than level 6
    // without filters on framed screenshots (bench/still).
    if (vips_pngsave(v.get(), file.path().c_str(), "compression", 1, "filter", VIPS_FOREIGN_PNG_FILTER_SUB, "strip",
                     TRUE, nullptr) != 0 ||
        file.commit() != 0)
        fail();
}

void writePNG(const Scene& scene, const Image8& content, const std::string& path) {
    Image8 frame(scene.w, scene.h);
    scene.draw(frame.view(), content);
    const std::string abs = absolutePath(path);
    savePNG(frame, abs);
    reportSaved(abs, std::to_string(scene.w) + "x" + std::to_string(scene.h));
}
