#pragma once
// Helpers shared by the app tests: throw-away folders, stand-in engines, small images.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "Studio/studio.h"
#include "engine/engine.h"

namespace support {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A bundle folder holding a stand-in `pellmar` (a shell script) and a look file.
inline void makeBundle(const QString& dir, const QByteArray& script, bool withLook = true) {
    const QString exe = dir + "/pellmar";
    writeFile(exe, "#!/bin/sh\n" + script);
    QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    if (withLook) writeFile(dir + "/look.conf", "theme_dark=\"#3c3c3c,#000000\"\n");
}

inline void writePng(const QString& path, QSize size, QColor colour = QColor(200, 40, 40)) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!img.save(path, "PNG")) qFatal("cannot write %s", qPrintable(path));
}

// A Studio with a settings file of its own inside `dir`, writing outputs into dir/out, with
// exactly `shapes` chosen (the default shapes when empty).
inline std::unique_ptr<Studio> makeStudio(const QString& dir, const QStringList& shapes = {}) {
    QDir().mkpath(dir);
    auto* store = new QSettings(dir + "/settings.ini", QSettings::IniFormat);
    if (!shapes.isEmpty()) store->setValue("shapes", shapes);
    if (!store->contains("outRoot")) store->setValue("outRoot", dir + "/out");
    return std::make_unique<Studio>(store);
}

// The engine's requests run to their end on the event loop; one that never ends stops the test.
template <class Result, class Start> Result waitFor(const char* what, Start start) {
    std::optional<Result> got;
    QObject context;  // an engine must not outlive its waiter
    start(&context, [&](Result r) { got.emplace(std::move(r)); });
    if (!QTest::qWaitFor([&] { return got.has_value(); }, 30000)) qFatal("%s never ended", what);
    return std::move(*got);
}

inline Outcome runNow(const QStringList& args, Token token = makeToken()) {
    return waitFor<Outcome>("engine run", [&](QObject* c, auto done) { Engine::run(args, token, c, done); });
}

inline std::optional<QString> performNow(const Job& job, Token token = makeToken()) {
    return waitFor<std::optional<QString>>("job", [&](QObject* c, auto done) { Engine::perform(job, token, c, done); });
}

inline std::pair<Outcome, QImage> previewNow(const PreviewKey& key) {
    return waitFor<std::pair<Outcome, QImage>>("preview", [&](QObject* c, auto done) {
        Engine::preview(key, makeToken(), c, [done](Outcome o, QImage img) { done({o, img}); });
    });
}

// Staging folders a render left in `tmp`; previews keep a folder of their own there.
inline QStringList staging(const QString& tmp) {
    QStringList dirs = QDir(tmp).entryList({"trevalo-*"}, QDir::Dirs);
    dirs.removeAll("trevalo-preview");
    return dirs;
}

// A folder of its own for the running test case, so that no case sees another's settings.
inline QString caseDir(const QTemporaryDir& root) {
    return root.path() + "/case-" + QTest::currentTestFunction() + QTest::currentDataTag();
}

}  // namespace support
