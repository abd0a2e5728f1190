#include "labels.h"

#include <QDir>

#include <cmath>

QString shapeTitle(Shape s) {
    switch (s) {
    case Shape::vertical: return QStringLiteral("Vertical");
    case Shape::horizontal: return QStringLiteral("Horizontal");
    case Shape::horizontal_closeup: return QStringLiteral("Horizontal close-up");
    case Shape::square: return QStringLiteral("Square");
    case Shape::square_closeup: return QStringLiteral("Square close-up");
    }
    return {};
}

QString aspectTag(Shape s) {
    switch (s) {
    case Shape::vertical: return QStringLiteral("9:16");
    case Shape::horizontal:
    case Shape::horizontal_closeup: return QStringLiteral("16:9");
    case Shape::square:
    case Shape::square_closeup: return QStringLiteral("1:1");
    }
    return {};
}

QSizeF shapeAspect(Shape s) {
    const QStringList wh = shapeSize(s, 1).split(u'x');
    if (wh.size() != 2) return {1, 1};
    return {wh[0].toDouble(), wh[1].toDouble()};
}

QString clock(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    const long long whole = std::llround(seconds);
    return QString::number(whole / 60) + u':' + QString::number(whole % 60).rightJustified(2, u'0');
}

QString tilde(const QString& path, const QString& home) {
    if (home.isEmpty() || home == u"/") return path;
    if (path == home) return QStringLiteral("~");
    // Only a whole leading folder counts: /home/ann is not the start of /home/anna.
    if (path.startsWith(home + u'/')) return u'~' + path.mid(home.size());
    return path;
}

QString tilde(const QString& path) { return tilde(path, QDir::homePath()); }

QString countFiles(int n) { return QString::number(n) + QString::fromUtf8(n == 1 ? " file" : " files"); }
