// Times the turning frames of the bundled sample's spin clip on whatever Vulkan device is
// picked, render only (no encoding): the whole frame, each GPU pass on the device's own
// clock, the read-back and the host's share, against the flat frame's drawing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "look/look.h"
#include "base/opts.h"
#include "spin/gpu.h"
#include "spin/schedule.h"
#include "spin/spinscene.h"

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Processor time of the whole process, every thread (the CPU device's workers too): on a
// busy machine a steadier measure than the clock.
double cpuNow() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

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
        std::fprintf(stderr, "usage: spin_bench <look.conf> <screenshot> [WxH] [dark|light] [every Nth frame]\n");
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
    const bool dark = argc <= 4 || std::string(argv[4]) != "light";
    const int step = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    const Style style(dark, themePalette(dark));

    double t0 = now();
    GPU& gpu = GPU::shared();
    const double tGPU = now() - t0;
    t0 = now();
    SpinScene scene(w, h, image.w, image.h, style, videoGrain);
    const double tScene = now() - t0;
    scene.profile(true);

    // Every rendered slot of the clip, in order, as the spin command draws it.
    const int frames = int(stillClipSlots());
    Image8 out(w, h);
    int rendered = 0;
    PassTimes sum;
    t0 = now();
    double c0 = cpuNow();
    for (int i = 0, k = 0; i < frames; ++i) {
        const Shown s = shownAt(i);
        if (!s.rendered() || k++ % step) continue;
        scene.draw(out.view(), image, s);
        const PassTimes& p = scene.passTimes();
        sum.device += p.device;
        sum.shadow += p.shadow;
        sum.blur += p.blur;
        sum.compose += p.compose;
        sum.readBack += p.readBack;
        ++rendered;
    }
    const double n = std::max(1, rendered);
    const double tTurn = (now() - t0) / n, cTurn = (cpuNow() - c0) / n;
    t0 = now();
    c0 = cpuNow();
    for (int i = 0; i < rendered; ++i) scene.flat.draw(out.view(), image);
    const double tFlat = (now() - t0) / n, cFlat = (cpuNow() - c0) / n;

    const double ms = 1e3 / n;
    const double host = tTurn * 1e3 - (sum.device + sum.shadow + sum.blur + sum.compose + sum.readBack) * ms;
    std::printf("device: %s (%s)%s\n", gpu.deviceName().c_str(), kindName(gpu.kind()),
                gpu.kind() == DeviceKind::Cpu ? "; blur and compose by the host" : "");
    std::printf("%dx%d, %d frames @ %dfps, %d rendered; context %.2f s, scene %.2f s\n", w, h, frames, spinFPS,
                rendered, tGPU, tScene);
    std::printf(
        "turning frame %.1f ms (render only): device %.1f, shadow %.1f, blur %.1f, "
        "compose %.1f, read-back %.1f, host %.1f ms\n",
        tTurn * 1e3, sum.device * ms, sum.shadow * ms, sum.blur * ms, sum.compose * ms, sum.readBack * ms, host);
    std::printf("flat frame %.1f ms; turning / flat %.2f\n", tFlat * 1e3, tTurn / tFlat);
    std::printf("processor time, all threads: turning frame %.1f ms, flat frame %.1f ms\n", cTurn * 1e3, cFlat * 1e3);
    return 0;
}
