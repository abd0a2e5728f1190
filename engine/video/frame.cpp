#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "flat/palette.h"
#include "flat/scene.h"
#include "look/look.h"
#include "base/commands.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"
#include "base/progress.h"
#include "video/args.h"
#include "video/content.h"
#include "video/island.h"
#include "video/output.h"
#include "video/screen.h"
#include "video/source.h"
#include "video/writer.h"

namespace {

// Where a frame delta (in the recording's time base) lands on a grid of fps slots,
// rounded half away from zero, in exact integer arithmetic.
int64_t slotAt(int64_t delta, AVRational tb, int fps) {
    return av_rescale_rnd(delta, int64_t(tb.num) * fps, tb.den, AV_ROUND_NEAR_INF);
}

// A flat output: the recording frame composed into the scene straight in the encoder's
// 4:2:0 picture; a slot without a frame of its own repeats the last picture.
class FlatOutput final : public FrameOutput {
public:
    // The scene lives only while the painter takes what it needs.
    FlatOutput(int w, int h, Layout layout, const Source& src, const Style& style)
        : m_painter(Scene(w, h, layout, src.W, src.H, style, videoGrain)) {}

    void slot(Writer& out, int64_t slot, const Image8* content, FramePtr yuv) override {
        if (!yuv) {
            out.repeat(slot);
            return;
        }
        m_painter.draw(out.canvas(), yuv.get());
        yuv.reset();
        out.appendCanvas(slot);
    }
    bool redrawsHeldFrames() const override { return false; }

private:
    ScreenPainter m_painter;
};

// One output of the command: its writer, its place on the time grid and what draws it.
class Sink {
public:
    // The output is built before the writer replaces whatever is at the path.
    Sink(const std::string& path, int w, int h, int fps, std::unique_ptr<FrameOutput> output, int threads)
        : path(path), fps(fps), output(std::move(output)),
          writer(path, w, h, fps, Container::MP4, Slots::Consecutive, threads) {}

    // A prepared recording frame (also in 4:2:0) for slot target; frames behind the grid
    // are dropped.
    void update(const std::shared_ptr<const Image8>& frame, FramePtr frameYUV, int64_t target) {
        if (target < nextSlot) return;
        while (nextSlot < target) gap(nextSlot++);
        content = frame;
        output->slot(writer, target, content.get(), std::move(frameYUV));
        nextSlot = target + 1;
        if (progress) progress->reached(index, nextSlot);
        // Let the frame go at once unless later slots draw it again, so the reading loop
        // can reuse its buffer.
        if (!output->redrawsHeldFrames()) content.reset();
    }
    // Fills the grid up to (not including) stop.
    void tail(int64_t stop) {
        while (nextSlot < stop) gap(nextSlot++);
    }
    // The slot at which this output ends, for a recording whose last used frame came
    // lastDelta after its first.
    int64_t stopFor(int64_t lastDelta, AVRational tb, int srcFps) const {
        // (lastT + 1 / srcFps) * fps, rounded half away from zero.
        const int64_t recorded =
            av_rescale_rnd(lastDelta * tb.num * srcFps + tb.den, fps, int64_t(tb.den) * srcFps, AV_ROUND_NEAR_INF);
        return std::max(recorded, output->leastSlots());
    }

    const std::string path;  // as given
    const int fps;
    const std::unique_ptr<FrameOutput> output;
    Writer writer;
    std::shared_ptr<const Image8> content;  // the recording frame on screen, while kept
    int64_t nextSlot = 0;
    Progress* progress = nullptr;  // counts this output's slots as output `index`
    size_t index = 0;

private:
    void gap(int64_t slot) {
        output->slot(writer, slot, content.get(), FramePtr());
        if (progress) progress->reached(index, slot + 1);
    }
};

// The slots an output is expected to write, for the progress line: the part of the
// recording in range at the output's rate. A container that does not know its length
// gives the least; the count then grows with the frames.
int64_t expectedSlots(const Source& src, const Opts& opts, const Sink& sink) {
    const AVStream* st = src.st();
    double length = 0;
    if (st->duration != AV_NOPTS_VALUE) length = double(st->duration) * av_q2d(st->time_base);
    else if (src.fmt->duration != AV_NOPTS_VALUE) length = double(src.fmt->duration) / AV_TIME_BASE;
    const double used = std::clamp(std::min(length - opts.startSec, opts.maxSec), 0.0, 1e6);
    return std::max(int64_t(std::llround(used * sink.fps)), sink.output->leastSlots());
}

// The branch point between flat and turning-device outputs.
std::unique_ptr<Sink> makeSink(const OutRequest& req, int w, int h, const Source& src, const Style& style,
                               const TurningOutputs& turning, int threads) {
    if (!isTurning(req.layout))
        return std::make_unique<Sink>(req.path, w, h, src.fps,
                                      std::make_unique<FlatOutput>(w, h, req.layout, src, style), threads);
    return std::make_unique<Sink>(req.path, w, h, spinFPS,
                                  turning.make(w, h, src.W, src.H, style, req.layout == Layout::closeupSpin), threads);
}

// The work of a run, done by up to one thread per core: reading the next
// recording frame, and each output's drawing and encoding of the frames handed to it, one
// frame at a time per output and in order. A thread that finishes a piece takes the next
// one there is, so no core waits while an output has a frame to take, and each piece runs
// to its end rather than sharing a core in slices with the others.
class Crew {
public:
    struct Job {
        std::shared_ptr<const Image8> content;
        FramePtr yuv;
        int64_t target = 0;
    };

