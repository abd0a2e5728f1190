#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/opts.h"
#include "flat/imageio.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "flat/scene.h"
#include "support/support.h"
#include "video/av.h"
#include "video/clips.h"
#include "video/screen.h"
#include "video/writer.h"

namespace {

FramePtr yuv420(int w, int h) {
    FramePtr f = newAVFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    EXPECT_GE(av_frame_get_buffer(f.get(), 64), 0);
    return f;
}

}  // namespace

TEST(BgraToYUV, AgreesWithSwscaleWithinOneLevel) {
    Image8 img(70, 36);  // eight pixels at a time, then the rest
    for (int i = 0; i < img.h; ++i)
        for (int x = 0; x < img.w; ++x)
            img.top(i)[x] = {uint8_t(x * 4), uint8_t(i * 7), uint8_t((x * 13 + i * 5) & 255), 255};
    img.top(0)[0] = {0, 0, 0, 255};
    img.top(0)[1] = {255, 255, 255, 255};

    FramePtr mine = yuv420(img.w, img.h), narrow = yuv420(img.w, img.h);
    bgraToYUV(img.view(), mine.get());
    // Without 256-bit registers, the same bytes.
    useWideRegisters(false);
    bgraToYUV(img.view(), narrow.get());
    useWideRegisters(true);
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < img.h >> (p ? 1 : 0); ++i)
            ASSERT_EQ(0, std::memcmp(mine->data[p] + i * mine->linesize[p], narrow->data[p] + i * narrow->linesize[p],
                                     size_t(img.w >> (p ? 1 : 0))))
                << "plane " << p << " row " << i;
    // swscale's BT.709 limited-range conversion, chroma from 2 x 2 means (point
    // sampling would pick one pixel of the block).
    SwsPtr sws(sws_getContext(img.w, img.h, AV_PIX_FMT_BGRA, img.w, img.h, AV_PIX_FMT_YUV444P, SWS_POINT, nullptr,
                              nullptr, nullptr));
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    FramePtr full = newAVFrame();
    full->format = AV_PIX_FMT_YUV444P;
    full->width = img.w;
    full->height = img.h;
    ASSERT_GE(av_frame_get_buffer(full.get(), 64), 0);
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(img.px.data()), nullptr, nullptr, nullptr};
    const int stride[4] = {img.w * 4, 0, 0, 0};
    sws_scale(sws.get(), src, stride, 0, img.h, full->data, full->linesize);

    int worst = 0;
    for (int i = 0; i < img.h; ++i)
        for (int x = 0; x < img.w; ++x)
            worst = std::max(
                worst, std::abs(mine->data[0][i * mine->linesize[0] + x] - full->data[0][i * full->linesize[0] + x]));
    for (int p = 1; p < 3; ++p)
        for (int i = 0; i < img.h / 2; ++i)
            for (int x = 0; x < img.w / 2; ++x) {
                int sum = 0;
                for (int d = 0; d < 4; ++d) sum += full->data[p][(2 * i + d / 2) * full->linesize[p] + 2 * x + d % 2];
                worst = std::max(worst, std::abs(mine->data[p][i * mine->linesize[p] + x] - (sum + 2) / 4));
            }
    EXPECT_LE(worst, 1);
    EXPECT_EQ(mine->data[0][0], 16);   // black
    EXPECT_EQ(mine->data[0][1], 235);  // white
}

TEST(BgraToYUV, GreysHaveNoColour) {
    Image8 img(4, 2);
    for (int k = 0; k < 8; ++k) img.px[size_t(k)] = {uint8_t(30 * k), uint8_t(30 * k), uint8_t(30 * k), 255};
    FramePtr f = yuv420(4, 2);
    bgraToYUV(img.view(), f.get());
    for (int p = 1; p < 3; ++p)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(f->data[p][x], 128);
}

namespace {

// PSNR of one plane of two 4:2:0 frames over a rectangle of luma rows and columns.
double planePsnr(const AVFrame* a, const AVFrame* b, int plane, int x0, int y0, int x1, int y1) {
    const int s = plane == 0 ? 0 : 1;
    double sum = 0;
    int n = 0;
    for (int i = y0 >> s; i < y1 >> s; ++i)
        for (int x = x0 >> s; x < x1 >> s; ++x, ++n) {
            const int d = a->data[plane][i * a->linesize[plane] + x] - b->data[plane][i * b->linesize[plane] + x];
            sum += d * d;
        }
    return sum == 0 ? 999 : 10 * std::log10(255.0 * 255.0 * n / sum);
}

}  // namespace

