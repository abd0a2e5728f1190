#include <gtest/gtest.h>

#include <cstdlib>

#include "video/av.h"
#include "video/screen.h"

TEST(BgraToYUV, AgreesWithSwscaleWithinOneLevel) {
    Image8 img(64, 36);
    for (int i = 0; i < img.h; ++i)
        for (int x = 0; x < img.w; ++x)
            img.top(i)[x] = {uint8_t(x * 4), uint8_t(i * 7), uint8_t((x * 13 + i * 5) & 255), 255};
    img.top(0)[0] = {0, 0, 0, 255};
    img.top(0)[1] = {255, 255, 255, 255};

    FramePtr mine = newAVFrame(), theirs = newAVFrame();
    for (AVFrame* f : {mine.get(), theirs.get()}) {
        f->format = AV_PIX_FMT_YUV420P;
        f->width = img.w;
        f->height = img.h;
        ASSERT_GE(av_frame_get_buffer(f, 64), 0);
    }
    bgraToYUV(img.view(), mine.get());
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
    FramePtr f = newAVFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = 4;
    f->height = 2;
    ASSERT_GE(av_frame_get_buffer(f.get(), 64), 0);
    bgraToYUV(img.view(), f.get());
    for (int p = 1; p < 3; ++p)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(f->data[p][x], 128);
}