    explicit Crew(std::vector<std::unique_ptr<Sink>>& sinks) : m_sinks(sinks), m_lanes(sinks.size()) {}

    // Hands a frame to output i for slot target; the 4:2:0 picture is held by reference
    // until it is drawn. Only `read` calls it, and only while every output has room.
    void hand(size_t i, std::shared_ptr<const Image8> content, const AVFrame* yuv, int64_t target) {
        FramePtr held(av_frame_clone(yuv));
        if (!held) die("av_frame_clone: out of memory");
        std::lock_guard lock(m_lock);
        m_lanes[i].jobs.push_back({std::move(content), std::move(held), target});
        m_wake.notify_all();
    }

    // Calls read, which reads one frame and hands it over and returns false at the end,
    // until it returns false, and returns once every frame handed over is encoded.
    void run(size_t threads, const std::function<bool()>& read) {
        std::vector<std::jthread> others;
        for (size_t i = 1; i < threads; ++i) others.emplace_back([this, &read] { work(read); });
        work(read);
    }

private:
    // Two frames ahead let an output that is quick on some frames (another frame type, a
    // lighter picture) go on while a slower one catches up; each one more is a recording
    // picture held in memory (4.5 MiB for a phone's screen).
    static constexpr size_t depth = 2;

    struct Lane {
        std::deque<Job> jobs;
        bool busy = false;
    };

    void work(const std::function<bool()>& read) {
        std::unique_lock lock(m_lock);
        for (;;) {
            // Reading comes first while an output is about to run dry, so that the others
            // always have a frame to take; it waits while any output has no room.
            size_t shortest = depth;
            bool room = true;
            for (const Lane& l : m_lanes) {
                shortest = std::min(shortest, l.jobs.size() + (l.busy ? 1 : 0));
                room &= l.jobs.size() < depth;
            }
            const bool canRead = !m_reading && !m_readAll && room;
            const size_t lane = next();
            if (canRead && (lane == m_lanes.size() || shortest < depth)) {
                m_reading = true;
                lock.unlock();
                const bool more = read();
                lock.lock();
                m_reading = false;
                m_readAll = !more;
                m_wake.notify_all();
            } else if (lane < m_lanes.size()) {
                Lane& l = m_lanes[lane];
                Job job = std::move(l.jobs.front());
                l.jobs.pop_front();
                l.busy = true;
                lock.unlock();
                m_sinks[lane]->update(job.content, std::move(job.yuv), job.target);
                job = Job();
                lock.lock();
                l.busy = false;
                m_wake.notify_all();
            } else if (m_readAll && !m_reading && idle()) {
                return;
            } else {
                m_wake.wait(lock);
            }
        }
    }
    // The output with a frame to take that is furthest behind in the recording (the larger
    // picture on a tie), or none.
    size_t next() const {
        size_t best = m_lanes.size();
        double bestAt = 0;
        int64_t bestSize = 0;
        for (size_t i = 0; i < m_lanes.size(); ++i) {
            const Lane& l = m_lanes[i];
            if (l.busy || l.jobs.empty()) continue;
            const double at = double(l.jobs.front().target) / m_sinks[i]->fps;
            const int64_t size = int64_t(m_sinks[i]->writer.width()) * m_sinks[i]->writer.height();
            if (best == m_lanes.size() || at < bestAt || (at == bestAt && size > bestSize))
                best = i, bestAt = at, bestSize = size;
        }
        return best;
    }
    bool idle() const {
        return std::all_of(m_lanes.begin(), m_lanes.end(), [](const Lane& l) { return !l.busy && l.jobs.empty(); });
    }

    std::vector<std::unique_ptr<Sink>>& m_sinks;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Lane> m_lanes;
    bool m_reading = false, m_readAll = false;
};

// Runs work(i) for every sink, one thread per sink, and returns when all are done.
template <class F> void eachSink(size_t n, F&& work) {
    if (n == 1) {
        work(0);
        return;
    }
    std::vector<std::jthread> others;
    others.reserve(n - 1);
    for (size_t i = 1; i < n; ++i) others.emplace_back([&work, i] { work(i); });
    work(0);
}

}  // namespace

