#include <gtest/gtest.h>

#include "flat/scene.h"
#include "video/island.h"
#include "video/source.h"

namespace {

const Px8 bar{90, 60, 40, 255};
const Px8 black{0, 0, 0, 255};
const Px8 red{0, 0, 255, 255};

// A frame with a flat status bar and a black pill of `len` x `rows` pixels from top row
// `top`, centred `shift` pixels right of the middle, with `dots` red pixels in it.
Image8 phoneFrame(int W, int H, int len, int rows, int shift = 0, int dots = 100, int top = 20) {
    Image8 f(W, H);
    for (auto& p : f.px) p = bar;
    const int lo = W / 2 - len / 2 + shift;
    for (int i = top; i < top + rows; ++i)
        for (int x = lo; x < lo + len; ++x) f.top(i)[x] = black;
    // The dot sits at the right end of the pill, in its middle rows, 10 pixels wide.
    for (int k = 0; k < dots; ++k) f.top(top + rows / 2 - 5 + k / 10)[lo + len - 20 + k % 10] = red;
    return f;
}

}  // namespace

TEST(IslandDetect, FindsTheWidenedPillWithItsDot) {
    const Image8 f = phoneFrame(1080, 2340, 380, 100);
    const auto is = Island::detect(f.view());
    ASSERT_TRUE(is);
    const int lo = 540 - 190;
    EXPECT_EQ(is->dotless, (Rect{double(lo), 2340 - 119 - 1, 380, 100}));
    EXPECT_EQ(is->wipe, (Rect{lo - 9.0, 2220 - 9.0, 398, 118}));
    EXPECT_NEAR(is->pill.w, 341.8, 0.05);
    EXPECT_DOUBLE_EQ(is->pill.x, 540 - is->pill.w / 2);
    // pad = 9 + max(100 / 8, 6) = 21, on the middle row of the pill.
    EXPECT_EQ(is->probeLX, lo - 21);
    EXPECT_EQ(is->probeRX, lo + 380 + 21);
    EXPECT_EQ(is->probeY, 69);
}

// Each limit of the search, just inside and just outside: runs longer than W / 5 = 216 and
// centred less than W / 10 = 108 from the middle, 2340 / 40 = 58 rows and 40 red pixels at
// least, within the top 8 % (187 of 2340 rows); frames 100 wide or with a band of 10 rows
// are never searched.
TEST(IslandDetect, EachThresholdFromBothSides) {
    struct Case {
        int w, h, len, rows, shift, dots, top;
        bool found;
    } cases[] = {
        {1080, 2340, 216, 100, 0, 100, 20, false},  {1080, 2340, 218, 100, 0, 100, 20, true},
        {1080, 2340, 648, 100, 0, 100, 20, false},  {1080, 2340, 380, 100, 108, 100, 20, false},
        {1080, 2340, 380, 100, 106, 100, 20, true}, {1080, 2340, 380, 30, 0, 100, 20, false},
        {1080, 2340, 380, 60, 0, 100, 20, true},    {1080, 2340, 380, 100, 0, 39, 20, false},
        {1080, 2340, 380, 100, 0, 40, 20, true},    {1080, 2340, 380, 100, 0, 0, 20, false},
        {100, 2340, 40, 100, 0, 100, 20, false},    {1080, 137, 380, 5, 0, 0, 1, false},
        {1080, 2340, 380, 100, 0, 100, 190, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Island::detect(phoneFrame(c.w, c.h, c.len, c.rows, c.shift, c.dots, c.top).view()).has_value(),
                  c.found)
            << c.w << "x" << c.h << ", pill " << c.len << "x" << c.rows << " +" << c.shift << " from row " << c.top
            << ", " << c.dots << " red";
}

TEST(IslandApply, FlatBarIsRepaintedWithAnOrdinaryPill) {
    Image8 f = phoneFrame(1080, 2340, 380, 100);
    const auto is = Island::detect(f.view());
    ASSERT_TRUE(is);
    is->apply(f.view());
    // The dot lay beyond the ordinary pill's right end: now status bar.
    const int dotX = 540 + 190 - 15, midRow = 70;
    EXPECT_EQ(f.top(midRow)[dotX], bar);
    EXPECT_EQ(f.top(midRow)[540], black);
    // Far from the pill nothing changed.
    EXPECT_EQ(f.top(midRow)[10], bar);
    EXPECT_EQ(f.top(500)[540], bar);
}

// Sides of the bar within four levels count as flat: the fill is the mean of both. Five
// apart, the bar is busy and a black pill covers the dot, leaving the bar beside it.
TEST(IslandApply, BusyBarGetsABlackPillOverTheDot) {
    for (const int step : {4, 5}) {
        Image8 f = phoneFrame(1080, 2340, 380, 100);
        const auto is = Island::detect(f.view());
        ASSERT_TRUE(is);
        for (int i = 0; i < 187; ++i)
            for (int x = 540 + 190; x < 1080; ++x) f.top(i)[x].g = uint8_t(bar.g + step);
        const Px8 right = f.top(70)[540 + 195];
        is->apply(f.view());
        const Px8 flat{bar.b, uint8_t(bar.g + 2), bar.r, 255};
        EXPECT_EQ(f.top(70)[540 + 190 - 15], step == 4 ? flat : black) << step;
        if (step == 5) {
            EXPECT_EQ(f.top(70)[540 + 195], right);
        }
    }
}

TEST(FramePrep, SidewaysRecordingsAreNotTidiedButTurned) {
    const Image8 f = phoneFrame(1080, 2340, 380, 100);
    Source up, sideways;
    up.orient = 1;
    sideways.orient = 6;
    EXPECT_TRUE(FramePrep::make(up, f.view()).island);
    const FramePrep turn = FramePrep::make(sideways, f.view());
    EXPECT_FALSE(turn.island);
    const Image8 out = turn(f);
    EXPECT_EQ(out.w, 2340);
    EXPECT_EQ(out.h, 1080);
}
