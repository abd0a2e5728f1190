#include <gtest/gtest.h>

#include "base/opts.h"
#include "support/support.h"

using testing::ExitedWithCode;

TEST(ParseSize, AcceptsWxHAndItsLenientForms) {
    EXPECT_EQ(parseSize("1080x1920"), std::make_pair(1080, 1920));
    EXPECT_EQ(parseSize("+1080x1920"), std::make_pair(1080, 1920));
    EXPECT_EQ(parseSize("1080xx1920"), std::make_pair(1080, 1920));
    EXPECT_EQ(parseSize("x1x2x"), std::make_pair(1, 2));
}

TEST(ParseSizeDeathTest, RejectsWithTheSizeMessage) {
    for (const char* bad : {"1080X1920", "1080x", "0x100", "1080x1920x2", "axb", "12", "-5x10", "1080 x1920",
                            "99999999999x10", "", "iPhone-6.9", "iphone-6.9 ", "iphone-7", "ipad-13-portrait"}) {
        EXPECT_EXIT(parseSize(bad), ExitedWithCode(1),
                    "^bad --size: " + std::string(bad) + "  \\(want WxH, e\\.g\\. 1080x1920\\)\n$")
            << bad;
    }
}

TEST(ParseSize, StoreSizesByNameEachWithALandscapeForm) {
    // Every named size turns on its side under its -landscape name, and `sizes` lists both.
    for (const NamedSize& s : namedSizes())
        if (!s.name.ends_with("-landscape")) {
            EXPECT_EQ(parseSize(s.name), std::make_pair(s.w, s.h)) << s.name;
            EXPECT_EQ(parseSize(s.name + "-landscape"), std::make_pair(s.h, s.w)) << s.name;
        }
    EXPECT_EQ(parseSize("iphone-6.9"), std::make_pair(1320, 2868));

    const Ran r = pellmar({"sizes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n', r.out.find('\n') + 1) + 1),
              "iphone-6.9            1320x2868\niphone-6.9-landscape  2868x1320\n");
}

TEST(ParseSize, EveryCommandTakesNames) {
    // Each command reads its sizes before its input, so a missing input shows the name passed.
    const std::vector<std::vector<std::string>> calls = {
        {"still", "none.png", "x.png", "--size", "ipad-13"},
        {"poster", "none.mov", "x.png", "--size", "iphone-6.9-landscape"},
        {"frame", "none.mov", "--out", "x.mp4", "iphone-5.5", "full", "--out", "y.mp4", "ipad-11-landscape", "full"},
        {"spin", "none.png", "x.mp4", "--size", "iphone-6.1"},
        {"spin", "none.mov", "x.mp4", "--size", "ipad-12.9"},
    };
    for (const auto& args : calls) {
        const Ran r = pellmar(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err == "cannot read image: none.png\n" || r.err == "recording not found: none.mov\n")
            << args[0] << ": " << r.err;
    }
    EXPECT_EQ(pellmar({"still", "none.png", "x.png", "--size", "ipad"}).err,
              "bad --size: ipad  (want WxH, e.g. 1080x1920)\n");
}

TEST(Opts, UnknownDashWordsAfterAFileArePositionals) {
    const Opts o({"a.png", "-v", "b.png"});
    EXPECT_TRUE(o.outs.empty());
    EXPECT_EQ(o.files, (std::vector<std::string>{"a.png", "-v", "b.png"}));
}

TEST(Opts, ValuesAreTakenAsTheyStand) {
    const Opts o({"--theme", "--size", "x", "--size", "1x1", "--size", "2x2", "--start", "1e1", "--max", "0"});
    EXPECT_EQ(o.theme, "--size");
    EXPECT_EQ(o.files, std::vector<std::string>{"x"});
    EXPECT_EQ(o.size, "2x2");
    EXPECT_EQ(o.startSec, 10);
    EXPECT_EQ(o.maxSec, 0);
}

TEST(OptsDeathTest, EachFaultHasItsLine) {
    using V = std::vector<std::string>;
    EXPECT_EXIT(Opts(V{"a", "--theme"}), ExitedWithCode(1), "^--theme needs a value\n$");
    EXPECT_EXIT(Opts(V{"--start"}), ExitedWithCode(1), "^--start needs a value\n$");
    for (const char* bad : {"-1", "nan", "abc", " 1", ""})
        EXPECT_EXIT(Opts(V{"--start", bad}), ExitedWithCode(1),
                    "^--start wants seconds, got " + std::string(bad) + "\n$");
    EXPECT_EXIT(Opts(V{"--max", "-0.5"}), ExitedWithCode(1), "^--max wants seconds, got -0.5\n$");
    EXPECT_EXIT(Opts(V{"--verbose"}), ExitedWithCode(1), "^unknown option: --verbose\n$");
    EXPECT_EXIT(Opts(V{"--out", "a", "1x1"}), ExitedWithCode(1), "^--out needs <path> <WxH> <layout>\n$");
    // Outs are checked before the plain layout, in list order.
    EXPECT_EXIT(Opts(V{"--layout", "bad", "--out", "a", "1x1", "odd"}), ExitedWithCode(1),
                "^unknown layout: odd  \\(want full·closeup·spin·closeup_spin\\)\n$");
    EXPECT_EXIT(Opts(V{"--layout", "Full"}), ExitedWithCode(1), "^unknown layout: Full  \\(want ");
}

// Without a readable look file even the usage is not reached, whatever the command; the
// build copies look.conf beside pellmar, where it is found with the variable unset.
TEST(Dispatch, TheLookComesFirst) {
    for (auto args : std::vector<std::vector<std::string>>{{}, {"audio"}, {"gen-test"}, {"still", "a", "b"}}) {
        const Ran r = pellmar(args, {"TREVALO_LOOK=/nonexistent/look.conf"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "look.conf not found at /nonexistent/look.conf\n");
    }
    const Ran r = shell("env -u TREVALO_LOOK " PELLMAR_BIN " 2>&1");
    EXPECT_EQ(r.out, "usage: pellmar <still|frame|poster|spin|audio|gen-test|plan|sizes> ...\n");
}
