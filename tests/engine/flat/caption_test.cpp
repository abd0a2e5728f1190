#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "flat/dress.h"
#include "flat/imageio.h"
#include "flat/scene.h"
#include "base/opts.h"
#include "support/support.h"

namespace {

const double shotW = 1179, shotH = 2556;

Style styleOf(std::vector<std::string> args) { return Style(Opts(args)); }

double lum(const PxF& p) { return (p.r + p.g + p.b) / 3; }

// The rows (from the bottom) and columns where two backdrops differ by more than a trace.
struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    double most = 0;
    bool empty() const { return x1 < 0; }
};
Box differing(const SurfaceF& a, const SurfaceF& b) {
    Box box;
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x) {
            const double d = std::abs(lum(a.at(x, y)) - lum(b.at(x, y)));
            box.most = std::max(box.most, d);
            if (d < 2 / 255.0) continue;
            box.x0 = std::min(box.x0, x), box.x1 = std::max(box.x1, x);
            box.y0 = std::min(box.y0, y), box.y1 = std::max(box.y1, y);
        }
    return box;
}

struct Shape {
    const char* name;
    int w, h;
    Layout layout;
};
// The window's shapes at a quarter of their size.
const Shape shapes[] = {{"vertical", 270, 480, Layout::full},
                        {"horizontal", 480, 270, Layout::full},
                        {"horizontal_closeup", 480, 270, Layout::closeup},
                        {"square", 270, 270, Layout::full},
                        {"square_closeup", 270, 270, Layout::closeup}};

}  // namespace

TEST(Caption, TextLiesInItsBandAndNeverOnTheDevice) {
    for (const Shape& s : shapes)
        for (const char* where : {"top", "bottom"}) {
            SCOPED_TRACE(std::string(s.name) + " " + where);
            const Style plain = styleOf({"--backdrop", "#203050"});
            const Style titled = styleOf({"--backdrop", "#203050", "--title", "Plan your week", "--subtitle",
                                          "in one glance", "--caption", where});
            const Scene bare(s.w, s.h, s.layout, shotW, shotH, plain, 0, PlateUse::once);
            const Scene with(s.w, s.h, s.layout, shotW, shotH, titled, 0, PlateUse::once);
            // Text shows only on the caption's side of the room, and wholly inside the frame.
            const Box ink = differing(with.studio(), bare.studio());
            ASSERT_FALSE(ink.empty());
            EXPECT_GT(ink.most, 0.4);
            EXPECT_GT(ink.y0, 0);
            EXPECT_LT(ink.y1, s.h - 1);
            EXPECT_GT(ink.x0, 0);
            EXPECT_LT(ink.x1, s.w - 1);
            const bool below = std::string(where) == "bottom" && s.layout == Layout::full;
            if (below) EXPECT_LT(ink.y1, with.room.y);
            else EXPECT_GT(ink.y0, with.room.maxY());
            // The device keeps its proportions and stays out of the text's rows.
            const Rect& body = with.geo.body;
            EXPECT_NEAR(body.w / body.h, bare.geo.body.w / bare.geo.body.h, 1e-9);
            EXPECT_LT(body.h, bare.geo.body.h);
            if (below) EXPECT_GT(body.y, ink.y1 + 1);
            else EXPECT_LT(body.maxY(), ink.y0);
            if (s.layout == Layout::full) {
                EXPECT_GE(body.y, 0);
                EXPECT_LE(body.maxY(), s.h);
            }
            // The plate's device lies where the screen goes: behind see-through content
            // the middle of the screen shows the grey body, not the blue backdrop.
            Image8 out(s.w, s.h);
            with.draw(out.view(), Image8(4, 8));
            const Rect& sc = with.geo.screen;
            const Px8 mid = out.at(int(sc.x + sc.w / 2), int(sc.y + std::min(sc.h, s.h - sc.y) / 2));
            EXPECT_LT(std::abs(mid.b - mid.r), 12);
        }
}

