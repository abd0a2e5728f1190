#include "spin/motion.h"

#include <algorithm>

#include "look/look.h"

double spinAngle(double t) {
    const std::vector<double>& timing = lv().spinTiming;
    const double u = (t - timing[0]) / timing[1];
    // A zero-length turn gives u = 0/0 at its start: "not above 0" keeps that at rest.
    if (!(u > 0)) return 0;
    if (u >= 1) return 360;

    // Bezier easing from (0,0) to (1,1) with control points (a,b) and (1-a,1-b). A fixed
    // number of bisection steps, with no tolerance test, keeps the angle of one time the
    // same on every call.
    const double a = lv().spinEase[0], b = lv().spinEase[1];
    auto bez = [](double c, double s) {
        const double r = 1 - s;
        return 3 * c * s * r * r + 3 * (1 - c) * s * s * r + s * s * s;
    };
    double lo = 0, hi = 1;
    for (int i = 0; i < 48; ++i) {
        const double m = (lo + hi) / 2;
        if (bez(a, m) < u) lo = m;
        else hi = m;
    }
    return 360 * bez(b, (lo + hi) / 2);
}

bool spinTurning(double t) {
    const double deg = spinAngle(t);
    return deg > 0 && deg < 360;
}

double handoffWeight(double deg) {
    const double away = std::min(deg, 360 - deg), width = lv().spinHandoff;
    // A ramp of zero width is a hard cut, not 0/0. A negative width never leaves the
    // rest's side of the ramp: the flat frame throughout, the turn never rendered.
    const double r = width > 0 ? std::clamp(away / width, 0.0, 1.0) : width == 0 && away > 0 ? 1 : 0;
    return r * r * (3 - 2 * r);
}

double SpinMotion::travel(double deg) const {
    const double x = std::clamp(deg / 360, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

Placement SpinMotion::placement(double deg) const {
    if (!from) return {centre, 1};
    const double e = travel(deg);
    const double z0 = from->body.w / geo.body.w;
    const Vec2 start{from->body.x + from->body.w / 2, from->body.y + from->body.h / 2};
    return {{start.x + e * (centre.x - start.x), start.y + e * (centre.y - start.y)}, z0 + e * (1 - z0)};
}
