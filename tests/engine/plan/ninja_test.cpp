#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "support/support.h"

// Sets planned by the built pellmar and rendered by ninja, at tiny sizes.

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Runs in the set's folder, as a pipeline would.
Ran in(const std::string& dir, const std::string& command) {
    return shell("cd " + quoted(dir) + " && " + command + " 2>&1");
}

// The status lines of the runs ninja started, such as "still en/home_wide.png".
std::vector<std::string> runs(const std::string& ninjaOutput) {
    std::vector<std::string> v;
    std::istringstream s(ninjaOutput);
    for (std::string line; std::getline(s, line);)
        if (line.rfind('[', 0) == 0 && line.find("] ") != std::string::npos)
            v.push_back(line.substr(line.find("] ") + 2));
    std::sort(v.begin(), v.end());
    return v;
}

long long mtime(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

// The output folder's name needs ninja's escapes and the shell's quotes.
const char* const setText = R"({
  "out": "store 1:$x",
  "languages": ["en", "de"],
  "outputs": [
    {"name": "phone", "size": "64x128"},
    {"name": "wide", "size": "128x64", "layout": "closeup"}
  ],
  "inputs": [{"file": "shot.png", "name": "home"}, {"file": "rec.mov"}]
})";

}  // namespace

TEST(PlannedSet, RendersOnceThenOnlyWhatChanged) {
    const std::string dir = tempDir();
    ASSERT_EQ(pellmar({"still", sourceDir() + "/resources/sample.png", dir + "/shot.png", "--size", "64x128"}).status,
              0);
    ASSERT_EQ(pellmar({"gen-test", dir + "/shot.png", dir + "/rec.mov", "--seconds", "1"}).status, 0);
    writeFile(dir + "/look.conf", readFile(shippedLook()));
    writeFile(dir + "/set.json", setText);

    Ran r = in(dir, "TREVALO_LOOK=look.conf " PELLMAR_BIN " plan set.json > set.ninja && ninja -f set.ninja");
    ASSERT_EQ(r.status, 0) << r.out;
    // The recording's two sizes share one pass per language.
    EXPECT_EQ(runs(r.out), (std::vector<std::string>{"frame de/rec_phone.mp4 de/rec_wide.mp4",
                                                     "frame en/rec_phone.mp4 en/rec_wide.mp4",
                                                     "still de/home_phone.png", "still de/home_wide.png",
                                                     "still en/home_phone.png", "still en/home_wide.png"}));
    EXPECT_NE(r.out.find("saved " + dir + "/store 1:$x/de/home_wide.png  (128x64)\n"), std::string::npos) << r.out;
    std::map<std::string, long long> before;
    for (const char* lang : {"en", "de"})
        for (const char* f : {"home_phone.png", "home_wide.png", "rec_phone.mp4", "rec_wide.mp4"}) {
            const std::string p = dir + "/store 1:$x/" + lang + "/" + f;
            ASSERT_TRUE(exists(p)) << p;
            before[p] = mtime(p);
        }

    r = in(dir, "ninja -f set.ninja");
    EXPECT_EQ(r.out, "ninja: no work to do.\n");

    // One output's entry changes: the manifest plans itself again, and of the screenshot
    // only that output renders again. The look chosen when planning stays, unset or not.
    std::string changed = setText;
    changed.replace(changed.find("\"layout\": \"closeup\""), 19, "\"layout\": \"closeup\", \"theme\": \"light\"");
    writeFile(dir + "/set.json", changed);
    r = in(dir, "env -u TREVALO_LOOK ninja -f set.ninja");
    ASSERT_EQ(r.status, 0) << r.out;
    // The recording's outputs now differ in look, so they take two passes.
    EXPECT_EQ(runs(r.out),
              (std::vector<std::string>{"frame de/rec_phone.mp4", "frame de/rec_wide.mp4", "frame en/rec_phone.mp4",
                                        "frame en/rec_wide.mp4", "plan set.ninja", "still de/home_wide.png",
                                        "still en/home_wide.png"}));
    for (const char* lang : {"en", "de"}) {
        const std::string p = dir + "/store 1:$x/" + lang + "/home_phone.png";
        EXPECT_EQ(mtime(p), before[p]) << p;
    }
    EXPECT_EQ(in(dir, "ninja -f set.ninja").out, "ninja: no work to do.\n");

    // A broken set stops the build with its faults and leaves the last whole manifest;
    // mended, it plans again and renders nothing that did not change.
    const std::string manifest = readFile(dir + "/set.ninja");
    writeFile(dir + "/set.json", R"({"out": 1})");
    r = in(dir, "ninja -f set.ninja");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("/set.json: out: want text, got 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir + "/set.ninja"), manifest);
    writeFile(dir + "/set.json", changed);
    EXPECT_EQ(runs(in(dir, "ninja -f set.ninja").out), std::vector<std::string>{"plan set.ninja"});

    // An input, or the look file in use, renders what reads it.
    r = in(dir, "touch shot.png && ninja -f set.ninja -n");
    EXPECT_EQ(runs(r.out), (std::vector<std::string>{"still de/home_phone.png", "still de/home_wide.png",
                                                     "still en/home_phone.png", "still en/home_wide.png"}));
    r = in(dir, "touch look.conf && ninja -f set.ninja -n");
    EXPECT_EQ(runs(r.out).size(), 8u) << r.out;
}

TEST(PlannedSet, AFailedOutputDoesNotStopTheOthers) {
    const std::string dir = tempDir();
    writeFile(dir + "/broken.png", "not a picture");
    writeFile(dir + "/set.json", R"({"out": "o", "outputs": [{"size": "64x128"}],
        "inputs": [{"file": "broken.png"}, {"file": ")" +
                                     sourceDir() + R"(/resources/sample.png"}]})");
    const Ran r = in(dir, PELLMAR_BIN " plan set.json > set.ninja && ninja -f set.ninja -k 0");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("cannot read image: " + dir + "/broken.png"), std::string::npos) << r.out;
    EXPECT_TRUE(exists(dir + "/o/sample_64x128.png"));
    EXPECT_FALSE(exists(dir + "/o/broken_64x128.png"));
}

