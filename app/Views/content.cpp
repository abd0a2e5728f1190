#include "content.h"
#include "canvas.h"
#include "sidebar.h"
#include "Studio/studio.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QWindow>

namespace {

class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent) : QWidget(parent) { setFixedWidth(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), dividerColour(currentScheme()));
    }
};

}  // namespace

ContentView::ContentView(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    setMinimumSize(minimum);
    setAcceptDrops(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_canvas = new CanvasView(studio, this);
    m_sidebar = new Sidebar(studio, this);
    row->addWidget(m_canvas, 1);
    row->addWidget(new Divider(this));
    row->addWidget(m_sidebar);
    connect(m_canvas, &CanvasView::backgroundPressed, this, [this] {
        // Without a window manager this does nothing, which is fine.
        if (QWindow* w = window()->windowHandle()) w->startSystemMove();
    });
    connect(&Appearance::shared(), &Appearance::changed, this, [this] {
        update();
        for (QWidget* child : findChildren<QWidget*>()) child->update();
    });
}

QStringList ContentView::droppedPaths(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths << url.toLocalFile();
    return paths;
}

void ContentView::setDropping(bool on) {
    if (on == m_dropping) return;
    m_dropping = on;
    m_canvas->setDropping(on);
}

void ContentView::dragEnterEvent(QDragEnterEvent* e) {
    if (droppedPaths(e->mimeData()).isEmpty()) return e->ignore();
    e->acceptProposedAction();
    setDropping(true);
}

void ContentView::dragMoveEvent(QDragMoveEvent* e) {
    if (droppedPaths(e->mimeData()).isEmpty()) return e->ignore();
    e->acceptProposedAction();
}

void ContentView::dragLeaveEvent(QDragLeaveEvent*) { setDropping(false); }

void ContentView::dropEvent(QDropEvent* e) {
    setDropping(false);
    const QStringList paths = droppedPaths(e->mimeData());
    if (paths.isEmpty()) return e->ignore();
    m_studio.add(paths);
    e->acceptProposedAction();
}
