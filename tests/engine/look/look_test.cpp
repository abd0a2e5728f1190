#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "look/look.h"
#include "support/support.h"

using testing::ExitedWithCode;

TEST(LookFormat, KeysAndValuesAreTrimmedAndUnquoted) {
    const Look l = Look::parse(
        "  a =  \"1.5\"  \n"
        "b=\" 2\"\n"
        "c=\"\"\n"
        "d=\"\n"
        "e = 3 # not a comment\n"
        "# f=9\n"
        "no equals here\n"
        "\n"
        "g=1\n"
        "g=2\n"
        "\t\xc2\xa0h\xe3\x80\x80=\xe2\x80\x83x\n");
    EXPECT_EQ(l.str("a"), "1.5");
    EXPECT_EQ(l.str("b"), " 2");
    EXPECT_EQ(l.str("c"), "");
    EXPECT_EQ(l.str("d"), "\"");
    EXPECT_EQ(l.str("e"), "3 # not a comment");
    EXPECT_FALSE(l.has("# f"));
    EXPECT_FALSE(l.has("f"));
    EXPECT_EQ(l.str("g"), "2");
    EXPECT_EQ(l.str("h"), "x");  // Unicode space separators trim like spaces
}

TEST(LookNumbers, ReadWholeCLocaleLiterals) {
    const Look l = Look::parse("a=1e1\nb=0x10\nc=-.5\nd=inf\nlist=\" 1 , ,2,x,\t3 ,\"\ntwo=1,x,2\ngap=1,,2\n");
    EXPECT_EQ(l.num("a"), 10);
    EXPECT_EQ(l.num("b"), 16);
    EXPECT_EQ(l.num("c"), -0.5);
    EXPECT_TRUE(std::isinf(l.num("d")));
    EXPECT_EQ(l.nums("list", 3), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(l.nums("two", 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(l.nums("gap", 2), (std::vector<double>{1, 2}));
}

TEST(LookNumbersDeathTest, MessagesNameTheKeyAndTheStoredValue) {
    const Look l = Look::parse("sp=\" 2\"\nhash=3 # x\none=4\nempty=\"\"\n");
    EXPECT_EXIT(l.num("sp"), ExitedWithCode(1), "^look.conf: sp wants a number, got  2\n$");
    EXPECT_EXIT(l.num("hash"), ExitedWithCode(1), "^look.conf: hash wants a number, got 3 # x\n$");
    EXPECT_EXIT(l.num("empty"), ExitedWithCode(1), "^look.conf: empty wants a number, got \n$");
    EXPECT_EXIT(l.nums("one", 2), ExitedWithCode(1), "^look.conf: one wants 2 comma-separated numbers, got 4\n$");
    EXPECT_EXIT(l.num("gone"), ExitedWithCode(1), "^look.conf: missing gone\n$");
    EXPECT_EXIT(l.str("gone"), ExitedWithCode(1), "^look.conf: missing gone\n$");
    EXPECT_EQ(l.nums("sp", 1), std::vector<double>{2});  // list items are trimmed
}

TEST(LookFormat, ShippedFileHoldsEveryKeyQuoted) {
    const std::string text = readFile(shippedLook());
    const Look l = Look::parse(text);
    const LookValues v = LookValues::read(l);  // would end the process on a missing key
    EXPECT_GT(v.frameReference, 0);
    // The application finds the theme base colours by this exact pattern.
    EXPECT_NE(text.find("\ntheme_dark=\"#"), std::string::npos);
    EXPECT_NE(text.find("\ntheme_light=\"#"), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

// Start-up reads the look before the arguments, through the real program.
class LookStartup : public testing::Test {
protected:
    std::string dir = tempDir();
    Ran runWith(const std::string& text, std::vector<std::string> args = {}) {
        writeFile(dir + "/look.conf", text);
        return pellmar(args, {"TREVALO_LOOK=" + dir + "/look.conf"});
    }
};

TEST_F(LookStartup, ABrokenStartupKeyStopsEveryCommand) {
    std::string text = readFile(shippedLook());
    const auto at = text.find("frame_reference=");
    const std::string broken = text.substr(0, at) + "frame_reference=\"big\"\n" + text.substr(text.find('\n', at) + 1);
    Ran r = runWith(broken);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "look.conf: frame_reference wants a number, got big\n");

    const std::string missing = text.substr(0, at) + text.substr(text.find('\n', at) + 1);
    r = runWith(missing, {"audio"});
    EXPECT_EQ(r.err, "look.conf: missing frame_reference\n");
}

TEST_F(LookStartup, CrLfFileFailsAtTheFirstKeyItBreaks) {
    std::string text = "bezel_screen_radius=\"0.1\"\nbezel_thickness=\"0.04\"\nframe_reference=\"1080\"\n";
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Ran r = runWith(crlf);
    EXPECT_EQ(r.status, 1);
    // The value keeps its quotes: it no longer ends with one. Its line ends are spelled
    // out, so the message stays one line.
    EXPECT_EQ(r.err.rfind("look.conf: bezel_screen_radius wants a number, got \"0.1\"\\r\\nbezel_thickness=", 0), 0u)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(LookStartup, UnreadableFilesAreNotFound) {
    Ran r = runWith("a=\"\xff\xfe\"\n");
    EXPECT_EQ(r.err, "look.conf not found at " + dir + "/look.conf\n");
    r = pellmar({}, {"TREVALO_LOOK="});
    EXPECT_EQ(r.err, "look.conf not found at \n");
    r = pellmar({}, {"TREVALO_LOOK=" + dir});
    EXPECT_EQ(r.err, "look.conf is a folder: " + dir + "\n");
}

TEST_F(LookStartup, TheFileIsReadUpToOneMebibyte) {
    // The shipped look padded with comment lines to the bound exactly still starts up;
    // one byte more is refused before anything is parsed.
    std::string text = readFile(shippedLook());
    const std::string comment = "# " + std::string(98, '.') + "\n";
    while (text.size() + comment.size() <= maxLookBytes) text += comment;
    text += "#" + std::string(maxLookBytes - text.size() - 2, '.') + "\n";
    ASSERT_EQ(text.size(), maxLookBytes);
    Ran r = runWith(text);
    EXPECT_EQ(r.err, "usage: pellmar <still|frame|poster|spin|audio|gen-test|plan|sizes> ...\n");
    r = runWith(text + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "look.conf too large: " + dir + "/look.conf\n");
}

// Without TREVALO_LOOK: beside the program as started, then beside it or in the installed
// share folder from where it really lies (a link on the PATH, or a bare name, gets there).
TEST(LookPath, BesideTheProgramThenTheInstalledShareFolder) {
    unsetenv("TREVALO_LOOK");
    const std::string root = tempDir(), bin = root + "/bin/pellmar", shared = root + "/share/trevalo/look.conf";
    std::filesystem::create_directories(root + "/bin");
    std::filesystem::create_directories(root + "/share/trevalo");
    std::filesystem::create_directories(root + "/links");

    EXPECT_EQ(Look::pathFor(bin.c_str(), bin), root + "/bin/look.conf");  // neither: the designed place
    writeFile(shared, "");
    EXPECT_EQ(Look::pathFor(bin.c_str(), bin), shared);
    EXPECT_EQ(Look::pathFor((root + "/links/pellmar").c_str(), bin), shared);
    EXPECT_EQ(Look::pathFor("pellmar", bin), shared);  // from the PATH, no look.conf here
    EXPECT_EQ(Look::pathFor(bin.c_str(), ""), root + "/bin/look.conf");
    // A build tree's engine, linked into another folder, keeps its file beside it.
    std::filesystem::create_directories(root + "/build");
    writeFile(root + "/build/look.conf", "");
    EXPECT_EQ(Look::pathFor((root + "/links/pellmar").c_str(), root + "/build/pellmar"), root + "/build/look.conf");

    // One beside the program wins, broken or not: it is what the user put there.
    std::filesystem::create_directories(root + "/bin/look.conf");
    EXPECT_EQ(Look::pathFor(bin.c_str(), bin), root + "/bin/look.conf");
}
