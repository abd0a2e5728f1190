#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "support/support.h"
#include "support/terminal.h"

namespace {

const char* const commands[] = {"still", "frame", "poster", "spin", "audio", "gen-test", "plan", "sizes"};

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace

// The usage line names every command that the list below it does.
TEST(Help, OverviewNamesEveryCommandEvenWithoutALookFile) {
    for (const char* flag : {"--help", "help"}) {
        const Ran r = pellmar({flag}, {"TREVALO_LOOK=/nonexistent/look.conf"});
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(firstLine(r.out), "usage: pellmar <still|frame|poster|spin|audio|gen-test|plan|sizes> ...");
        for (const char* c : commands) EXPECT_NE(r.out.find(std::string("  ") + c + " "), std::string::npos) << c;
        for (const char* word : {"--progress", "TREVALO_LOOK", "PELLMAR_GPU"})
            EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
}

// The usage a command shows on request is the one it answers a wrong argument list with.
TEST(Help, EachCommandShowsTheUsageItDiesWith) {
    for (const char* c : commands) {
        const Ran wrong = std::string(c) == "sizes" ? pellmar({c, "extra"}) : pellmar({c});
        const Ran help = pellmar({"help", c});
        EXPECT_EQ(wrong.status, 1) << c;
        EXPECT_EQ(help.status, 0) << c;
        EXPECT_EQ(firstLine(help.out) + "\n", wrong.err) << c;
    }
}

TEST(Help, VersionIsOneLine) {
    const Ran r = pellmar({"--version"}, {"TREVALO_LOOK=/nonexistent/look.conf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("pellmar [0-9]+\\.[0-9]+(\\.[0-9]+)*\n"))) << r.out;
    EXPECT_EQ(r.err, "");
}

// Printing is what these runs are for: a full disk under standard output is a failure.
TEST(Help, OutputThatCannotBeWrittenFails) {
    for (const char* args : {"--version", "sizes", "--help"}) {
        const Ran r = shell(std::string(PELLMAR_BIN " ") + args + " >/dev/full");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "cannot write to standard output\n") << args;
    }
}

// Only the exact new words are new: everything else answers as it always did.
TEST(Help, OtherWordsKeepTheirMessages) {
    for (const char* word : {"-h", "--helpx", "Help", "version", "-V"}) {
        const Ran r = pellmar({word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.err, std::string("unknown subcommand: ") + word + "\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(pellmar({"help", "Still"}).err, "unknown subcommand: Still\n");
    EXPECT_EQ(pellmar({"help", "still", "frame"}).err, "usage: pellmar help [COMMAND]\n");
    EXPECT_EQ(pellmar({"still", "--help"}).err, "unknown option: --help\n");
    // The look file still comes before any other argument is looked at.
    EXPECT_EQ(pellmar({"nope"}, {"TREVALO_LOOK=/nonexistent/look.conf"}).err,
              "look.conf not found at /nonexistent/look.conf\n");
}

// The long commands on a terminal: a line while they work, the same output as anywhere else.
class TerminalProgress : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = tempDir();
        // A short turn keeps the turning clips to a few dozen frames.
        writeFile(dir + "/look.conf", lookWith({{"spin_timing", "0.05,0.3,0.05"}}));
        env = {"TREVALO_LOOK=" + dir + "/look.conf"};
        ASSERT_EQ(
            pellmar({"still", sourceDir() + "/resources/sample.png", dir + "/shot.png", "--size", "96x208"}).status, 0);
        ASSERT_EQ(pellmar({"gen-test", dir + "/shot.png", dir + "/rec.mov", "--seconds", "1", "--fps", "12"}).status,
                  0);
    }
    static std::string dir;
    static std::vector<std::string> env;

    // Runs the command on a pipe and on a terminal; both must print the same and leave the
    // terminal as the pipe's standard error.
    void sameOutputBothWays(const std::vector<std::string>& args, const std::string& shownName) {
        const Ran piped = pellmar(args, env);
        const Ran shown = pellmarOnTerminal(args, env);
        ASSERT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(shown.status, 0);
        EXPECT_EQ(piped.err, "");
        EXPECT_EQ(shown.out, piped.out);
        EXPECT_EQ(screenOf(shown.err), "");
        EXPECT_NE(shown.err.find(shownName), std::string::npos) << shown.err;
        EXPECT_NE(shown.err.find("elapsed"), std::string::npos) << shown.err;
        for (const std::string& l : lines(piped.out)) EXPECT_EQ(l.rfind("saved ", 0), 0u) << l;
    }
};
std::string TerminalProgress::dir;
std::vector<std::string> TerminalProgress::env;

TEST_F(TerminalProgress, FrameShowsEachOutput) {
    sameOutputBothWays({"frame", dir + "/rec.mov", "--out", dir + "/a.mp4", "96x160", "full", "--out", dir + "/b.mp4",
                        "96x96", "closeup_spin"},
                       "a.mp4");
}

TEST_F(TerminalProgress, SpinShowsItsClip) {
    sameOutputBothWays({"spin", dir + "/shot.png", dir + "/turn.mp4", "--size", "64x112"}, "turn.mp4");
}

TEST_F(TerminalProgress, FailureLeavesTheMessageOnly) {
    const Ran r = pellmarOnTerminal({"frame", dir + "/rec.mov", dir + "/no/such/folder/a.mp4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(screenOf(r.err)).size(), 1u) << screenOf(r.err);
    EXPECT_EQ(screenOf(r.err), pellmar({"frame", dir + "/rec.mov", dir + "/no/such/folder/a.mp4"}).err);
}

// --progress: counts of frames over all outputs, rising to complete, then the "saved " lines.
TEST_F(TerminalProgress, ReportLinesPrecedeTheSavedLines) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"frame", dir + "/rec.mov", "--out", dir + "/c.mp4", "96x160", "full", "--out",
                                   dir + "/d.mp4", "96x96", "closeup", "--progress"},
          std::vector<std::string>{"spin", dir + "/shot.png", dir + "/turn2.mp4", "--size", "64x112", "--progress"}}) {
        const Ran r = pellmar(args, env);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        long long lastDone = -1, total = 0, saved = 0, frames = 0;
        bool savedSeen = false;
        for (const std::string& l : lines(r.out)) {
            long long d = 0, t = 0, n = 0;
            if (std::sscanf(l.c_str(), "progress %lld %lld", &d, &t) == 2) {
                EXPECT_FALSE(savedSeen) << l;
                EXPECT_GE(d, lastDone) << l;
                EXPECT_LE(d, t) << l;
                lastDone = d;
                total = t;
            } else {
                ASSERT_EQ(l.rfind("saved ", 0), 0u) << l;
                savedSeen = true;
                ++saved;
                if (std::sscanf(l.c_str() + l.rfind("  ("), "  (%*dx%*d, %lld frames", &n) == 1) frames += n;
            }
        }
        EXPECT_EQ(lastDone, total);
        EXPECT_EQ(total, frames) << r.out;  // the counts are the frames the saved lines report
        EXPECT_EQ(saved, args[0] == "frame" ? 2 : 1);
    }
}
