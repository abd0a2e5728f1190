#include "flat/dress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/die.h"
#include "flat/imageio.h"
#include "flat/resample.h"
#include "look/look.h"

namespace {

std::string escapeMarkup(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<double> keyNums(const std::string& key, int n, double lo, double hi, const std::string& want) {
    std::vector<double> v = look().nums(key, n);
    for (double d : v)
        if (!(d >= lo && d <= hi)) die("look.conf: " + key + " wants " + want + ", got " + look().str(key));
    return v;
}

// Coverage of b placed into a at row `top`, centred across.
void paste(Plane& into, const Plane& from, int top) {
    const int left = (into.w - from.w) / 2;
    for (int i = 0; i < from.h; ++i) std::copy_n(from.top(i), from.w, into.top(top + i) + left);
}

}  // namespace

Typography Typography::read(bool dark) {
    Typography t;
    t.family = trimSpaces(look().str("caption_font"));
    if (t.family.empty() || !validUtf8(t.family))
        die("look.conf: caption_font wants a font family, got " + look().str("caption_font"));
    const auto size = keyNums("caption_size", 3, 1e-3, 1, "title, subtitle and smallest title size in (0, 1]");
    t.titleSize = size[0], t.subtitleSize = size[1], t.smallest = std::min(size[0], size[2]);
    const auto weight = keyNums("caption_weight", 2, 100, 1000, "two weights from 100 to 1000");
    t.titleWeight = int(weight[0]), t.subtitleWeight = int(weight[1]);
    const auto spacing = keyNums("caption_spacing", 2, 0, 4, "line height and title gap from 0 to 4");
    if (spacing[0] <= 0)
        die("look.conf: caption_spacing wants a line height above 0, got " + look().str("caption_spacing"));
    t.lineHeight = spacing[0], t.gap = spacing[1];
    const auto margin = keyNums("caption_margin", 3, 0, 0.45, "side, edge and device margins from 0 to 0.45");
    t.side = margin[0], t.edge = margin[1], t.apart = margin[2];
    t.most = keyNums("caption_height", 1, 0.01, 0.9, "a fraction of the frame height from 0.01 to 0.9")[0];
    const std::string key = std::string("caption_colour_") + (dark ? "dark" : "light");
    const std::string& colours = look().str(key);
    const size_t comma = colours.find(',');
    const auto title = readColour(trimSpaces(colours.substr(0, comma)));
    const auto subtitle = comma == std::string::npos ? std::nullopt : readColour(trimSpaces(colours.substr(comma + 1)));
    if (!title || !subtitle) die("look.conf: " + key + " wants #RRGGBB,#RRGGBB, got " + colours);
    t.title = *title, t.subtitle = *subtitle;
    return t;
}

std::string captionMarkup(const std::string& text, const std::string& option, const std::string& family, double px,
                          int weight, double lineHeight) {
    if (!validUtf8(text)) die("bad " + option + ": not UTF-8");
    // At 72 dpi a point is a pixel; sizes are in 1024ths of a point.
    char attrs[160];
    std::snprintf(attrs, sizeof attrs, "\" size=\"%ld\" weight=\"%d\" line_height=\"%.4f\">", std::lround(px * 1024),
                  weight, lineHeight);
    return "<span font_family=\"" + escapeMarkup(family) + attrs + escapeMarkup(text) + "</span>";
}

CaptionBlock::CaptionBlock(const Caption& c, bool dark, Layout layout, int W, int H) {
    if (c.empty()) return;
    const Typography t = Typography::read(dark);
    title = t.title, subtitle = t.subtitle;
    const double shorter = std::min(W, H);
    const int width = std::max(1, int(std::lround(W * (1 - 2 * t.side))));
    const double edge = std::round(t.edge * H), apart = t.apart * H;
    // The text may take at most this many rows, and always leaves the device some.
    const double most = std::min(t.most * H, H - edge - apart - 0.1 * H);
    auto set = [&](const std::string& text, const char* option, double px, int weight) {
        if (text.empty()) return Plane{};
        Plane p = setText(captionMarkup(text, option, t.family, px, weight, t.lineHeight), width);
        if (p.w == 0) die(std::string("cannot set the ") + (option + 2) + ": " + text);
        return p;
    };
    // Text that is too tall at the look's sizes shrinks step by step, down to the smallest.
    for (double k = 1;; k *= 0.92) {
        const bool smallest = t.titleSize * k <= t.smallest;
        if (smallest) k = t.smallest / t.titleSize;
        const double titlePx = t.titleSize * k * shorter;
        const Plane a = set(c.title, "--title", titlePx, t.titleWeight);
        const Plane b = set(c.subtitle, "--subtitle", t.subtitleSize * k * shorter, t.subtitleWeight);
        const int gap = a.h && b.h ? int(std::lround(t.gap * titlePx)) : 0;
        const int height = a.h + gap + b.h, widest = std::max(a.w, b.w);
        if (height <= most && widest <= width) {
            ink = Plane(widest, height);
            paste(ink, a, 0);
            paste(ink, b, a.h + gap);
            titleRows = a.h;
            break;
        }
        if (smallest)
            die("caption does not fit: " + (c.title.empty() ? c.subtitle : c.title) + "  (" +
                std::to_string(int(std::lround(100 * t.most))) + "% of the frame's height even at the smallest size)");
    }
    x = (W - ink.w) / 2;
    if (captionBelow(c, layout)) {
        y = int(edge);
        room = {y + ink.h + apart, H - (y + ink.h + apart)};
    } else {
        y = H - int(edge) - ink.h;
        room = {0, y - apart};
    }
}

Dress::Dress(const Style& style, Layout layout, int W, int H, int ss_)
    : backdrop(style.backdrop), ss(ss_), plateH(H), caption(style.caption, style.dark, layout, W, H) {
    if (backdrop.kind != Backdrop::Kind::picture) return;
    // The picture covers the frame at the output size, centred; a supersampled plate
    // reads each of its pixels ss times over, so it resolves back to exactly these.
    const Image8& p = *backdrop.picture;
    const int w = W / ss, h = H / ss;
    const double k = std::max(double(w) / p.w, double(h) / p.h);
    const int sw = std::max(w, int(std::ceil(p.w * k - 1e-9))), sh = std::max(h, int(std::ceil(p.h * k - 1e-9)));
    const Image8 scaled = resample(p.view(), sw, sh);
    cover = Image8(w, h);
    const int ox = (sw - w) / 2, oy = (sh - h) / 2;
    for (int i = 0; i < h; ++i) std::copy_n(scaled.top(oy + i) + ox, w, cover.top(i));
}

void Dress::baseRow(int y, PxF* out, Span part, const Color& theme) const {
    if (backdrop.kind == Backdrop::Kind::picture) {
        // See-through pictures lie over the theme's base.
        const Px8* row = cover.row(y / ss);
        for (int x = part.x0; x < part.x1; ++x) {
            const Px8 p = row[x / ss];
            const float keep = 1 - p.a / 255.f;
            out[x] = {float(p.r / 255.f + theme.r * keep), float(p.g / 255.f + theme.g * keep),
                      float(p.b / 255.f + theme.b * keep), 1};
        }
        return;
    }
    // The gradient runs from the top edge to the bottom edge; a solid colour is one with
    // both ends the same.
    const double t = (y + 0.5) / plateH;
    const Color& a = backdrop.bottom;
    const Color& b = backdrop.top;
    const PxF c{float(a.r + (b.r - a.r) * t), float(a.g + (b.g - a.g) * t), float(a.b + (b.b - a.b) * t), 1};
    std::fill(out + part.x0, out + part.x1, c);
}

void Dress::inkRow(int y, PxF* out, Span part) const {
    const Plane& ink = caption.ink;
    const int i = caption.y + ink.h - 1 - y;  // the ink's row, from its top
    if (ink.h == 0 || i < 0 || i >= ink.h) return;
    const Color& c = i < caption.titleRows ? caption.title : caption.subtitle;
    const float* a = ink.top(i);
    const int x0 = std::max(part.x0, caption.x), x1 = std::min(part.x1, caption.x + ink.w);
    for (int x = x0; x < x1; ++x) {
        const float k = a[x - caption.x];
        if (k == 0) continue;
        PxF& p = out[x];
        p = {float(p.r * (1 - k) + c.r * k), float(p.g * (1 - k) + c.g * k), float(p.b * (1 - k) + c.b * k),
             p.a * (1 - k) + k};
    }
}

std::shared_ptr<const Dress> dressFor(const Style& style, Layout layout, int W, int H, int ss) {
    if (style.caption.empty() && style.backdrop.kind == Backdrop::Kind::theme) return nullptr;
    return std::make_shared<const Dress>(style, layout, W, H, ss);
}
