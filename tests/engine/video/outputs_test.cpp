// Every writer of the engine replaces an existing output only by a complete new file:
// through kills at random moments, failures, a full disk and a second run on one path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "support/support.h"
#include "video/clips.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs pellmar in a folder, so that relative paths are relative to it.
Ran pellmarIn(const std::string& dir, const std::vector<std::string>& args, const std::string& env = "") {
    std::string cmd = "cd " + quoted(dir) + " && exec env " + env + " " + quoted(PELLMAR_BIN);
    for (const auto& a : args) cmd += " " + quoted(a);
    return shell(cmd);
}

// Starts pellmar in a folder with its output discarded; returns its pid.
pid_t start(const std::string& dir, const std::vector<std::string>& args, const std::string& env = "") {
    std::vector<std::string> all{PELLMAR_BIN};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envs;
    const std::string key = env.substr(0, env.find('=') + 1);
    for (char** e = environ; *e; ++e)
        if (key.empty() || std::string(*e).rfind(key, 0) != 0) envs.push_back(*e);
    if (!env.empty()) envs.push_back(env);
    std::vector<char*> envp;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    // As from a terminal: the signals that end a run are not ignored, whatever this
    // process was started with.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t ending;
    sigemptyset(&ending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, sig);
    posix_spawnattr_setsigdefault(&attr, &ending);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

int exitStatus(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::vector<std::string> hiddenFiles(const std::string& dir) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(".pellmar-", 0) == 0) n.push_back(e.path().filename().string());
    return n;
}

int framesIn(const std::string& path) {
    const Ran r = shell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
        "csv=p=0 " +
        quoted(path));
    return r.status == 0 && !r.out.empty() ? std::atoi(r.out.c_str()) : -1;
}

// A complete video: every stream decodes without an error, down to its last frame.
std::function<bool(const std::string&)> wholeVideo(int frames) {
    return [frames](const std::string& p) { return decodesCleanly(p) && framesIn(p) == frames; };
}

unsigned seed() {
    const char* s = std::getenv("PELLMAR_KILL_SEED");
    return s ? unsigned(std::strtoul(s, nullptr, 10)) : 20240607u;
}

struct Writing {
    std::string dir;                                // where the run starts and writes
    std::vector<std::string> args;                  // the run, writing to target (relative to dir)
    std::string target;                             // relative to dir; holds the earlier output
    std::string saved;                              // the "saved " line the run prints
    std::function<bool(const std::string&)> whole;  // for a file unlike the reference
    std::string env = "";
};

// Kills the run at seeded moments spread over its length, each time over the earlier
// output; the target must then hold the earlier file byte for byte or a whole new one,
// and the next complete run leaves no hidden file behind.
void killAtSeededMoments(const Writing& w, int trials) {
    const std::string target = w.dir + "/" + w.target;
    const std::string earlier = readFile(target);
    ASSERT_FALSE(earlier.empty());
    const auto t0 = Clock::now();
    const Ran ref = pellmarIn(w.dir, w.args, w.env);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    ASSERT_EQ(ref.status, 0) << ref.err;
    EXPECT_EQ(ref.out, w.saved);
    EXPECT_EQ(ref.err, "");
    const std::string reference = readFile(target);
    ASSERT_NE(reference, earlier);
    ASSERT_TRUE(w.whole(target));

    std::mt19937 random(seed());
    int kept = 0, replaced = 0, hidden = 0;
    for (int i = 0; i < trials; ++i) {
        writeFile(target, earlier);
        // One moment in each of `trials` equal parts of the run's length (and a little past).
        const double at = seconds * 1.1 * (i + std::uniform_real_distribution<double>(0, 1)(random)) / trials;
        SCOPED_TRACE("PELLMAR_KILL_SEED=" + std::to_string(seed()) + ", killed after " +
                     std::to_string(int(at * 1000)) + " ms of a " + std::to_string(int(seconds * 1000)) + " ms run");
        const pid_t pid = start(w.dir, w.args, w.env);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration<double>(at));
        kill(pid, SIGKILL);
        exitStatus(pid);
        hidden += !hiddenFiles(w.dir).empty();
        const std::string now = readFile(target);
        if (now == earlier) ++kept;
        else if (now == reference || w.whole(target)) ++replaced;
        else ADD_FAILURE() << "a broken file of " << now.size() << " bytes at the target";
    }
    std::printf("  %d killed runs: %d kept the earlier file, %d replaced it whole, %d left a hidden file\n", trials,
                kept, replaced, hidden);

    // The next run that writes into the folder, whatever it writes, clears what the
    // killed ones left.
    const Ran next = pellmarIn(w.dir, {"still", "shot.png", "next.png", "--size", "64x128"});
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(hiddenFiles(w.dir), std::vector<std::string>{});
}

