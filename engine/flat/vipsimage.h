#pragma once
// An owning handle for libvips images and the conversion every decoded picture goes
// through before it is drawn. Header-only: the window's thumbnails take pictures the same
// way as the engine, without linking the engine.
#include <vips/vips.h>

#include <memory>

struct GUnref {
    void operator()(VipsImage* i) const { g_object_unref(i); }
};
using VipsPtr = std::unique_ptr<VipsImage, GUnref>;

// Replaces `in` by the result of a vips operation that succeeded. `out` is taken by
// reference: it is written by the call that is evaluated as the argument before it.
inline bool vipsStep(VipsPtr& in, int rc, VipsImage*& out) {
    if (rc != 0) return false;
    in.reset(out);
    return true;
}

// Brings a decoded picture to 8-bit sRGB with alpha: grey, 16-bit, CMYK and pictures
// without alpha are converted, extra bands dropped. False (the vips error left for the
// caller) when a step fails.
inline bool toSrgbAlpha8(VipsPtr& img) {
    VipsImage* out = nullptr;
    if (vips_image_get_interpretation(img.get()) != VIPS_INTERPRETATION_sRGB || img->BandFmt != VIPS_FORMAT_UCHAR) {
        if (!vipsStep(img, vips_colourspace(img.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr), out)) return false;
        if (!vipsStep(img, vips_cast_uchar(img.get(), &out, nullptr), out)) return false;
    }
    const int bands = vips_image_get_bands(img.get());
    if (bands == 1 || bands == 2) {
        if (!vipsStep(img, vips_colourspace(img.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr), out)) return false;
    }
    if (vips_image_get_bands(img.get()) == 3) {
        if (!vipsStep(img, vips_bandjoin_const1(img.get(), &out, 255, nullptr), out)) return false;
    } else if (vips_image_get_bands(img.get()) > 4) {
        if (!vipsStep(img, vips_extract_band(img.get(), &out, 0, "n", 4, nullptr), out)) return false;
    }
    return vips_image_get_bands(img.get()) == 4 && img->BandFmt == VIPS_FORMAT_UCHAR;
}
