#pragma once
// The settings column: titled sections for theme and backdrop, caption, shapes, motion, sound and
// export, and the render footer with the status line and the Render/Cancel button.

#include "controls.h"

#include <QLineEdit>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;
class BackdropKey;
class CaptionRows;
class ClayScrollBar;
class QHBoxLayout;
class Studio;

// "// " + title in the token font, then the section's controls.
class Lever : public QWidget {
    Q_OBJECT
public:
    Lever(const QString& title, QWidget* parent = nullptr);
    QString title() const;
    QVBoxLayout* content() const { return m_content; }
    // A small control at the right end of the title line.
    void setAccessory(QWidget* w);

private:
    TextLine* m_header;
    QHBoxLayout* m_headerRow;
    QVBoxLayout* m_content;
};

class ShapeRow : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr int rowHeight = 25;
    ShapeRow(Studio& studio, Shape shape, QWidget* parent = nullptr);
    Shape shape() const { return m_shape; }
    bool isOn() const;
    QSize sizeHint() const override { return {260, rowHeight}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Studio& m_studio;
    Shape m_shape;
    ClayCheck* m_check;
};

class AudioRow : public QWidget {
    Q_OBJECT
public:
    explicit AudioRow(Studio& studio, QWidget* parent = nullptr);
    QString label() const;  // the file name or "No sound"
    QString caption() const;
    QAbstractButton* clearButton() const;
    QAbstractButton* chooseButton() const { return m_row; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void refresh();
    void placeClear();
    Studio& m_studio;
    ClayAbstractButton* m_row;
    ClayButton* m_clear;
    TextLine* m_caption;
};

class ExportRows : public QWidget {
    Q_OBJECT
public:
    explicit ExportRows(Studio& studio, QWidget* parent = nullptr);
    QLineEdit* nameField() const { return m_name; }
    QString folderText() const;
    QAbstractButton* changeButton() const { return m_change; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    Studio& m_studio;
    QLineEdit* m_name;
    TextLine* m_folder;
    ClayButton* m_change;
};

class RenderFooter : public QWidget {
    Q_OBJECT
public:
    explicit RenderFooter(Studio& studio, QWidget* parent = nullptr);
    // The status line for the model's phase: the plan, the progress or the summary.
    static QString statusText(const Studio& studio);
    QString status() const;
    QString failures() const;
    RenderButton* button() const { return m_button; }
    ClayButton* showButton() const { return m_show; }
    ProgressTrack* progress() const { return m_progress; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void refresh();
    Studio& m_studio;
    TextLine* m_idle;
    QWidget* m_rendering;
    ProgressTrack* m_progress;
    TextLine* m_count;
    QWidget* m_finished;
    TextLine* m_summary;
    ClayButton* m_show;
    TextLine* m_failed;
    QScrollArea* m_failedList;
    RenderButton* m_button;
};

class Sidebar : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 300;
    explicit Sidebar(Studio& studio, QWidget* parent = nullptr);
    QList<Lever*> sections() const { return m_sections; }
    Segmented* themePicker() const { return m_theme; }
    BackdropKey* backdropKey() const { return m_backdrop; }
    CaptionRows* captionRows() const { return m_caption; }
    QList<ShapeRow*> shapeRows() const { return m_shapes; }
    ClaySwitch* spinSwitch() const { return m_spin; }
    AudioRow* audioRow() const { return m_audio; }
    ExportRows* exportRows() const { return m_export; }
    RenderFooter* footer() const { return m_footer; }
    QScrollArea* scrollArea() const { return m_scroll; }
    ClayScrollBar* scrollBar() const { return m_bar; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Studio& m_studio;
    QScrollArea* m_scroll;
    ClayScrollBar* m_bar;
    QList<Lever*> m_sections;
    Segmented* m_theme;
    BackdropKey* m_backdrop;
    CaptionRows* m_caption;
    QList<ShapeRow*> m_shapes;
    ClaySwitch* m_spin;
    AudioRow* m_audio;
    ExportRows* m_export;
    RenderFooter* m_footer;
};
