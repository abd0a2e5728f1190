#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "flat/palette.h"
#include "flat/scene.h"
#include "look/look.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "spin/gpu.h"
#include "spin/motion.h"
#include "spin/spinscene.h"
#include "video/args.h"
#include "video/island.h"
#include "video/screen.h"
#include "video/source.h"
#include "video/writer.h"

namespace {

const char* usage =
    "usage: frame <recording> <out.mp4> | frame <recording> --out <path> <WxH> <layout> [--out ...]  "
    "[--theme ..] [--size WxH] [--layout ..] [--start SEC] [--max SEC]";

// Where a frame delta (in the recording's time base) lands on a grid of fps slots,
// rounded half away from zero, in exact integer arithmetic.
int64_t slotAt(int64_t delta, AVRational tb, int fps) {
    return av_rescale_rnd(delta, int64_t(tb.num) * fps, tb.den, AV_ROUND_NEAR_INF);
}

// One output of the command: its scene, its writer and its place on the time grid.
// Turning-device outputs derive from it with their own rendering, gap fill and end;
// everything else about the run is shared.
class Sink {
public:
    Sink(const OutRequest& req, int w, int h, const Source& src, const Style& style)
        : Sink(req.path, Scene(w, h, req.layout, src.W, src.H, style, 0.03), src.fps) {}
    virtual ~Sink() = default;

    // A prepared recording frame (also in 4:2:0) for slot target; frames behind the grid
    // are dropped.
    void update(const std::shared_ptr<const Image8>& frame, const AVFrame* frameYUV, int64_t target) {
        if (target < nextSlot) return;
        while (nextSlot < target) fillSlot(nextSlot++);
        content = frame;
        contentYUV = frameYUV;
        render(target);
        nextSlot = target + 1;
        releaseContent();
    }
    // Fills the grid up to (not including) stop.
    void tail(int64_t stop) {
        while (nextSlot < stop) fillSlot(nextSlot++);
    }
    // The slot at which this output ends, for a recording whose last used frame came
    // lastDelta after its first.
    virtual int64_t stopFor(int64_t lastDelta, AVRational tb, int srcFps) const {
        // (lastT + 1 / srcFps) * fps, rounded half away from zero.
        return av_rescale_rnd(lastDelta * tb.num * srcFps + tb.den, fps, int64_t(tb.den) * srcFps, AV_ROUND_NEAR_INF);
    }

    std::string path;
    Scene scene;
    int fps;
    Writer writer;
    ScreenPainter painter;
    std::shared_ptr<const Image8> content;
    const AVFrame* contentYUV = nullptr;  // valid while an update runs
    int64_t nextSlot = 0;

protected:
    Sink(std::string path_, Scene scene_, int fps_)
        : path(std::move(path_)), scene(std::move(scene_)), fps(fps_),
          writer(path, scene.w, scene.h, fps, Container::MP4), painter(scene) {}

    virtual void fillSlot(int64_t slot) { writer.repeat(slot); }
    virtual void render(int64_t slot) {
        if (!content) return;
        painter.draw(writer.canvas(), contentYUV);
        writer.appendCanvas(slot);
    }
    // A flat output never draws the same recording frame twice: let it go at once so the
    // reading loop can reuse its buffer.
    virtual void releaseContent() {
        content.reset();
        contentYUV = nullptr;
    }
};

// A turning-device output: the device rests on the flat frame, turns once and rests
// again while the recording plays in its screen, always at spinFPS. The recording's
// clock is the clip's clock, so the recording plays from the first slot on.
class TurningSink : public Sink {
public:
    TurningSink(const OutRequest& req, std::unique_ptr<SpinScene> spin_)
        : Sink(req.path, spin_->flat, spinFPS), spin(std::move(spin_)), startPainter(spin->start) {}

    // The clip never stops before the turn and both rests are over.
    int64_t stopFor(int64_t lastDelta, AVRational tb, int srcFps) const override {
        const int64_t recorded = Sink::stopFor(lastDelta, tb, srcFps);
        return std::max<int64_t>(recorded, std::llround(spinSeconds() * fps));
    }

    std::unique_ptr<SpinScene> spin;

protected:
    // While the device turns a held recording frame is drawn anew, so that the device
    // keeps moving; at rest the last picture is the right one.
    void fillSlot(int64_t slot) override {
        if (content && spinTurning(double(slot) / fps)) draw(slot, false);
        else writer.repeat(slot);
    }
    void render(int64_t slot) override {
        if (content) draw(slot, true);
    }
    // Kept for the turning frames of the slots that follow; only the 4:2:0 copy belongs
    // to the reading loop.
    void releaseContent() override { contentYUV = nullptr; }

private:
    void draw(int64_t slot, bool fresh) {
        const double deg = spinAngle(double(slot) / fps), weight = handoffWeight(deg);
        if (weight > 0) {
            spin->turned(writer.newFrame(), *content, deg, weight);
            writer.append(slot);
            painted = nullptr;
            return;
        }
        ScreenPainter& rest = restBefore(deg) ? startPainter : painter;
        if (fresh && contentYUV) {
            // A painter touches only the screen once the canvas holds its plate; anything
            // else drawn there since means the whole frame again.
            if (painted != &rest) rest.reprime();
            rest.draw(writer.canvas(), contentYUV);
            writer.appendCanvas(slot);
            painted = &rest;
        } else if (painted == &rest) {
            writer.repeat(slot);  // the same rest frame with the same content
        } else {
            spin->rest(deg).draw(writer.newFrame(), *content);
            writer.append(slot);
            painted = nullptr;
        }
    }

