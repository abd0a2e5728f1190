#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <optional>

#include "flat/imageio.h"
#include "look/look.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"
#include "base/progress.h"
#include "spin/schedule.h"
#include "spin/spincmd.h"
#include "spin/spinscene.h"
#include "video/args.h"
#include "video/writer.h"

namespace {

bool isRecording(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = char(std::tolower((unsigned char)c));
    return ext == ".mov" || ext == ".mp4" || ext == ".m4v";
}

}  // namespace

Args spinHandOffArgs(Args args, size_t outArg, const std::string& size, bool closeup) {
    const std::string out = args[outArg];
    args.erase(args.begin() + ptrdiff_t(outArg));
    // A --layout left in the list is harmless: it shapes only frame's positional output.
    args.insert(args.end(), {"--out", out, size, closeup ? "closeup_spin" : "spin"});
    return args;
}

void cmd_spin(const Args& given) {
    Args args = given;
    std::optional<double> at;
    const auto flag = std::find(args.begin(), args.end(), "--at");
    if (flag != args.end()) {
        double deg = 0;
        if (flag + 1 == args.end() || !readNumber(*(flag + 1), deg) || !std::isfinite(deg)) die("--at wants degrees");
        at = deg;
        args.erase(flag, flag + 2);
    }
    const Opts o(args);
    if (o.files.size() != 2 || !o.outs.empty()) die(usageSpin);
    if (isTurning(o.layout)) die("spin --layout wants full·closeup, got " + std::string(layoutName(o.layout)));
    const bool closeup = o.layout == Layout::closeup;
    const std::string& in = o.files[0];
    const std::string& out = o.files[1];
    refuseOverwrite(out, in, isRecording(in) ? "recording" : "screenshot");
    // Recordings play in the device from the first frame: the frame command draws them.
    if (!at && isRecording(in)) return cmd_frame(spinHandOffArgs(args, o.fileArgs[1], o.size, closeup));

    // A clip is a video, refused with an odd side before any GPU work; a picture is not.
    const auto [w, h] = at ? parseSize(o.size) : parseVideoSize(o.size);
    const Style style(o);
    refuseOverwriteBackdrop(out, style);
    const Image8 image = loadCG(in);
    SpinScene scene(w, h, image.w, image.h, style, at ? stillGrain : videoGrain, closeup);

    if (at) {
        // The three-dimensional render whatever the angle, with no flat mix.
        Image8 picture(w, h);
        scene.turned(picture.view(), image, *at, 1);
        savePNG(picture, out);
        reportSaved(out, std::to_string(w) + "x" + std::to_string(h) + " at " + decimal(*at) + "\u00b0");
        return;
    }

    Writer writer(out, w, h, spinFPS, Container::MP4);
    const int frames = int(stillClipSlots());
    Progress progress("spin", {{out, 0, frames}}, o.report);
    // The rests before and after the turn are drawn once each and then re-sent.
    std::optional<bool> restHeld;  // whether the writer holds the rest before the turn or after it
    for (int i = 0; i < frames; ++i) {
        progress.reached(0, i);
        const Shown shown = shownAt(i);
        if (shown.moving()) {
            restHeld.reset();
        } else {
            if (restHeld == shown.before() && writer.repeat(i)) continue;
            restHeld = shown.before();
        }
        scene.draw(writer.newFrame(), image, shown);
        writer.append(i);
    }
    writer.finish(frames);
    progress.reached(0, frames);
    progress.finish();
    reportSaved(out, std::to_string(w) + "x" + std::to_string(h) + ", " + std::to_string(frames) + " frames @ " +
                         std::to_string(spinFPS) + "fps");
}
