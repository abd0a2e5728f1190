#include <cmath>

#include "flat/imageio.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "flat/resample.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"
#include "video/args.h"
#include "video/writer.h"

void cmd_genTest(const Args& args) {
    if (args.size() < 2) die(usageGenTest);
    const Image8 shot = loadCG(args[0]);
    const std::string& out = args[1];
    refuseOverwrite(out, args[0], "screenshot");

    double seconds = 6.0;
    long long fps = 30;
    bool constantRate = true;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--seconds" || a == "--fps") {
            const std::string& v = value(args, i++);
            // A value that does not read leaves the previous one.
            if (a == "--seconds") readNumber(v, seconds);
            else readInt(v, fps);
        } else if (a == "--vfr") {
            constantRate = false;
        } else {
            die("unknown option: " + a);
        }
    }
    if (fps < 1 || fps > 240) die("--fps wants 1 to 240, got " + std::to_string(fps));
    const double frames = seconds * double(fps);
    if (!(frames >= 1 && frames <= 1e6))
        die("--seconds wants a length of 1 to 1000000 frames at " + std::to_string(fps) + "fps, got " +
            shortestDecimal(seconds));
    const long long n = (long long)frames;

    // H.264 in 4:2:0 wants even sides: an odd screenshot gives a clip one pixel smaller
    // on that side, with the picture still centred.
    const int W = shot.w & ~1, H = shot.h & ~1;
    if (W < 2 || H < 2)
        die("screenshot too small for a video: " + std::to_string(shot.w) + "x" + std::to_string(shot.h));

    // The picture is 6 % larger than the screenshot; scaled once, then moved whole pixels.
    const Image8 big = resample(shot.view(), int(std::lround(shot.w * 1.06)), int(std::lround(shot.h * 1.06)));
    const Color ground = cgColor("#0a0a0a");
    Writer writer(out, W, H, int(fps), Container::QuickTime, Slots::WithGaps);
    long long written = 0;
    for (long long i = 0; i < n; ++i) {
        // --vfr: every frame in the first half, then every third, and always the last.
        if (!constantRate && i >= n / 2 && i % 3 != 0 && i != n - 1) continue;
        const double wave = std::sin(((double(i) / double(fps)) / seconds) * M_PI * 4);
        View8 v = writer.newFrame();
        fill(v, ground);
        const int x = int(std::lround((W - big.w) / 2.0));
        const int y = int(std::lround((H - big.h) / 2.0 + 40 * wave));
        drawOver(v, big, x, y);
        writer.append(i);
        ++written;
    }
    writer.finish(n);
    reportSaved(out, std::to_string(W) + "x" + std::to_string(H) + ", " + std::to_string(written) + " frames @ " +
                         std::to_string(fps) + "fps");
}