TEST(Caption, NoTextLeavesTheSceneAsItWas) {
    // An empty title and subtitle are no caption at all: the same geometry and no room. So
    // are texts of spaces and line ends only (a field left with a space in it), which
    // would set no ink at all.
    const Scene a(270, 480, Layout::closeup, shotW, shotH, styleOf({}), 0);
    for (const char* blank : {"", "   ", "\n", " \t\r\n ", "\u00a0\u3000"}) {
        const Scene b(270, 480, Layout::closeup, shotW, shotH, styleOf({"--title", blank, "--subtitle", blank}), 0);
        EXPECT_TRUE(b.room.whole());
        EXPECT_EQ(a.geo.body, b.geo.body);
        EXPECT_EQ(a.plate.px, b.plate.px);
    }
    // A blank subtitle under a title is no subtitle.
    const Scene t(270, 480, Layout::full, shotW, shotH, styleOf({"--title", "Week"}), 0);
    const Scene u(270, 480, Layout::full, shotW, shotH, styleOf({"--title", "Week", "--subtitle", "  "}), 0);
    EXPECT_EQ(t.geo.body, u.geo.body);
    EXPECT_EQ(t.plate.px, u.plate.px);
}

TEST(Caption, LongTitlesWrapWithinTheSideMargins) {
    const Caption one{"Plan your week", "", false};
    const Caption many{"Plan your week, your month and the whole year ahead in one glance", "", false};
    const CaptionBlock a(one, true, Layout::full, 540, 960), b(many, true, Layout::full, 540, 960);
    EXPECT_GE(b.ink.h, 3 * a.ink.h - 4);
    EXPECT_LE(b.ink.w, int(540 * (1 - 2 * 0.08)) + 1);
    // A line feed breaks the line where it stands.
    const CaptionBlock c({"Plan\nyour week", "", false}, true, Layout::full, 540, 960);
    EXPECT_GE(c.ink.h, 2 * a.ink.h - 4);
    EXPECT_LT(c.ink.w, a.ink.w);
}

TEST(Caption, ShrinksToFitAndStopsAtTheSmallestSize) {
    ScopedLook l({{"caption_height", "0.2"}});
    const std::string text = "Plan your week, your month and the whole year ahead in one glance";
    const CaptionBlock a({text, "", false}, true, Layout::full, 540, 960);
    EXPECT_LE(a.ink.h, 0.2 * 960);
    std::string longer = text;
    for (int i = 0; i < 4; ++i) longer += " " + longer;
    EXPECT_DEATH(CaptionBlock({longer, "", false}, true, Layout::full, 540, 960),
                 "caption does not fit: Plan your week.*20% of the frame's height even at the smallest size");
}

TEST(Caption, RightToLeftAndJoiningScriptsAreShaped) {
    const int width = 600;
    auto set = [&](const std::string& text) {
        return setText(captionMarkup(text, "--title", "Noto Sans", 40, 400, 1), width);
    };
    auto same = [](const Plane& a, const Plane& b) { return a.w == b.w && a.h == b.h && a.v == b.v; };
    // Hebrew: a word and its letters in reverse order are different pictures.
    const Plane hebrew = set("שלום"), mirrored = set("םולש");
    ASSERT_GT(hebrew.w, 40);
    EXPECT_FALSE(same(hebrew, mirrored));
    // Arabic: the letters of a word join; kept apart by zero-width non-joiners they do not.
    const Plane joined = set("سلام"), apart = set("س\u200Cل\u200Ca\u200Cم");
    EXPECT_FALSE(same(joined, apart));
    // Glyphs the font has, not the fallback's boxes: letters differ from one another.
    EXPECT_FALSE(same(set("ש"), set("ל")));
}

TEST(Caption, MarkupCharactersAreText) {
    // Markup characters are text, never markup.
    const std::string m = captionMarkup("a<b>&\"c'", "--title", "Noto Sans", 10, 700, 1);
    EXPECT_NE(m.find("a&lt;b&gt;&amp;&quot;c&apos;"), std::string::npos);
    EXPECT_GT(setText(m, 200).w, 0);
}

