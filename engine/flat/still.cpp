#include <optional>
#include <thread>

#include "flat/imageio.h"
#include "flat/scene.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"

void cmd_still(const Args& args) {
    const Opts o(args);
    if (o.files.size() != 2 || !o.outs.empty()) die(usageStill);
    if (isTurning(o.layout)) die("spin renders video: use `pellmar spin` for a screenshot");
    const std::pair<int, int> size = parseSize(o.size);
    const int w = size.first, h = size.second;  // named, for the lambda below to capture
    const Style style(o);
    const ImageFile file(o.files[0]);
    Image8 image;
    std::optional<Scene> scene;
    auto makeScene = [&] { scene.emplace(w, h, o.layout, file.w(), file.h(), style, stillGrain, PlateUse::once); };
    if (sceneMayFail(w, h, style)) {
        image = file.decode();
        refuseOverwrite(o.files[1], o.files[0], "screenshot");
        refuseOverwriteBackdrop(o.files[1], style);
        makeScene();
    } else {
        // Nothing in making the scene can fail, so its shadows are made while the pixels
        // decode, and faults of the picture still come first.
        std::jthread pixels([&] { image = file.decode(); });
        makeScene();
        pixels.join();
        refuseOverwrite(o.files[1], o.files[0], "screenshot");
        refuseOverwriteBackdrop(o.files[1], style);
    }
    writePNG(*scene, image, o.files[1]);
}