void runFrame(const Args& args, const TurningOutputs& turning) {
    Opts opts(args);
    if (opts.files.empty() || opts.files.size() > 2) die(usageFrame);
    const std::string recording = opts.files[0];
    std::vector<OutRequest> outs = opts.outs;
    if (opts.files.size() == 2) outs.push_back({opts.files[1], opts.size, opts.layout});
    if (outs.empty()) die("no output given (out path or --out)");

    std::vector<std::pair<int, int>> sizes;
    for (const auto& o : outs) sizes.push_back(parseVideoSize(o.size));
    const Style style(opts);
    Source src = openVideo(recording);
    for (size_t i = 0; i < outs.size(); ++i) {
        refuseOverwrite(outs[i].path, recording, "recording");
        refuseOverwriteBackdrop(outs[i].path, style);
        // Each output has a "saved" line of its own, which only a file of its own can keep.
        for (size_t j = 0; j < i; ++j)
            if (sameFile(outs[j].path, outs[i].path)) die("two outputs write the same file: " + outs[i].path);
    }

    // Turning-device outputs share one GPU context, made before any output is set up.
    const bool anyTurning =
        std::any_of(outs.begin(), outs.end(), [](const OutRequest& o) { return isTurning(o.layout); });
    if (anyTurning) turning.prepare();

    // The outputs encode side by side: together their encoders take the machine's cores,
    // not each of them all.
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = std::max(1, cores / int(outs.size()));
    // Flat outputs set up side by side: their plates and encoders are made while the others
    // are, rather than one core at a time. Turning outputs share the GPU context, one by one.
    std::vector<std::unique_ptr<Sink>> sinks(outs.size());
    auto setUp = [&](size_t i) {
        sinks[i] = makeSink(outs[i], sizes[i].first, sizes[i].second, src, style, turning, threads);
    };
    if (anyTurning)
        for (size_t i = 0; i < outs.size(); ++i) setUp(i);
    else eachSink(outs.size(), setUp);

    std::vector<FrameCount> counts;
    for (const auto& s : sinks) counts.push_back({s->path, 0, expectedSlots(src, opts, *s)});
    Progress progress("frame", counts, opts.report);
    for (size_t i = 0; i < sinks.size(); ++i) {
        sinks[i]->progress = &progress;
        sinks[i]->index = i;
    }

    Crew crew(sinks);
    std::vector<int64_t> queuedNext(sinks.size(), 0);  // the reading side's view of nextSlot

    // One decoding thread keeps ahead of the outputs; frame threads would each hold pictures.
    FrameReader reader(src, opts.startSec, 1);
    const AVRational tb = reader.timeBase();
    const double rangeEnd = opts.startSec + opts.maxSec;
    std::optional<FramePrep> prep;
    int64_t t0 = 0, lastDelta = 0, used = 0;
    Image8 frame;
    ContentYUV toYUV;
    // Reads up to the next frame some output takes and hands it over; false at the end.
    const std::function<bool()> read = [&] {
        while (reader.next()) {
            if (!prep) t0 = reader.pts();
            const int64_t delta = reader.pts() - t0;
            if (double(delta) * av_q2d(tb) >= opts.maxSec || reader.seconds() >= rangeEnd) return false;
            if (prep) {
                bool wanted = false;
                for (size_t i = 0; i < sinks.size(); ++i) wanted |= slotAt(delta, tb, sinks[i]->fps) >= queuedNext[i];
                if (!wanted) continue;
            }
            bool pictured = false;
            if (!prep) {
                reader.picture(frame);
                prep = FramePrep::make(src, frame.view());
                pictured = true;
            }
            // Flat outputs draw from the 4:2:0 picture alone, which a decoded 4:2:0 frame
            // gives without a BGRA copy; turning outputs draw from BGRA.
            const AVFrame* contentYUV = anyTurning ? nullptr : toYUV.prepare(reader.decoded(), *prep);
            if (contentYUV && pictured) {
                frame = Image8();  // only the island's search needed it
                reader.releasePicture();
            }
            std::shared_ptr<Image8> owned;
            if (!contentYUV) {
                if (!pictured) reader.picture(frame);
                owned = std::make_shared<Image8>((*prep)(std::move(frame)));
                contentYUV = toYUV.convert(*owned);
            }
            for (size_t i = 0; i < sinks.size(); ++i) {
                const int64_t target = slotAt(delta, tb, sinks[i]->fps);
                if (target < queuedNext[i]) continue;  // behind this output's grid
                crew.hand(i, owned, contentYUV, target);
                queuedNext[i] = target + 1;
            }
            ++used;
            lastDelta = delta;
            // Reuse the picture's memory for the next frame when no output kept it.
            if (owned && owned.use_count() == 1) frame = std::move(*owned);
            return true;
        }
        return false;
    };
    crew.run(std::min(size_t(cores), sinks.size() + 1), read);
    if (used == 0)
        die("no frames in range (start " + shortestDecimal(opts.startSec) + "s, length " +
            shortestDecimal(opts.maxSec) + "s)");

    // Each encoder drains the frames it still holds back on its own core.
    eachSink(sinks.size(), [&](size_t i) {
        sinks[i]->tail(sinks[i]->stopFor(lastDelta, tb, src.fps));
        sinks[i]->writer.finish(sinks[i]->nextSlot);
    });
    progress.finish();
    for (const auto& s : sinks)
        reportSaved(s->path, std::to_string(s->writer.width()) + "x" + std::to_string(s->writer.height()) + ", " +
                                 std::to_string(s->nextSlot) + " frames @ " + std::to_string(s->fps) + "fps" +
                                 (prep->island ? ", island tidied" : ""));
}
