#include "spin/turning.h"

#include "spin/gpu.h"
#include "spin/schedule.h"
#include "spin/spinscene.h"
#include "video/screen.h"

namespace {

class TurningOutput final : public FrameOutput {
public:
    TurningOutput(int w, int h, int contentW, int contentH, const Style& style, bool closeup)
        : m_spin(w, h, contentW, contentH, style, videoGrain, closeup), m_after(m_spin.flat), m_before(m_spin.start) {}

    void slot(Writer& out, int64_t slot, const Image8* content, FramePtr yuv) override {
        const Shown shown = shownAt(slot);
        // While the device turns a held recording frame is drawn anew, so that the device
        // keeps moving; at rest the last picture is the right one.
        if (!content || (!yuv && !shown.moving())) {
            out.repeat(slot);
            return;
        }
        if (shown.rendered()) {
            m_spin.turned(out.newFrame(), *content, shown.deg, shown.weight);
            out.append(slot);
            m_painted = nullptr;
            return;
        }
        ScreenPainter& rest = shown.before() ? m_before : m_after;
        if (yuv) {
            // A painter touches only the screen once the canvas holds its plate; anything
            // else drawn there since means the whole frame again.
            if (m_painted != &rest) rest.reprime();
            rest.draw(out.canvas(), yuv.get());
            yuv.reset();
            out.appendCanvas(slot);
            m_painted = &rest;
        } else if (m_painted == &rest) {
            out.repeat(slot);  // the same rest frame with the same content
        } else {
            m_spin.rest(shown.deg).draw(out.newFrame(), *content);
            out.append(slot);
            m_painted = nullptr;
        }
    }
    bool redrawsHeldFrames() const override { return true; }
    int64_t leastSlots() const override { return leastTurningSlots(); }

private:
    SpinScene m_spin;
    ScreenPainter m_after, m_before;
    const ScreenPainter* m_painted = nullptr;  // the painter whose frame the canvas holds
};

class SpinOutputs final : public TurningOutputs {
public:
    void prepare() const override { GPU::shared(); }
    std::unique_ptr<FrameOutput> make(int w, int h, int contentW, int contentH, const Style& style,
                                      bool closeup) const override {
        return std::make_unique<TurningOutput>(w, h, contentW, contentH, style, closeup);
    }
};

}  // namespace

const TurningOutputs& spinOutputs() {
    static const SpinOutputs outputs;
    return outputs;
}

void cmd_frame(const Args& args) { runFrame(args, spinOutputs()); }
