#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "base/die.h"
#include "base/progress.h"
#include "support/terminal.h"

TEST(ProgressLine, CountsEachOutputAndEstimatesTheRest) {
    const std::vector<FrameCount> two{{"/tmp/out/a.mp4", 30, 120}, {"b.mp4", 60, 240}};
    EXPECT_EQ(progressLine("frame", two, 12.0, 200), "frame: a.mp4 30/120 · b.mp4 60/240 · 0:12 elapsed · 0:36 left");
    // Nothing done yet: no estimate; a count past its total is all done, not negative time.
    EXPECT_EQ(progressLine("spin", {{"c.mp4", 0, 210}}, 0.4, 200), "spin: c.mp4 0/210 · 0:00 elapsed");
    EXPECT_EQ(progressLine("spin", {{"c.mp4", 250, 210}}, 3725, 200), "spin: c.mp4 250/210 · 1:02:05 elapsed");
}

TEST(ProgressLine, StaysOneLineInsideTheTerminal) {
    // A control character in a file name would break the line; the last column stays free.
    EXPECT_EQ(progressLine("frame", {{"a\nb\x1b.mp4", 1, 2}}, 0, 200),
              "frame: a?b?.mp4 1/2 · 0:00 elapsed · 0:00 left");
    const std::string cut = progressLine("frame", {{"ab.mp4", 1, 2}, {"cd.mp4", 1, 2}}, 0, 20);
    EXPECT_EQ(cut, "frame: ab.mp4 1/2 ·");  // 19 characters, the middle dot counted as one
}

// The line is gone when the work ends, however it ends; a normal end is checked through the
// built program on a terminal (TerminalProgress).
TEST(ProgressTerminal, DieLeavesItsMessageAlone) {
    const Ran r = onTerminal([] {
        Progress p("spin", {{"a.mp4", 0, 10}}, Report::none);
        p.reached(0, 3);
        die("read failed: a.mov");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("spin: a.mp4"), std::string::npos);
    EXPECT_EQ(screenOf(r.err), "read failed: a.mov\n");
}

TEST(ProgressTerminal, AnInterruptErasesTheLineAndStillEndsTheProcess) {
    const Ran r = onTerminal([] {
        Progress p("spin", {{"a.mp4", 0, 10}}, Report::none);
        std::raise(SIGINT);
    });
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_NE(r.err.find("spin: a.mp4"), std::string::npos);
    EXPECT_EQ(screenOf(r.err), "");
}

// For a program that runs the engine: the first count at once, the last one complete, and
// the "saved " lines after them.
TEST(ProgressReport, FirstAndLastCountsPrecedeTheSavedLines) {
    const Ran r = onTerminal([] {
        Progress p("frame", {{"a.mp4", 0, 4}, {"b.mp4", 0, 4}}, Report::lines);
        p.expect(1, 8);
        for (int i = 1; i <= 6; ++i) p.reached(0, i);  // more frames than first thought
        p.reached(1, 8);
        p.finish();
        std::printf("saved a.mp4\n");
    });
    EXPECT_EQ(r.out.rfind("progress 0 8\n", 0), 0u) << r.out;
    EXPECT_TRUE(r.out.ends_with("progress 14 14\nsaved a.mp4\n")) << r.out;
    EXPECT_EQ(screenOf(r.err), "");
}