    ScreenPainter startPainter;
    const ScreenPainter* painted = nullptr;  // the painter whose frame the canvas holds
};

// Turning-device outputs share one GPU context, made here
// before any output is set up, so that a machine without one fails before any output
// file is touched.
void setUpTurning(const std::vector<OutRequest>& outs) {
    for (const auto& o : outs)
        if (isTurning(o.layout)) {
            GPU::shared();
            return;
        }
}

// The branch point between flat and turning-device outputs.
std::unique_ptr<Sink> makeSink(const OutRequest& req, int w, int h, const Source& src, const Style& style) {
    if (!isTurning(req.layout)) return std::make_unique<Sink>(req, w, h, src, style);
    return std::make_unique<TurningSink>(
        req, std::make_unique<SpinScene>(w, h, src.W, src.H, style, 0.03, req.layout == Layout::closeupSpin));
}

// Runs work(i) for every sink, one thread per sink, and returns when all are done.
template <class F> void eachSink(size_t n, F&& work) {
    if (n == 1) {
        work(0);
        return;
    }
    std::vector<std::jthread> crew;
    crew.reserve(n - 1);
    for (size_t i = 1; i < n; ++i) crew.emplace_back([&work, i] { work(i); });
    work(0);
}

}  // namespace

void cmd_frame(const Args& args) {
    Opts opts(args);
    if (opts.files.empty() || opts.files.size() > 2) die(usage);
    const std::string recording = opts.files[0];
    std::vector<OutRequest> outs = opts.outs;
    if (opts.files.size() == 2) outs.push_back({opts.files[1], opts.size, opts.layout});
    if (outs.empty()) die("no output given (out path or --out)");

    std::vector<std::pair<int, int>> sizes;
    for (const auto& o : outs) sizes.push_back(parseVideoSize(o.size));
    const Style style(opts);
    Source src = openVideo(recording);
    for (const auto& o : outs) refuseOverwrite(o.path, recording);

    setUpTurning(outs);

    std::vector<std::unique_ptr<Sink>> sinks;
    for (size_t i = 0; i < outs.size(); ++i)
        sinks.push_back(makeSink(outs[i], sizes[i].first, sizes[i].second, src, style));

    FrameReader reader(src, opts.startSec);
    const AVRational tb = reader.timeBase();
    const double rangeEnd = opts.startSec + opts.maxSec;
    std::optional<FramePrep> prep;
    int64_t t0 = 0, lastDelta = 0, used = 0;
    Image8 frame;
    ContentYUV toYUV;
    while (reader.next()) {
        if (!prep) t0 = reader.pts();
        const int64_t delta = reader.pts() - t0;
        if (double(delta) * av_q2d(tb) >= opts.maxSec || reader.seconds() >= rangeEnd) break;
        if (prep) {
            bool wanted = false;
            for (const auto& s : sinks) wanted |= slotAt(delta, tb, s->fps) >= s->nextSlot;
            if (!wanted) continue;
        }
        reader.picture(frame);
        if (!prep) prep = FramePrep::make(src, frame.view());
        auto owned = std::make_shared<Image8>((*prep)(std::move(frame)));
        std::shared_ptr<const Image8> content = owned;
        const AVFrame* contentYUV = toYUV.convert(*owned);
        eachSink(sinks.size(),
                 [&](size_t i) { sinks[i]->update(content, contentYUV, slotAt(delta, tb, sinks[i]->fps)); });
        content.reset();
        ++used;
        lastDelta = delta;
        // Reuse the picture's memory for the next frame when no output kept it.
        if (owned.use_count() == 1) frame = std::move(*owned);
    }
    if (used == 0)
        die("no frames in range (start " + shortestDecimal(opts.startSec) + "s, length " +
            shortestDecimal(opts.maxSec) + "s)");

    eachSink(sinks.size(), [&](size_t i) { sinks[i]->tail(sinks[i]->stopFor(lastDelta, tb, src.fps)); });
    for (auto& s : sinks) s->writer.finish(s->nextSlot);
    for (const auto& s : sinks)
        std::printf("saved %s  (%dx%d, %lld frames @ %dfps%s)\n", s->path.c_str(), s->scene.w, s->scene.h,
                    (long long)s->nextSlot, s->fps, prep->island ? ", island tidied" : "");
    std::fflush(stdout);
}
