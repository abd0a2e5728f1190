#include <gtest/gtest.h>

#include "flat/palette.h"
#include "support/support.h"

using testing::ExitedWithCode;

TEST(CgColor, ReadsHexWithOrWithoutHashInEitherCase) {
    const Color c = cgColor("#FF8000", 0.5);
    EXPECT_DOUBLE_EQ(c.r, 1);
    EXPECT_DOUBLE_EQ(c.g, 128 / 255.0);
    EXPECT_DOUBLE_EQ(c.b, 0);
    EXPECT_DOUBLE_EQ(c.a, 0.5);
    const Color d = cgColor("ff8000");
    EXPECT_DOUBLE_EQ(d.g, c.g);
    EXPECT_DOUBLE_EQ(d.a, 1);
}

TEST(CgColorDeathTest, ShortLongAndForeignFormsAreRejected) {
    for (const char* bad : {"#fff", "#ff800080", "#gg0000", "", "#", "# ff8000", "##ff8000"})
        EXPECT_EXIT(cgColor(bad), ExitedWithCode(1), "^bad colour: " + std::string(bad) + "  \\(want #RRGGBB\\)\n$")
            << bad;
}

TEST(ThemePalette, ComesWhollyFromTheLookFile) {
    ScopedLook l({{"theme_light", "#010203,#040506,#070809,0.25,0.5"},
                  {"bezel_edge_light", "0.1,0.2"},
                  {"screen_glass_light", "0,0.4"}});
    const Palette p = themePalette(false);
    EXPECT_EQ(p.base, "#010203");
    EXPECT_EQ(p.bodyTop, "#040506");
    EXPECT_EQ(p.bodyBot, "#070809");
    EXPECT_EQ(p.glowOp, 0.25);
    EXPECT_EQ(p.shadowOp, 0.5);
    EXPECT_EQ(p.edge, 0.1);
    EXPECT_EQ(p.edgeBlur, 0.2);
    EXPECT_EQ(p.glass, 0);
    EXPECT_EQ(p.glassBlur, 0.4);
    EXPECT_FALSE(p.edgeLit);
    EXPECT_TRUE(themePalette(true).edgeLit);
}

TEST(ThemePalette, SpacesAroundColoursPassUntilTheyAreDrawn) {
    ScopedLook l({{"theme_dark", " #010203 ,#040506,#070809,0.25,0.5"}});
    const Palette p = themePalette(true);
    EXPECT_EQ(p.base, " #010203 ");
    EXPECT_EXIT(cgColor(p.base), ExitedWithCode(1), "^bad colour:  #010203   \\(want #RRGGBB\\)\n$");
}

TEST(ThemePaletteDeathTest, FiveFieldsWithBareNumbers) {
    const std::string msg = "^look.conf: theme_dark wants base,bodyTop,bodyBot,glowOp,shadowOp\n$";
    for (const char* bad : {"#010203, #040506, #070809, 0.25, 0.5", "#010203,#040506,#070809,0.25,0.5,1",
                            "#010203,,#070809,0.25,0.5", "#010203,#040506,#070809,x,0.5"}) {
        EXPECT_EXIT(
            {
                ScopedLook l({{"theme_dark", bad}});
                themePalette(true);
            },
            ExitedWithCode(1), msg)
            << bad;
    }
    EXPECT_EXIT(
        {
            ScopedLook l({{"bezel_edge_dark", "0.2"}});
            themePalette(true);
        },
        ExitedWithCode(1), "^look.conf: bezel_edge_dark wants 2 comma-separated numbers, got 0.2\n$");
}