TEST(PlanCommand, FaultsGoToStandardErrorAndNothingIsWritten) {
    const std::string dir = tempDir();
    writeFile(dir + "/set.json", R"({"out": "o", "outputs": [{"size": "0x1"}], "inputs": [{"file": "none.png"}]})");
    const Ran r = pellmar({"plan", dir + "/set.json", dir + "/set.ninja"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir + "/set.json: outputs[0].size: want WxH or a name that pellmar sizes lists, got 0x1\n" + dir +
                         "/set.json: inputs[0].file: no file at " + dir + "/none.png\n");
    EXPECT_FALSE(exists(dir + "/set.ninja"));
    EXPECT_EQ(pellmar({"plan"}).err, "usage: plan <set.json> [out.ninja]\n");
    EXPECT_EQ(pellmar({"plan", dir + "/missing.json"}).err, "cannot read " + dir + "/missing.json\n");
}

// The manifest's path is checked like any output: what the set or its runs read stays.
// A copy of the engine plans, so that a fault here cannot break the build's own.
TEST(PlanCommand, TheManifestNeverReplacesAFileTheRunsRead) {
    const std::string dir = tempDir();
    const std::string shot = sourceDir() + "/resources/sample.png";
    const std::string bin = std::filesystem::path(PELLMAR_BIN).parent_path().string();
    ASSERT_EQ(shell("cp '" + shot + "' '" + dir + "/shot.png' && cp '" + shot + "' '" + dir + "/back.png' && mkdir '" +
                    dir + "/bin' && cp '" + PELLMAR_BIN + "' '" + bin + "/look.conf' '" + dir + "/bin/'")
                  .status,
              0);
    const std::string engine = dir + "/bin/pellmar", look = dir + "/bin/look.conf";
    const std::string engineBytes = readFile(engine), lookBytes = readFile(look);
    writeFile(dir + "/set.json", R"({"out": "o", "backdrop": "back.png", "outputs": [{"size": "64x128"}],
        "inputs": [{"file": "shot.png"}]})");
    for (const auto& [path, what] :
         std::vector<std::pair<std::string, std::string>>{{dir + "/set.json", "the set"},
                                                          {dir + "/./shot.png", "an input of the set"},
                                                          {"back.png", "an input of the set"},
                                                          {engine, "the engine"},
                                                          {dir + "/bin/../bin/look.conf", "the look file"}}) {
        const Ran r = in(dir, "env -u TREVALO_LOOK '" + engine + "' plan set.json '" + path + "'");
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.out, "will not write over " + what + ": " + path + "\n");
    }
    EXPECT_EQ(readFile(dir + "/shot.png"), readFile(shot));
    EXPECT_EQ(readFile(dir + "/back.png"), readFile(shot));
    EXPECT_EQ(readFile(engine), engineBytes);
    EXPECT_EQ(readFile(look), lookBytes);
}