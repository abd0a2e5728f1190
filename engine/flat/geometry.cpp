#include "flat/geometry.h"

#include <algorithm>

#include "look/look.h"
#include "base/die.h"

namespace {

Geo finish(const Rect& body, double k, double a, int W, int H) {
    const double t = lv().bezelFrac * a, r = lv().screenRadiusFrac * a;
    const double s = std::min(W, H) / lv().frameReference;
    Geo g;
    g.body = body;
    g.screen = body.inset(t * k);
    g.screenR = r * k;
    g.bodyR = (r + t) * k;
    g.sig = 72 * s;
    g.shdy = 26 * s;
    return g;
}

}  // namespace

Geo geometry(int W, int H, double a, double b) {
    const double t = lv().bezelFrac * a;
    const double BW = a + 2 * t, BH = b + 2 * t;
    const double fill = H < W ? lv().fillHorizontal : lv().fillVertical;
    const double k = std::min(lv().maxWidthFrac * W / BW, fill * H / BH);
    const Rect body{(W - BW * k) / 2, (H - BH * k) / 2, BW * k, BH * k};
    return finish(body, k, a, W, H);
}

Geo geoFrom(const Rect& body, double a, int W, int H) {
    const double t = lv().bezelFrac * a;
    return finish(body, body.w / (a + 2 * t), a, W, H);
}

Geo layoutGeo(Layout layout, int W, int H, double a, double b) {
    if (!isCloseup(layout)) return geometry(W, H, a, b);
    return layoutGeo(layout, W, H, a, b, Room{0, double(H)});
}

Geo layoutGeo(Layout layout, int W, int H, double a, double b, const Room& room) {
    if (room.whole()) return layoutGeo(layout, W, H, a, b);
    const double t = lv().bezelFrac * a;
    if (!isCloseup(layout)) {
        // The frame's own shape picks the fill, so a caption does not change it.
        const double BW = a + 2 * t, BH = b + 2 * t;
        const double fill = H < W ? lv().fillHorizontal : lv().fillVertical;
        const double k = std::min(lv().maxWidthFrac * W / BW, fill * room.h / BH);
        const Rect body{(W - BW * k) / 2, room.y + (room.h - BH * k) / 2, BW * k, BH * k};
        return finish(body, k, a, W, H);
    }
    const std::vector<double> fm = look().nums(H < W ? "layout_closeup_horizontal" : "layout_closeup_square", 2);
    const double f = fm[0], m = fm[1];
    const double A = (a + 2 * t) / (b + 2 * t);
    const double top = room.maxY() - m * room.h;
    double h = (top - room.y) / f, w = A * h;
    if (0.88 * W < w) {
        w = 0.88 * W;
        h = w / A;
    }
    return geoFrom({(W - w) / 2, top - h, w, h}, a, W, H);
}
