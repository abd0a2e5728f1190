#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "base/die.h"
#include "base/pending.h"
#include "support/support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
}

// The pid of a process that has ended and been reaped.
long deadPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return long(pid);
}

bool validUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : c >> 5 == 6 ? 2 : c >> 4 == 14 ? 3 : c >> 3 == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

TEST(PendingFile, TheTargetChangesOnlyAtCommit) {
    const std::string dir = tempDir(), target = dir + "/out.png";
    writeFile(target, "earlier");
    {
        PendingFile f(target);
        ASSERT_EQ(f.error(), 0);
        EXPECT_EQ(fs::path(f.path()).parent_path(), fs::path(dir));
        writeFile(f.path(), "new");
        EXPECT_EQ(readFile(target), "earlier");
        ASSERT_EQ(f.commit(), 0);
    }
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(names(dir), std::vector<std::string>{"out.png"});

    // Not committed: the hidden file goes, the target stays.
    {
        PendingFile f(target);
        writeFile(f.path(), "abandoned");
    }
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(names(dir), std::vector<std::string>{"out.png"});

    // Two files for one target (the same path given twice): each its own hidden name.
    PendingFile a(target), b(target);
    EXPECT_NE(a.path(), b.path());

    PendingFile missing(dir + "/no/such/folder/x.png");
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_EQ(missing.commit(), ENOENT);
}

TEST(PendingFileDeathTest, DieRemovesHiddenFiles) {
    // A forked child without exec: it sees the folder this process made.
    GTEST_FLAG_SET(death_test_style, "fast");
    const std::string dir = tempDir(), target = dir + "/out.mp4";
    writeFile(target, "earlier");
    EXPECT_EXIT(
        {
            PendingFile f(target);
            writeFile(f.path(), "half a video");
            die("writer failed: disk full");
        },
        testing::ExitedWithCode(1), "^writer failed: disk full\n$");
    EXPECT_EQ(names(dir), std::vector<std::string>{"out.mp4"});
    EXPECT_EQ(readFile(target), "earlier");
}

TEST(PendingFile, HiddenNamesFitAnyTargetName) {
    // 255 bytes is the longest name; the cut must not split a character.
    const std::string longest = std::string(252, 'a') + "\xc3\xa9" + "b";
    const std::string wide = std::string(47, 'x') + "\xe2\x80\xa6" + std::string(100, 'y');
    for (const std::string& name : {longest, wide, std::string("\xf0\x9f\x93\xb1.png")}) {
        const std::string h = hiddenName(name, 4194304, 4000000000u);
        EXPECT_LE(h.size(), 100u) << h;
        EXPECT_EQ(h.rfind(".pellmar-4194304-4000000000-", 0), 0u) << h;
        EXPECT_TRUE(validUtf8(h)) << h;
    }
    const std::string dir = tempDir(), target = dir + "/" + longest;
    PendingFile f(target);
    ASSERT_EQ(f.error(), 0);
    writeFile(f.path(), "x");
    EXPECT_EQ(f.commit(), 0);
    EXPECT_EQ(readFile(target), "x");
}

// Only hidden files of this engine, of runs that have ended, made before this run, and
// only in the target's folder.
TEST(PendingFile, RemovesLeftoversOfEndedRunsOnly) {
    const std::string dir = tempDir(), other = tempDir();
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto future = fs::file_time_type::clock::now() + std::chrono::hours(1);
    const long dead = deadPid();
    struct Case {
        std::string name;
        fs::file_time_type written;
        bool removed;
    } cases[] = {
        {hiddenName("a.mp4", dead, 1), past, true},
        {hiddenName("b.mp4", 1, 1), past, false},       // its run is still going
        {hiddenName("c.mp4", dead, 2), future, false},  // newer than this run
        {".pellmar-" + std::to_string(dead) + "-x.mp4", past, false},
        {".pellmar-x-1-a.mp4", past, false},
        {"pellmar-" + std::to_string(dead) + "-1-a.mp4", past, false},
        {".a.mp4.pellmar-" + std::to_string(dead), past, false},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/" + c.name, "left");
        fs::last_write_time(dir + "/" + c.name, c.written);
    }
    const std::string elsewhere = other + "/" + hiddenName("d.mp4", dead, 3);
    writeFile(elsewhere, "left");
    fs::last_write_time(elsewhere, past);
    fs::create_directory(dir + "/" + hiddenName("dir", dead, 4));
    fs::last_write_time(dir + "/" + hiddenName("dir", dead, 4), past);

    PendingFile f(dir + "/new.mp4");
    for (const Case& c : cases) EXPECT_EQ(exists(dir + "/" + c.name), !c.removed) << c.name;
    EXPECT_TRUE(exists(elsewhere));
    EXPECT_TRUE(exists(dir + "/" + hiddenName("dir", dead, 4)));
}

TEST(EscapeControls, EveryValuePrintsAsOneLine) {
    EXPECT_EQ(escapeControls("/tmp/a b/c·d.mp4"), "/tmp/a b/c·d.mp4");
    EXPECT_EQ(escapeControls("full\nx"), "full\\nx");
    EXPECT_EQ(escapeControls("a\r\nb\tc"), "a\\r\\nb\\tc");
    EXPECT_EQ(escapeControls(std::string("\x00\x1b[31m\x7f", 7)), "\\x00\\x1b[31m\\x7f");
    EXPECT_EQ(escapeControls("next\xc2\x85line\xc2\xa0"), "next\\u0085line\xc2\xa0");
    EXPECT_EQ(escapeControls("cut\xc2"), "cut\xc2");
}
