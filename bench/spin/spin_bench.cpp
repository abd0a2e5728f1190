// Times the turning-device clip of the bundled sample against the flat path for the
// same number of frames, in one process on one device: the per-frame render cost of a
// turning frame (no encoding), and whole clips with encoding, spin against flat.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "look/look.h"
#include "base/opts.h"
#include "spin/gpu.h"
#include "spin/schedule.h"
#include "spin/spinscene.h"
#include "video/writer.h"

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

const char* kindName(DeviceKind k) {
    switch (k) {
    case DeviceKind::Discrete: return "discrete GPU";
    case DeviceKind::Integrated: return "integrated GPU";
    case DeviceKind::Virtual: return "virtual GPU";
    case DeviceKind::Cpu: return "CPU device";
    default: return "other device";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: spin_bench <look.conf> <screenshot> [WxH] [out-dir]\n");
        return 1;
    }
    installLook(Look::parse([&] {
        FILE* f = std::fopen(argv[1], "rb");
        std::string s;
        char buf[4096];
        size_t n;
        while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        if (f) std::fclose(f);
        return s;
    }()));
    const Image8 image = loadCG(argv[2]);
    const auto [w, h] = parseSize(argc > 3 ? argv[3] : "1080x1920");
    const std::string dir = argc > 4 ? argv[4] : "/tmp";
    const Style style(true, themePalette(true));

    double t0 = now();
    GPU& gpu = GPU::shared();
    const double tGPU = now() - t0;
    t0 = now();
    SpinScene scene(w, h, image.w, image.h, style, 0.03);
    const double tScene = now() - t0;

    const int frames = int(stillClipSlots());
    int turning = 0;
    for (int i = 0; i < frames; ++i) turning += shownAt(i).rendered();

    // Render only: every turning frame into memory, then the flat drawing of as many.
    Image8 out(w, h);
    t0 = now();
    for (int i = 0; i < frames; ++i)
        if (const Shown s = shownAt(i); s.rendered()) scene.draw(out.view(), image, s);
    const double tTurn = (now() - t0) / std::max(1, turning);
    t0 = now();
    for (int i = 0; i < turning; ++i) scene.flat.draw(out.view(), image);
    const double tFlat = (now() - t0) / std::max(1, turning);

    // Whole clips with encoding: the spin clip as the spin command writes it, and a flat
    // clip of equal length drawing every frame as the frame command does.
    t0 = now();
    {
        Writer writer(dir + "/bench-spin.mp4", w, h, spinFPS, Container::MP4);
        std::optional<bool> restHeld;
        for (int i = 0; i < frames; ++i) {
            const Shown s = shownAt(i);
            if (s.moving()) restHeld.reset();
            else if (restHeld == s.before() && writer.repeat(i)) continue;
            else restHeld = s.before();
            scene.draw(writer.newFrame(), image, s);
            writer.append(i);
        }
        writer.finish(frames);
    }
    const double tSpinClip = now() - t0 + tScene;
    t0 = now();
    {
        const Scene flat(w, h, Layout::full, image.w, image.h, style, 0.03);
        Writer writer(dir + "/bench-flat.mp4", w, h, spinFPS, Container::MP4);
        for (int i = 0; i < frames; ++i) {
            flat.draw(writer.newFrame(), image);
            writer.append(i);
        }
        writer.finish(frames);
    }
    const double tFlatClip = now() - t0;

    std::printf("device: %s (%s)\n", gpu.deviceName().c_str(), kindName(gpu.kind()));
    std::printf("%dx%d, %d frames @ %dfps, %d turning\n", w, h, frames, spinFPS, turning);
    std::printf("context %.2f s, scene %.2f s\n", tGPU, tScene);
    std::printf("turning frame %.1f ms (render only), flat frame %.1f ms, ratio %.2f\n", tTurn * 1e3, tFlat * 1e3,
                tTurn / tFlat);
    std::printf("whole clip: spin %.2f s, flat %.2f s, ratio %.2f\n", tSpinClip, tFlatClip, tSpinClip / tFlatClip);
    return 0;
}