// A folder with a 64 x 128 screenshot and a 2 s recording of it.
std::string withRecording() {
    const std::string dir = tempDir();
    fs::rename(makeScreenshot(dir, 64, 128), dir + "/shot.png");
    EXPECT_EQ(pellmar({"gen-test", dir + "/shot.png", dir + "/rec.mov", "--seconds", "2"}).status, 0);
    return dir;
}

}  // namespace

// The "saved" line of each writer names the output as given (frame, spin, gen-test,
// audio) or its absolute path (still, poster); the runs below give relative paths.
TEST(KillTest, Frame) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "out.mp4", "--size", "64x128", "--theme", "light"}).status, 0);
    killAtSeededMoments({dir,
                         {"frame", "rec.mov", "out.mp4", "--size", "128x256"},
                         "out.mp4",
                         "saved out.mp4  (128x256, 60 frames @ 30fps)\n",
                         wholeVideo(60)},
                        4);
}

TEST(KillTest, GenTest) {
    const std::string dir = withRecording();
    killAtSeededMoments({dir,
                         {"gen-test", "shot.png", "rec.mov", "--seconds", "3"},
                         "rec.mov",
                         "saved rec.mov  (64x128, 90 frames @ 30fps)\n",
                         wholeVideo(90)},
                        4);
}

TEST(KillTest, Spin) {
    const std::string dir = withRecording();
    writeFile(dir + "/look.conf", readFile(shippedLook()) + "\nspin_timing=\"0.05,0.2,0.05\"\n");
    const std::string look = "TREVALO_LOOK=" + dir + "/look.conf";
    // Any earlier video will do; the frame command makes one much faster.
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "out.mp4", "--size", "64x96"}).status, 0);
    killAtSeededMoments({dir,
                         {"spin", "shot.png", "out.mp4", "--size", "64x96"},
                         "out.mp4",
                         "saved out.mp4  (64x96, 18 frames @ 60fps)\n",
                         wholeVideo(18),
                         look},
                        2);
}

TEST(KillTest, StillAndPoster) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"still", "shot.png", "s.png", "--theme", "light", "--size", "90x160"}).status, 0);
    killAtSeededMoments({dir,
                         {"still", "shot.png", "s.png", "--size", "540x960"},
                         "s.png",
                         "saved " + dir + "/s.png  (540x960)\n",
                         decodesCleanly},
                        3);
    ASSERT_EQ(pellmarIn(dir, {"poster", "rec.mov", "p.png", "--theme", "light", "--size", "90x160"}).status, 0);
    killAtSeededMoments({dir,
                         {"poster", "rec.mov", "p.png", "--size", "540x960"},
                         "p.png",
                         "saved " + dir + "/p.png  (540x960)\n",
                         decodesCleanly},
                        3);
}

TEST(KillTest, Audio) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "clip.mp4", "--size", "64x128"}).status, 0);
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440:duration=3 " + dir + "/s.wav"));
    killAtSeededMoments({dir,
                         {"audio", "clip.mp4", "s.wav"},
                         "clip.mp4",
                         "saved clip.mp4  (+ s.wav, 2.00s)\n",
                         [](const std::string& p) { return audioStreams(p) == 1 && wholeVideo(60)(p); }},
                        4);
}

// Ctrl-C, a termination request (how the window cancels a render) or a hang-up ends the
// run as the signal does, without its hidden file and with the earlier output kept.
TEST(KillTest, EndingSignalsLeaveNoHiddenFile) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "out.mp4", "--size", "64x128"}).status, 0);
    const std::string earlier = readFile(dir + "/out.mp4");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = start(dir, {"frame", "rec.mov", "out.mp4", "--size", "540x960"});
        ASSERT_GT(pid, 0);
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (hiddenFiles(dir).empty() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_FALSE(hiddenFiles(dir).empty());
        kill(pid, sig);
        EXPECT_EQ(exitStatus(pid), 128 + sig) << sig;
        EXPECT_EQ(hiddenFiles(dir), std::vector<std::string>{}) << sig;
        EXPECT_EQ(readFile(dir + "/out.mp4"), earlier) << sig;
    }
}

