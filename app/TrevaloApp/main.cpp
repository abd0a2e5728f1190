// trevalo: the window that frames screenshots and recordings through the pellmar engine.

#include "shell.h"
#include "Studio/studio.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("trevalo"));
    QApplication::setDesktopFileName(QStringLiteral("trevalo"));
    QApplication::setQuitOnLastWindowClosed(true);

    const QStringList files = Forwarder::filesFrom(QApplication::arguments(), QDir::currentPath());
    Forwarder forwarder(Forwarder::defaultName());
    if (!forwarder.listen()) {
        // Another window is running: it takes the files, and this launch ends.
        if (Forwarder::send(Forwarder::defaultName(), files)) return 0;
    }

    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Appearance::shared().setScheme(DevHooks::appearance(env).value_or(Appearance::fromPalette()));

    Studio& studio = Studio::shared();
    MainWindow window(studio);
    QObject::connect(&forwarder, &Forwarder::received, &window, [&](const QStringList& paths) {
        if (!paths.isEmpty()) studio.add(paths);
        window.present();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &studio, [&] { stopEngines(studio); });
    quitOnSignals();

    window.show();
    DevHooks::apply(window, studio, env);
    if (!files.isEmpty()) studio.add(files);
    return app.exec();
}
