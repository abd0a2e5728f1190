#pragma once
// The application shell: the one main window with its menus, files handed over from outside,
// the developer hooks, and an orderly end of every engine when the application quits.

#include "Views/clay.h"
#include "Studio/values.h"

#include <QLocalServer>
#include <QMainWindow>
#include <QProcessEnvironment>

#include <optional>

class QAction;
class QActionGroup;
class QMenu;
class ContentView;
class Studio;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{1180, 760};
    explicit MainWindow(Studio& studio, QWidget* parent = nullptr);
    ContentView* content() const { return m_content; }
    QAction* addFiles() const { return m_addFiles; }
    QAction* previousFile() const { return m_previous; }
    QAction* nextFile() const { return m_next; }
    QAction* removeFile() const { return m_remove; }
    QAction* renderAction() const { return m_render; }
    QAction* showOutput() const { return m_showOutput; }
    QMenu* previewMenu() const { return m_previewMenu; }
    // Brings the window forward, for files opened from outside.
    void present();

private:
    void refreshActions();
    void rebuildPreviewMenu();
    Studio& m_studio;
    ContentView* m_content;
    QAction* m_addFiles;
    QAction* m_previous;
    QAction* m_next;
    QAction* m_remove;
    QAction* m_render;
    QAction* m_showOutput;
    QMenu* m_previewMenu;
    QActionGroup* m_previewGroup;
    QList<Shape> m_previewShapes;
};

namespace DevHooks {

// TREVALO_APPEARANCE: exactly "light" is light, any other value dark, absent leaves it alone.
std::optional<Scheme> appearance(const QProcessEnvironment& env);
// TREVALO_SNAPSHOT_DELAY in seconds; absent, unparsable, negative or not finite gives 4.
double snapshotDelay(const QProcessEnvironment& env);
// The window as a PNG at its own size; false on any failure.
bool snapshot(QWidget* window, const QString& path);
// Applies the appearance at once and schedules the render and the snapshot.
void apply(MainWindow& window, Studio& studio, const QProcessEnvironment& env);

}  // namespace DevHooks

// Stops the render and every engine, waiting up to `waitMs` for them to end.
void stopEngines(Studio& studio, int waitMs = 3000);

// SIGTERM, SIGINT and SIGHUP quit the event loop instead of killing the process, so that the
// engines are stopped on the way out rather than orphaned.
void quitOnSignals();

// One running window per user: a later launch hands its files to the first over a local socket.
class Forwarder : public QObject {
    Q_OBJECT
public:
    static QString defaultName();
    explicit Forwarder(const QString& name, QObject* parent = nullptr);
    // Becomes the receiving end; false when another process already is.
    bool listen();
    // Sends one batch of absolute paths to a running receiver; false when none answers.
    static bool send(const QString& name, const QStringList& paths, int timeoutMs = 2000);
    // Paths of the command line's file arguments, made absolute against `cwd`.
    static QStringList filesFrom(const QStringList& arguments, const QString& cwd);

signals:
    void received(const QStringList& paths);

private:
    QString m_name;
    QLocalServer m_server;
};