// Two runs writing one path at once: each finishes, and the path holds one of the two
// files whole.
TEST(OutputFiles, TwoRunsOnOnePathLeaveOneWholeFile) {
    const std::string dir = withRecording();
    const std::vector<std::string> a{"frame", "rec.mov", "out.mp4", "--size", "64x128"},
        b{"frame", "rec.mov", "out.mp4", "--size", "96x160", "--theme", "light"};
    ASSERT_EQ(pellmarIn(dir, a).status, 0);
    const std::string first = readFile(dir + "/out.mp4");
    ASSERT_EQ(pellmarIn(dir, b).status, 0);
    const std::string second = readFile(dir + "/out.mp4");
    for (int round = 0; round < 3; ++round) {
        const pid_t pa = start(dir, a), pb = start(dir, b);
        EXPECT_EQ(exitStatus(pa), 0);
        EXPECT_EQ(exitStatus(pb), 0);
        const std::string now = readFile(dir + "/out.mp4");
        EXPECT_TRUE(now == first || now == second || wholeVideo(60)(dir + "/out.mp4")) << "round " << round;
    }
    EXPECT_EQ(hiddenFiles(dir), std::vector<std::string>{});
}

// Runs that fail after their writer has started leave the earlier file as it was.
TEST(OutputFiles, FailedRunsKeepTheEarlierFile) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "out.mp4", "--size", "64x128"}).status, 0);
    ASSERT_EQ(pellmarIn(dir, {"poster", "rec.mov", "out.png", "--size", "64x128"}).status, 0);
    const std::string video = readFile(dir + "/out.mp4"), picture = readFile(dir + "/out.png");
    // Header at the front, pictures cut off part way: reading fails after frames were written.
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=64x128:rate=30 -t 2 -c:v libx264 -movflags +faststart " + dir +
                       "/whole.mp4"));
    const std::string whole = readFile(dir + "/whole.mp4");
    writeFile(dir + "/cut.mp4", whole.substr(0, whole.size() * 2 / 3));

    struct Case {
        std::vector<std::string> args;
        std::string err;  // the start of the one line
    } cases[] = {
        {{"frame", "cut.mp4", "out.mp4", "--size", "64x128"}, "read failed: "},
        {{"frame", "rec.mov", "out.mp4", "--size", "64x128", "--start", "5"}, "no frames in range"},
        // The first output's writer has started when the second cannot.
        {{"frame", "rec.mov", "--out", "out.mp4", "64x128", "full", "--out", "no/new.mp4", "64x128", "full"},
         "cannot write " + dir + "/no/new.mp4: No such file or directory"},
        {{"poster", "rec.mov", "out.png", "--start", "5"}, "could not read a frame"},
    };
    for (const Case& c : cases) {
        const Ran r = pellmarIn(dir, c.args);
        EXPECT_EQ(r.status, 1) << c.args[2];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(readFile(dir + "/out.mp4"), video);
    EXPECT_EQ(readFile(dir + "/out.png"), picture);
    EXPECT_EQ(hiddenFiles(dir), std::vector<std::string>{});
}

// A full file system: the earlier file stays, a new output leaves nothing, and the
// message is one line.
TEST(OutputFiles, FullDiskKeepsTheEarlierFile) {
    const std::string dir = withRecording();
    ASSERT_EQ(pellmarIn(dir, {"frame", "rec.mov", "small.mp4", "--size", "64x128", "--max", "0.1"}).status, 0);
    ASSERT_EQ(pellmarIn(dir, {"still", "shot.png", "small.png", "--size", "64x128"}).status, 0);
    fs::create_directory(dir + "/disk");
    const std::string d = quoted(dir), p = quoted(PELLMAR_BIN);
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs " + d + "/disk || exit 77; cd " + d + " || exit 1; " +
        "cp small.mp4 disk/out.mp4; cp small.png disk/out.png; " + p +
        " frame rec.mov disk/out.mp4 --size 512x1024 2>frame.err; echo frame $?; " + p +
        " still shot.png disk/out.png --size 1080x1920 2>still.err; echo still $?; " + p +
        " frame rec.mov disk/new.mp4 --size 512x1024 2>new.err; echo new $?; " +
        "cmp -s small.mp4 disk/out.mp4 && echo kept video; cmp -s small.png disk/out.png && echo kept picture; " +
        "ls -A disk | tr '\\n' ' '";
    Ran r = shell("unshare -m sh -c " + quoted(script));
    if (r.status == 77 || r.out.find("frame") == std::string::npos) r = shell("unshare -rm sh -c " + quoted(script));
    if (r.status == 77 || r.out.find("frame") == std::string::npos)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root or user namespaces for unshare -m): " << r.err;
    EXPECT_EQ(r.out, "frame 1\nstill 1\nnew 1\nkept video\nkept picture\nout.mp4 out.png ");
    for (const char* err : {"/frame.err", "/new.err"}) {
        const std::string e = readFile(dir + err);
        EXPECT_EQ(e.rfind("writer failed: " + dir + "/disk/", 0), 0u) << e;
        EXPECT_NE(e.find(": No space left on device\n"), std::string::npos) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
    }
    EXPECT_EQ(readFile(dir + "/still.err"), "cannot write " + dir + "/disk/out.png\n");
}

