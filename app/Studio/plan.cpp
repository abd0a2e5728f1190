#include "studio.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString layoutFor(Shape s, bool spin) {
    if (spin) return shapeCloseup(s) ? QStringLiteral("closeup_spin") : QStringLiteral("spin");
    return shapeCloseup(s) ? QStringLiteral("closeup") : QStringLiteral("full");
}

}  // namespace

QList<Job> Studio::plan() const {
    const QDir folder(outputFolder());
    const QString theme = themeName(m_theme);
    const QList<Shape> shapes = orderedShapes();
    QList<Job> recordings, screenshots;
    if (shapes.isEmpty()) return {};

    // Base names are unique without regard to case, since outputs may land on a file system
    // that ignores case.
    QSet<QString> used;
    for (const Input& input : m_inputs) {
        const QString stem = stripExtension(QFileInfo(input.path).fileName());
        QString base = stem;
        for (int n = 2; used.contains(base.toLower()); ++n) base = stem + u'-' + QString::number(n);
        used.insert(base.toLower());
        // One caption per input, on every output of it (a recording's outputs share one pass).
        const QStringList dress = dressArgs(caption(input.path), m_captionPlace, m_backdrop);

        if (input.kind == Kind::video) {
            Job job{input.path, QStringList{"frame", input.path, "--theme", theme} + dress, {}, m_audio, {}};
            for (Shape s : shapes) {
                const QString stub = base + u'_' + shapeName(s);
                const QString file = stub + (m_spin ? "_spin.mp4" : ".mp4");
                job.args << "--out"
                         << "{TMP}/" + file << shapeSize(s, 1) << layoutFor(s, m_spin);
                job.outputs << folder.filePath(file);
                job.stale << folder.filePath(stub + (m_spin ? ".mp4" : "_spin.mp4"));
            }
            recordings << job;
            continue;
        }
        for (Shape s : shapes) {
            const QString stub = base + u'_' + shapeName(s);
            const QString layout = shapeCloseup(s) ? QStringLiteral("closeup") : QStringLiteral("full");
            Job job;
            job.source = input.path;
            if (m_spin) {
                job.args = QStringList{"spin",   input.path,      "{TMP}/" + stub + "_spin.mp4",
                                       "--size", shapeSize(s, 1), "--theme",
                                       theme,    "--layout",      layout} +
                           dress;
                job.outputs = {folder.filePath(stub + "_spin.mp4")};
                job.audio = m_audio;
                job.stale = {folder.filePath(stub + ".png")};
            } else {
                job.args = QStringList{"still",  input.path,      "{TMP}/" + stub + ".png",
                                       "--size", shapeSize(s, 2), "--theme",
                                       theme,    "--layout",      layout} +
                           dress;
                job.outputs = {folder.filePath(stub + ".png")};
                job.stale = {folder.filePath(stub + "_spin.mp4")};
            }
            screenshots << job;
        }
    }
    return recordings + screenshots;
}
