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
    const auto [w, h] = parseSize(o.size);
    const Style style(o);
    const Image8 image = loadCG(o.files[0]);
    refuseOverwrite(o.files[1], o.files[0], "screenshot");
    const Scene scene(w, h, o.layout, image.w, image.h, style, stillGrain, PlateUse::once);
    writePNG(scene, image, o.files[1]);
}