// Names at the file system's limit, and paths and values with line feeds in them.
TEST(OutputFiles, LongNamesAndLineFeeds) {
    const std::string dir = withRecording();
    const std::string longest = std::string(251, 'n') + ".mp4";
    Ran r = pellmarIn(dir, {"frame", "rec.mov", longest, "--size", "64x128", "--max", "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + longest + "  (64x128, 6 frames @ 30fps)\n");

    r = pellmarIn(dir, {"frame", "rec.mov", "two\nlines.mp4", "--size", "64x128", "--max", "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "saved two\\nlines.mp4  (64x128, 6 frames @ 30fps)\n");
    EXPECT_TRUE(exists(dir + "/two\nlines.mp4"));
    r = pellmarIn(dir, {"still", "shot.png", "x.png", "--layout", "full\nx"});
    EXPECT_EQ(r.err, "unknown layout: full\\nx  (want full·closeup·spin·closeup_spin)\n");
    r = pellmarIn(dir, {"frame", "rec.mov", "no\ndir/x.mp4", "--size", "64x128"});
    EXPECT_EQ(r.err, "cannot write " + dir + "/no\\ndir/x.mp4: No such file or directory\n");
    EXPECT_EQ(hiddenFiles(dir), std::vector<std::string>{});
}

// No command writes over its input, however the two paths are spelled.
TEST(OutputFiles, InputsAreNeverWrittenOver) {
    const std::string dir = withRecording();
    fs::create_symlink(dir + "/shot.png", dir + "/link.png");
    fs::create_hard_link(dir + "/rec.mov", dir + "/hard.mov");
    fs::copy_file(dir + "/shot.png", dir + "/rec.png");
    const std::string shot = readFile(dir + "/shot.png"), rec = readFile(dir + "/rec.mov");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"still", "shot.png", "./shot.png"}, "will not write over the screenshot: ./shot.png\n"},
        {{"still", "shot.png", "link.png"}, "will not write over the screenshot: link.png\n"},
        {{"spin", "shot.png", "../" + fs::path(dir).filename().string() + "/shot.png", "--at", "10"},
         "will not write over the screenshot: ../" + fs::path(dir).filename().string() + "/shot.png\n"},
        {{"gen-test", "link.png", "shot.png"}, "will not write over the screenshot: shot.png\n"},
        {{"poster", "rec.mov", "hard.mov"}, "will not write over the recording: hard.mov\n"},
        {{"frame", "hard.mov", "rec.mov"}, "will not write over the recording: rec.mov\n"},
        // The backdrop picture is an input too.
        {{"still", "rec.png", "shot.png", "--backdrop", "link.png"}, "will not write over the backdrop: shot.png\n"},
        {{"poster", "rec.mov", "./shot.png", "--backdrop", "shot.png"},
         "will not write over the backdrop: ./shot.png\n"},
        {{"frame", "rec.mov", "--out", "a.mp4", "64x128", "full", "--out", "shot.png", "64x128", "full", "--backdrop",
          "shot.png"},
         "will not write over the backdrop: shot.png\n"},
        {{"spin", "rec.png", "shot.png", "--at", "10", "--backdrop", "shot.png"},
         "will not write over the backdrop: shot.png\n"},
    };
    for (const Case& c : cases) {
        const Ran r = pellmarIn(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(readFile(dir + "/shot.png"), shot);
    EXPECT_EQ(readFile(dir + "/rec.mov"), rec);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.png"));
    EXPECT_FALSE(exists(dir + "/a.mp4"));
}
