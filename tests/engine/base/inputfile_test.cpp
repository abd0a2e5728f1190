#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/inputfile.h"
#include "support/support.h"

using testing::ExitedWithCode;

namespace {

// A folder holding one of each kind of entry an input path may name.
struct Entries {
    std::string dir = tempDir();
    std::string file = dir + "/file.mov", fifo = dir + "/pipe.mov", folder = dir + "/folder.mov";
    std::string toFifo = dir + "/link.mov", dangling = dir + "/dangling.mov";
    Entries() {
        writeFile(file, "x");
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        EXPECT_EQ(mkdir(folder.c_str(), 0700), 0);
        EXPECT_EQ(symlink(fifo.c_str(), toFifo.c_str()), 0);
        EXPECT_EQ(symlink((dir + "/gone").c_str(), dangling.c_str()), 0);
    }
};

}  // namespace

TEST(RequireRegularFileDeathTest, NamesWhatThePathIsAndFollowsLinks) {
    const Entries e;
    requireRegularFile(e.file, "recording", "recording not found: " + e.file);  // returns
    // Death tests run again in a fresh process with its own temp folder: the messages
    // are matched up to the folder.
    const auto fails = [](const std::string& path, const std::string& head, const std::string& name) {
        EXPECT_EXIT(requireRegularFile(path, "recording", "recording not found: " + path), ExitedWithCode(1),
                    "^" + head + ".*" + name + "\n$")
            << path;
    };
    fails(e.fifo, "recording is a FIFO: /", "/pipe.mov");
    fails(e.toFifo, "recording is a FIFO: /", "/link.mov");
    fails(e.folder, "recording is a folder: /", "/folder.mov");
    fails(e.dangling, "recording not found: /", "/dangling.mov");
    fails("/dev/null", "recording is a character device: ", "/dev/null");
    fails("", "recording not found: ", "");
}

// Every command that reads a file refuses a FIFO, folder or device at once. `timeout` stands
// guard: a reader that opened the FIFO would wait for a writer for ever (status 124).
TEST(InputFiles, EveryOpenerRefusesFifosAndDevicesWithoutBlocking) {
    const Entries e;
    const std::string out = e.dir + "/out";
    const std::string bin = PELLMAR_BIN;
    const struct {
        std::string args, message;
    } cases[] = {
        {"still " + e.fifo + " " + out + ".png", "image is a FIFO: " + e.fifo},
        {"still " + e.folder + " " + out + ".png", "image is a folder: " + e.folder},
        {"gen-test " + e.toFifo + " " + out + ".mov", "image is a FIFO: " + e.toFifo},
        {"spin " + e.fifo + " " + out + ".mp4", "recording is a FIFO: " + e.fifo},
        {"poster " + e.folder + " " + out + ".png", "recording is a folder: " + e.folder},
        {"frame /dev/zero " + out + ".mp4", "recording is a character device: /dev/zero"},
        {"audio " + e.fifo + " " + e.file, "video is a FIFO: " + e.fifo},
        {"audio " + e.file + " /dev/zero", "sound is a character device: /dev/zero"},
        {"plan " + e.toFifo, "set file is a FIFO: " + e.toFifo},
    };
    for (const auto& c : cases) {
        const Ran r = shell("timeout 60 " + bin + " " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.message + "\n") << c.args;
    }
    for (const std::string& look : {e.fifo, std::string("/dev/zero")}) {
        const Ran r = shell("TREVALO_LOOK=" + look + " timeout 60 " + bin + " still a b");
        EXPECT_EQ(r.status, 1) << look;
        EXPECT_EQ(r.err,
                  "look.conf is " + std::string(look == e.fifo ? "a FIFO" : "a character device") + ": " + look + "\n");
    }
}

// Pictures are decoded by the decoders trusted with untrusted files only. Others (here
// ImageMagick's DjVu reader, found by fuzzing) printed their own lines on standard
// output; an SVG would have been drawn by a renderer that follows links.
TEST(InputFiles, PicturesOutsideTheTrustedFormatsAreRefusedQuietly) {
    const std::string dir = tempDir();
    const std::string djvu = dir + "/shot.png", svg = dir + "/shot.svg";
    writeFile(djvu, readFile(sourceDir() + "/tests/fuzz/corpus/image/regress-djvu-chatter"));
    writeFile(
        svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"><rect width=\"4\" height=\"4\"/></svg>");
    for (const std::string& in : {djvu, svg}) {
        const Ran r = pellmar({"still", in, dir + "/out.png"});
        EXPECT_EQ(r.status, 1) << in;
        EXPECT_EQ(r.out, "") << in;
        EXPECT_EQ(r.err, "cannot read image: " + in + "\n");
    }
}