// The painter composes in 4:2:0 what the stills draw in BGRA, wherever the screen's
// edges fall: the same picture in each plane, up to rounding, over the screen's box.
TEST(ScreenPainter, DrawsThePictureOfTheStills) {
    const Style style(Opts({"--theme", "dark"}));
    // Larger than the screens, as recordings are, with colour bars a few pixels wide
    // once brought down.
    Image8 content(240, 512);
    for (int i = 0; i < content.h; ++i)
        for (int x = 0; x < content.w; ++x) {
            const bool bar = (x / 16) % 3 == 0 || (i / 24) % 4 == 0;
            content.top(i)[x] = bar ? Px8{40, 200, 230, 255} : Px8{uint8_t(120 + x / 4), uint8_t(i / 2), 60, 255};
        }
    ContentYUV toYUV;
    const AVFrame* yuv = toYUV.convert(content);
    // At a phone's size the glass along the screen's rim is wide enough to count: a
    // painter that left it out would lose 11 dB there.
    for (const auto& [w, h, layout, lumaDb] : {std::tuple{180, 320, Layout::full, 45},
                                               {202, 360, Layout::full, 45},
                                               {320, 180, Layout::full, 45},
                                               {240, 240, Layout::closeup, 45},
                                               {1080, 1920, Layout::full, 52}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Scene scene(w, h, layout, content.w, content.h, style, 0.03);
        Image8 still(w, h);
        scene.draw(still.view(), content);
        FramePtr want = yuv420(w, h), got = yuv420(w, h);
        bgraToYUV(still.view(), want.get());
        ScreenPainter(scene).draw(got.get(), yuv);
        const Rect& s = scene.geo.screen;
        const int x0 = std::max(int(s.x) & ~1, 0), x1 = std::min(int(std::ceil(s.maxX()) + 1) & ~1, w);
        const int y0 = std::max((h - int(std::ceil(s.maxY()))) & ~1, 0), y1 = std::min((h - int(s.y) + 1) & ~1, h);
        // A screen a pixel off costs luma 20 dB and more; chroma starts from the
        // content's own 2 x 2 blocks and so differs more from a drawing in BGRA.
        for (int p = 0; p < 3; ++p)
            EXPECT_GT(planePsnr(want.get(), got.get(), p, x0, y0, x1, y1), p == 0 ? lumaDb : 33) << "plane " << p;
    }
}

namespace {

// Where a profile of luma values crosses the level midway between dark and light, to a
// fraction of a pixel, in order.
std::vector<double> crossings(const std::vector<double>& v) {
    std::vector<double> at;
    const double level = 130;
    for (size_t i = 1; i < v.size(); ++i)
        if ((v[i - 1] < level) != (v[i] < level)) at.push_back(double(i - 1) + (level - v[i - 1]) / (v[i] - v[i - 1]));
    return at;
}

double luma(const Px8& p) { return 0.2126 * p.r + 0.7152 * p.g + 0.0722 * p.b; }

std::vector<double> column(const Image8& img, int x) {
    std::vector<double> v;
    for (int i = 0; i < img.h; ++i) v.push_back(luma(img.top(i)[x]));
    return v;
}

std::vector<double> row(const Image8& img, int i) {
    std::vector<double> v;
    for (int x = 0; x < img.w; ++x) v.push_back(luma(img.top(i)[x]));
    return v;
}

// A 236 x 512 recording (a phone screen's shape) of n still frames at 30 fps: dark, with
// light bars near each edge.
std::string barsRecording(const std::string& dir, int n) {
    const std::string path = dir + "/bars.mov";
    Writer w(path, 236, 512, 30, Container::QuickTime);
    for (int k = 0; k < n; ++k) {
        const View8 f = w.newFrame();
        for (int i = 0; i < f.h; ++i)
            for (int x = 0; x < f.w; ++x) {
                const bool bar =
                    (x >= 20 && x < 44) || (x >= 192 && x < 216) || (i >= 40 && i < 90) || (i >= 420 && i < 470);
                const uint8_t v = bar ? 220 : 40;
                f.top(i)[x] = {v, v, v, 255};
            }
        w.append(k);
    }
    w.finish(n);
    return path;
}

}  // namespace

// The first video frame puts the recording where the poster of the same moment does: the
// edges of bars near the screen's four sides within a quarter pixel.
TEST(VideoFrames, MatchThePosterGeometry) {
    const std::string dir = tempDir();
    const std::string rec = barsRecording(dir, 1);
    for (const auto& [size, layout] : {std::pair{"1920x1080", "full"}, {"200x400", "full"}, {"1080x1080", "closeup"}}) {
        SCOPED_TRACE(std::string(size) + " " + layout);
        Ran r = pellmar({"frame", rec, dir + "/v.mp4", "--size", size, "--layout", layout});
        ASSERT_EQ(r.status, 0) << r.err;
        r = pellmar({"poster", rec, dir + "/p.png", "--size", size, "--layout", layout});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(ffmpeg("-i " + dir + "/v.mp4 -frames:v 1 " + dir + "/v.png"));
        const Image8 poster = loadCG(dir + "/p.png"), video = loadCG(dir + "/v.png");
        ASSERT_EQ(video.w, poster.w);
        ASSERT_EQ(video.h, poster.h);

        // Down the middle: the horizontal bars (the close-up cuts off the lower one); then
        // across below the upper bar: the vertical ones.
        const std::vector<double> down = crossings(column(poster, poster.w / 2));
        ASSERT_GE(down.size(), 2u);
        const int across = int(std::lround(2 * down[1] - down[0]));
        for (const auto& [p, v] : {std::pair{down, crossings(column(video, poster.w / 2))},
                                   {crossings(row(poster, across)), crossings(row(video, across))}}) {
            ASSERT_EQ(p.size(), v.size());
            for (size_t k = 0; k < p.size(); ++k) EXPECT_NEAR(v[k], p[k], 0.25) << "edge " << k;
        }
    }
}

// A turning output of a recording that holds still: the device rests on the frame the
// flat outputs draw, so the first and last turned frames, a fraction of a degree from
// the rest, differ from the rest frames next to them by little more than encoding noise
// (a screen drawn a pixel off costs some 25 dB).
TEST(VideoFrames, TurningOutputHandsOffWithoutAJump) {
    const std::string dir = tempDir();
    const std::string rec = barsRecording(dir, 15);
    // At rest to slot 6 (0.1 s at 60 fps), turning to slot 24, at rest again.
    writeFile(dir + "/look.conf", lookWith({{"spin_timing", "0.1,0.3,0.1"}}));
    const Ran r = pellmar({"frame", rec, dir + "/s.mp4", "--size", "180x320", "--layout", "spin"},
                          {"TREVALO_LOOK=" + dir + "/look.conf"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto frames = rgbFrames(dir + "/s.mp4", 180, 320);
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_GT(psnr(frames[6], frames[7]), 40) << "into the turn";
    EXPECT_GT(psnr(frames[23], frames[24]), 40) << "out of the turn";
}

// Recordings can carry alpha: where they are transparent the device beneath the screen
// shows (the plate under the glass), where they are opaque the recording does.
TEST(VideoFrames, TransparentRecordingShowsTheDeviceBeneath) {
    const std::string dir = tempDir();
    // Left half transparent, right half opaque red, in three formats that carry alpha.
    const std::string src =
        "-f lavfi -i \"color=c=red:size=64x128:rate=30,format=rgba,geq=r=255:g=0:b=0:a='if(lt(X,32),0,255)'\" "
        "-frames:v 3 ";
    ASSERT_TRUE(ffmpeg(src + "-c:v png " + dir + "/png.mov"));
    ASSERT_TRUE(ffmpeg(src + "-c:v qtrle " + dir + "/rle.mov"));
    ASSERT_TRUE(ffmpeg(src + "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le " + dir + "/prores.mov"));
    const Scene scene(180, 320, Layout::full, 64, 128, Style(Opts({"--theme", "dark"})), 0.03);
    const Rect& s = scene.geo.screen;
    const int left = int(s.x + s.w / 4), right = int(s.x + s.w * 3 / 4), y = int(s.y + s.h / 2);
    const int top = scene.h - 1 - y;
    const float glass = scene.glass ? scene.glass->alpha.top(top)[left] : 0.f;
    const Px8 plate = scene.plate.at(left, y);
    for (const char* name : {"/png.mov", "/rle.mov", "/prores.mov"}) {
        SCOPED_TRACE(name);
        const Ran r = pellmar({"frame", dir + name, dir + "/v.mp4", "--size", "180x320"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(ffmpeg("-i " + dir + "/v.mp4 -frames:v 1 " + dir + "/v.png"));
        const Image8 frame = loadCG(dir + "/v.png");
        const Px8 beneath = frame.at(left, y), shown = frame.at(right, y);
        EXPECT_NEAR(beneath.r, plate.r * (1 - glass), 6);
        EXPECT_NEAR(beneath.g, plate.g * (1 - glass), 6);
        EXPECT_NEAR(beneath.b, plate.b * (1 - glass), 6);
        EXPECT_GT(shown.r, 180);
        EXPECT_LT(shown.g, 60);
    }
}
