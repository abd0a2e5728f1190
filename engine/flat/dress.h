#pragma once
#include <memory>
#include <string>

#include "base/opts.h"
#include "flat/geometry.h"
#include "flat/palette.h"
#include "flat/surface.h"

// The caption's typography from the look file, read only when a caption is asked for.
struct Typography {
    std::string family;
    double titleSize = 0, subtitleSize = 0, smallest = 0;  // fractions of the frame's shorter side
    int titleWeight = 0, subtitleWeight = 0;               // 100 (thin) to 1000
    double lineHeight = 0;                                 // times the font's own line height
    double gap = 0;                                        // title to subtitle, in title sizes
    double side = 0;                                       // free on the left and right, of W
    double edge = 0, apart = 0;                            // frame edge to text, text to device, of H
    double most = 0;                                       // the most of H the text may take
    Color title, subtitle;

    // Ends the process naming the first missing or malformed key.
    static Typography read(bool dark);
};

// The caption set at one plate size: its coverage, where it lies and the rows it leaves
// to the device. Close-ups always carry it at the top, since their device runs out of
// the frame's bottom edge.
struct CaptionBlock {
    Plane ink;          // coverage, title above subtitle
    int x = 0, y = 0;   // the block's bottom-left corner in the plate
    int titleRows = 0;  // the top rows of ink that belong to the title
    Color title, subtitle;
    Room room;

    // An empty block (whole room) for an empty caption. Ends the process when the
    // caption does not fit even at the look's smallest size.
    CaptionBlock(const Caption& caption, bool dark, Layout layout, int W, int H);
};

// Pango markup of a text at a pixel size and weight, every special character escaped;
// the text must be UTF-8 ("bad " + option + ": not UTF-8" otherwise).
std::string captionMarkup(const std::string& text, const std::string& option, const std::string& family, double px,
                          int weight, double lineHeight);

// Whether --caption bottom applies to a layout: close-ups keep the text at the top.
inline bool captionBelow(const Caption& c, Layout layout) { return c.bottom && !isCloseup(layout); }

// What the options lay on a plate beneath the device: a base of their own and the caption.
struct Dress {
    Backdrop backdrop;
    Image8 cover;  // a picture backdrop at the output size: the plate is ss times larger
    int ss = 1, plateH = 0;
    CaptionBlock caption;

    // W x H plate for an output ss times smaller.
    Dress(const Style& style, Layout layout, int W, int H, int ss);
    bool ownBase() const { return backdrop.kind != Backdrop::Kind::theme; }
    // The base of plate row y over `part`; `theme` shows through a see-through picture.
    void baseRow(int y, PxF* out, Span part, const Color& theme) const;
    // The caption's text over row y's pixels of `part`.
    void inkRow(int y, PxF* out, Span part) const;
};

// Nothing when the style adds neither caption nor backdrop: the theme's own plate.
std::shared_ptr<const Dress> dressFor(const Style& style, Layout layout, int W, int H, int ss);
