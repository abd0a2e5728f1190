#pragma once
#include <cstdint>
#include <memory>

#include "base/commands.h"
#include "flat/palette.h"
#include "flat/surface.h"
#include "video/writer.h"

// One output of the frame command as the command's time grid sees it: something that
// writes slot after slot into its writer. Flat outputs are drawn in frame.cpp;
// turning-device outputs ("spin", "closeup_spin") by the spin library, which implements
// this and hands its outputs in through TurningOutputs, so that the video library links
// nothing of the renderer.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    // Writes slot `slot`, after every slot before it. content is the recording frame on
    // screen (prepared, upright) or null before the first; yuv is its 4:2:0 copy when it
    // arrived for this very slot, null in a slot the recording has no frame of its own for.
    // The output lets yuv go as soon as it is drawn, before encoding: the reading side
    // then reuses its picture instead of holding one more per output.
    virtual void slot(Writer& out, int64_t slot, const Image8* content, FramePtr yuv) = 0;
    // Whether later slots without a recording frame of their own draw the held one anew;
    // when not, the reading loop may reuse its memory at once.
    virtual bool redrawsHeldFrames() const = 0;
    // The output never ends before this slot, however short the recording.
    virtual int64_t leastSlots() const { return 0; }
};

class TurningOutputs {
public:
    // Runs once before any output is set up, when some output turns: a machine without a
    // GPU fails here, before any output file is touched.
    virtual void prepare() const = 0;
    // A w x h output at spinFPS for content of contentW x contentH (upright); closeup: the
    // clip starts from the close-up framing.
    virtual std::unique_ptr<FrameOutput> make(int w, int h, int contentW, int contentH, const Style& style,
                                              bool closeup) const = 0;

protected:
    ~TurningOutputs() = default;
};

// The frame command, with its turning-device outputs made by `turning`.
void runFrame(const Args& args, const TurningOutputs& turning);