TEST(Caption, EveryTypographyKeyIsCheckedWhenACaptionIsAsked) {
    struct Case {
        const char* key;
        const char* value;
        const char* err;
    } cases[] = {
        {"caption_font", " ", "look.conf: caption_font wants a font family"},
        {"caption_size", "0.07,0.04", "look.conf: caption_size wants 3 comma-separated numbers"},
        {"caption_weight", "700,50", "look.conf: caption_weight wants two weights from 100 to 1000"},
        {"caption_margin", "0.5,0.05,0.01", "look.conf: caption_margin wants side, edge and device margins"},
        {"caption_colour_dark", "#ffffff", "look.conf: caption_colour_dark wants #RRGGBB,#RRGGBB, got #ffffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ScopedLook l({{c.key, c.value}});
        // Without a caption the keys are never read.
        const CaptionBlock none({}, true, Layout::full, 100, 100);
        EXPECT_TRUE(none.room.whole());
        EXPECT_DEATH(CaptionBlock({"Title", "", false}, true, Layout::full, 100, 100), c.err);
    }
}

TEST(Backdrop, EveryFormReplacesOnlyTheBase) {
    // No glow, so the corners show the base itself.
    ScopedLook l({{"theme_dark", "#1d1e22,#3b3c41,#232428,0,0.85"}});
    const std::string dir = tempDir();
    // A picture twice as wide as high, red on the left and blue on the right.
    ASSERT_EQ(shell("convert -size 100x100 xc:'#ff0000' -size 100x100 xc:'#0000ff' +append " + dir + "/p.png").status,
              0);
    auto corners = [](const Scene& s) {
        const SurfaceF st = s.studio();
        return std::vector<PxF>{st.at(0, st.h - 1), st.at(st.w - 1, st.h - 1), st.at(0, 0), st.at(st.w - 1, 0)};
    };
    auto near = [](const PxF& p, double r, double g, double b) {
        return std::abs(p.r - r) < 0.01 && std::abs(p.g - g) < 0.01 && std::abs(p.b - b) < 0.01;
    };
    const Scene solid(80, 120, Layout::full, shotW, shotH, styleOf({"--backdrop", "#336699"}), 0);
    for (const PxF& p : corners(solid)) EXPECT_TRUE(near(p, 0x33 / 255., 0x66 / 255., 0x99 / 255.));
    const Scene ramp(80, 120, Layout::full, shotW, shotH, styleOf({"--backdrop", "#ffffff,#000000"}), 0);
    const auto rc = corners(ramp);
    EXPECT_GT(rc[0].r, 0.98);  // top: the first colour
    EXPECT_LT(rc[2].r, 0.02);  // bottom: the second
    EXPECT_NEAR(ramp.studio().at(40, 60).r, 0.5, 0.01);
    // The picture covers the frame, centred: a tall frame shows the middle of a wide one.
    const Scene pic(80, 120, Layout::full, shotW, shotH, styleOf({"--backdrop", dir + "/p.png"}), 0);
    const auto pc = corners(pic);
    EXPECT_TRUE(near(pc[0], 1, 0, 0) && near(pc[2], 1, 0, 0));
    EXPECT_TRUE(near(pc[1], 0, 0, 1) && near(pc[3], 0, 0, 1));
    // The device's own colours and its ground shadows are the theme's, on any base.
    Image8 content(10, 20);
    Image8 out(80, 120);
    solid.draw(out.view(), content);
    const Geo& g = solid.geo;
    const Px8 below = out.at(40, int(g.body.y) - 2), corner = out.at(2, 2);
    EXPECT_LT(below.b + 10, corner.b);
    const Px8 bezel = out.at(int(g.body.x + 1.5), int(g.body.y + g.body.h / 2));
    EXPECT_LT(std::abs(bezel.r - bezel.b), 12);  // the theme's grey body, not the blue base
}
