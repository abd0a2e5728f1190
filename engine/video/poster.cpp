#include "flat/imageio.h"
#include "flat/palette.h"
#include "flat/scene.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"
#include "video/args.h"
#include "video/island.h"
#include "video/source.h"

void cmd_poster(const Args& args) {
    Opts opts(args);
    if (isTurning(opts.layout)) die("poster draws a flat frame: want --layout full·closeup");
    if (opts.files.size() != 2 || !opts.outs.empty()) die(usagePoster);
    const auto [w, h] = parseSize(opts.size);
    const Style style(opts);
    const std::string& recording = opts.files[0];
    Source src = openVideo(recording);
    refuseOverwrite(opts.files[1], recording, "recording");
    refuseOverwriteBackdrop(opts.files[1], style);

    FrameReader reader(src, opts.startSec);
    if (!reader.next()) die("could not read a frame from " + recording);
    const Scene scene(w, h, opts.layout, src.W, src.H, style, videoGrain, PlateUse::once);
    Image8 frame;
    reader.picture(frame);
    const FramePrep prep = FramePrep::make(src, frame.view());
    writePNG(scene, prep(std::move(frame)), opts.files[1]);
}
