#include <gtest/gtest.h>

#include <cmath>

#include "flat/scene.h"
#include "support/support.h"
#include "video/av.h"
#include "video/clips.h"
#include "video/content.h"
#include "video/island.h"
#include "video/source.h"

namespace {

// Largest difference between two 4:2:0 frames in one plane.
int worstDiff(const AVFrame* a, const AVFrame* b, int plane) {
    const int s = plane == 0 ? 0 : 1, w = a->width >> s, h = a->height >> s;
    int worst = 0;
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x)
            worst = std::max(worst, std::abs(a->data[plane][i * a->linesize[plane] + x] -
                                             b->data[plane][i * b->linesize[plane] + x]));
    return worst;
}

// A decoded frame's prepared picture, the general way: BGRA, tidied, neutralised, 4:2:0.
const AVFrame* theLongWay(FrameReader& reader, const FramePrep& prep, ContentYUV& out) {
    Image8 picture;
    reader.picture(picture);
    return out.convert(prep(std::move(picture)));
}

}  // namespace

// Decoded 4:2:0 frames are prepared straight, without BGRA, into the picture the long
// way gives: the grey step, the colour matrices and ranges, and the island's rows.
TEST(ContentYUV, DecodedFramesPrepareAsTheirPictures) {
    const std::string dir = tempDir();
    // The island screenshot, with a near-grey stripe and a band of colours on either side
    // of grey (the step moves their lumas both ways), as BT.709 limited-range, BT.601 and
    // full-range recordings.
    const std::string shot = makeScreenshot(dir, 200, 400, true);
    const std::string band = "if(between(Y,250,289),";
    const std::string stripe = "drawbox=x=0:y=200:w=200:h=40:color=0x808081:t=fill,format=gbrp,geq=r='" + band +
                               "112+mod(X,33),r(X,Y))':g='" + band + "128-mod(Y,5),g(X,Y))':b='" + band +
                               "144-mod(3*X,33),b(X,Y))'";
    ASSERT_TRUE(ffmpeg("-i " + shot + " -vf \"" + stripe +
                       ",scale=out_color_matrix=bt709\" -c:v libx264 -qp 0 -pix_fmt yuv420p -colorspace bt709 " + dir +
                       "/709.mp4"));
    ASSERT_TRUE(ffmpeg("-i " + shot + " -vf \"" + stripe +
                       "\" -c:v libx264 -qp 0 -pix_fmt yuv420p -colorspace smpte170m " + dir + "/601.mp4"));
    ASSERT_TRUE(
        ffmpeg("-i " + shot + " -vf \"" + stripe + "\" -c:v libx264 -qp 0 -pix_fmt yuvj420p " + dir + "/full.mp4"));
    for (const char* name : {"/709.mp4", "/601.mp4", "/full.mp4"}) {
        SCOPED_TRACE(name);
        Source src = openVideo(dir + name);
        FrameReader reader(src, 0);
        ASSERT_TRUE(reader.next());
        Image8 first;
        reader.picture(first);
        const FramePrep prep = FramePrep::make(src, first.view());
        EXPECT_TRUE(prep.island);
        ContentYUV fast, slow;
        const AVFrame* got = fast.prepare(reader.decoded(), prep);
        ASSERT_TRUE(got);
        const AVFrame* want = theLongWay(reader, prep, slow);
        // Within rounding: the long way also clips colours beyond the gamut, which the
        // short way keeps where nothing changes.
        for (int p = 0; p < 3; ++p) EXPECT_LE(worstDiff(got, want, p), 3) << "plane " << p;
        // The near-grey stripe is grey.
        for (int p = 1; p < 3; ++p) EXPECT_EQ(got->data[p][110 * got->linesize[p] + 50], 128) << "plane " << p;
    }
}

// A run of blocks of one colour, which takes the grey step once, gives what each of its
// blocks gives alone: the same colours every other block, with another colour between.
TEST(ContentYUV, RunsOfOneColourStepAsSingleBlocks) {
    const int W = 96, pairs = 15 * 15;
    FramePtr runs = newPicture(W, 2 * pairs, AV_PIX_FMT_YUV420P), mixed = newPicture(W, 2 * pairs, AV_PIX_FMT_YUV420P);
    for (AVFrame* f : {runs.get(), mixed.get()}) {
        f->colorspace = AVCOL_SPC_BT709, f->color_range = AVCOL_RANGE_MPEG;
        for (int i = 0; i < 2 * pairs; ++i)
            for (int x = 0; x < W; ++x) f->data[0][i * f->linesize[0] + x] = uint8_t((x * 37 + i * 11) % 256);
        // Near grey, where the step moves lumas, to strong colours.
        for (int i = 0; i < pairs; ++i)
            for (int x = 0; x < W / 2; ++x) {
                const bool other = f == mixed.get() && x % 2;
                f->data[1][i * f->linesize[1] + x] = uint8_t(other ? 60 : 114 + 2 * (i % 15));
                f->data[2][i * f->linesize[2] + x] = uint8_t(other ? 200 : 114 + 2 * (i / 15));
            }
    }
    ContentYUV a, b;
    const AVFrame* fromRuns = a.prepare(runs.get(), FramePrep{});
    const AVFrame* single = b.prepare(mixed.get(), FramePrep{});
    ASSERT_TRUE(fromRuns && single);
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < (p ? pairs : 2 * pairs); ++i)
            for (int x = 0; x < (p ? W / 2 : W); x += p ? 2 : 4)
                for (int k = 0; k < (p ? 1 : 2); ++k)
                    ASSERT_EQ(fromRuns->data[p][i * fromRuns->linesize[p] + x + k],
                              single->data[p][i * single->linesize[p] + x + k])
                        << "plane " << p << " at " << x + k << "," << i;
}

// Outputs draw a frame while the next is made: a picture they still hold is never
// written again, and one they let go is used again rather than a new one made.
TEST(ContentYUV, HeldPicturesAreNotOverwritten) {
    auto solid = [](uint8_t grey) {
        Image8 img(64, 32);
        for (Px8& p : img.px) p = {grey, grey, grey, 255};
        return img;
    };
    ContentYUV out;
    const AVFrame* dark = out.convert(solid(20));
    FramePtr held(av_frame_clone(dark));
    const uint8_t darkLuma = held->data[0][0];
    const AVFrame* light = out.convert(solid(230));
    EXPECT_NE(light->data[0], held->data[0]);
    EXPECT_EQ(held->data[0][0], darkLuma);
    EXPECT_GT(light->data[0][0], darkLuma + 150);
    held.reset();
    const AVFrame* again = out.convert(solid(20));
    EXPECT_TRUE(again->data[0] == dark->data[0] || again->data[0] == light->data[0]);
}
