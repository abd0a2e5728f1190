#pragma once
// The main window's content: canvas, a one-point divider, the sidebar; the whole of it takes
// dropped files.

#include <QWidget>

class CanvasView;
class Sidebar;
class Studio;

class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize minimum{940, 620};
    explicit ContentView(Studio& studio, QWidget* parent = nullptr);
    CanvasView* canvas() const { return m_canvas; }
    Sidebar* sidebar() const { return m_sidebar; }
    bool dropping() const { return m_dropping; }
    // Local file paths of a drag, in the order given; empty when it carries none.
    static QStringList droppedPaths(const class QMimeData* mime);

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void setDropping(bool on);
    Studio& m_studio;
    CanvasView* m_canvas;
    Sidebar* m_sidebar;
    bool m_dropping = false;
};
