#include "values.h"

#include <QFileInfo>
#include <QRegularExpression>

QString themeName(Theme t) { return t == Theme::light ? QStringLiteral("light") : QStringLiteral("dark"); }

Theme themeFromName(const QString& text) { return text == u"light" ? Theme::light : Theme::dark; }

QString captionPlaceName(CaptionPlace p) {
    return p == CaptionPlace::bottom ? QStringLiteral("bottom") : QStringLiteral("top");
}

CaptionPlace captionPlaceFromName(const QString& text) {
    return text == u"bottom" ? CaptionPlace::bottom : CaptionPlace::top;
}

QString Backdrop::text() const {
    QStringList parts;
    for (quint32 c : stops) parts << u'#' + QString::number(c & 0xffffffu, 16).rightJustified(6, u'0');
    return parts.join(u',');
}

std::optional<Backdrop> Backdrop::fromText(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^#([0-9a-fA-F]{6})(?:,#([0-9a-fA-F]{6}))?$"));
    if (text.isEmpty()) return Backdrop{};
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    Backdrop b;
    for (int i = 1; i <= 2; ++i)
        if (m.hasCaptured(i)) b.stops << m.captured(i).toUInt(nullptr, 16);
    return b;
}

QStringList dressArgs(const Caption& caption, CaptionPlace place, const Backdrop& backdrop) {
    QStringList args;
    const Caption c = caption.shown();
    if (c.hasTitle()) {
        args << "--title" << c.title;
        if (!c.subtitle.isEmpty()) args << "--subtitle" << c.subtitle;
        args << "--caption" << captionPlaceName(place);
    }
    if (!backdrop.isTheme()) args << "--backdrop" << backdrop.text();
    return args;
}

QString shapeName(Shape s) {
    switch (s) {
    case Shape::vertical: return QStringLiteral("vertical");
    case Shape::horizontal: return QStringLiteral("horizontal");
    case Shape::horizontal_closeup: return QStringLiteral("horizontal_closeup");
    case Shape::square: return QStringLiteral("square");
    case Shape::square_closeup: return QStringLiteral("square_closeup");
    }
    return {};
}

std::optional<Shape> shapeFromName(const QString& text) {
    for (Shape s : allShapes)
        if (shapeName(s) == text) return s;
    return std::nullopt;
}

QString shapeSize(Shape s, int scale) {
    const bool wide = s == Shape::horizontal || s == Shape::horizontal_closeup;
    const int w = (wide ? 1920 : 1080) * scale;
    const int h = (s == Shape::vertical ? 1920 : 1080) * scale;
    return QString::number(w) + u'x' + QString::number(h);
}

bool shapeCloseup(Shape s) { return s == Shape::horizontal_closeup || s == Shape::square_closeup; }

const QStringList& imageExtensions() {
    static const QStringList list{"png", "jpg", "jpeg", "heic"};
    return list;
}
const QStringList& videoExtensions() {
    static const QStringList list{"mov", "mp4", "m4v"};
    return list;
}
const QStringList& soundExtensions() {
    static const QStringList list{"mp3", "m4a", "wav", "aif", "aiff", "aac"};
    return list;
}

Kind kindOf(const QString& path) {
    // Only the file name counts, never a dot in a folder above it.
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return Kind::other;
    const QString ext = name.mid(dot + 1).toLower();
    if (imageExtensions().contains(ext)) return Kind::image;
    if (videoExtensions().contains(ext)) return Kind::video;
    if (soundExtensions().contains(ext)) return Kind::audio;
    return Kind::other;
}

QString stripExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > 0 ? fileName.left(dot) : fileName;
}
