#pragma once
// The caption section: the selected input's title and subtitle in one well, and the caption's
// place (top or bottom) as two words on the section's title line.

#include "controls.h"

#include <QPlainTextEdit>

class Studio;

// A text field that grows with its text up to `maxLines`, then scrolls. Return breaks the line,
// as a line feed breaks it on the output; Tab moves on.
class CaptionEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int maxLines = 3;
    CaptionEdit(const QFont& font, int padding, const QString& placeholder, QWidget* parent = nullptr);
    // Every paragraph or line break as a line feed; everything else as typed (non-breaking
    // spaces included, which toPlainText would turn into spaces).
    QString text() const;
    // Leaves the field, and its cursor, alone when it already holds `text`.
    void setText(const QString& text);
    int lines() const;  // shown lines, wrapped ones included
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void fit();
    int m_padding;
};

// A choice between a few words in the token font; the chosen one sits on a flat key.
class TokenChoice : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedHeight = 15;
    explicit TokenChoice(const QStringList& words, QWidget* parent = nullptr);
    void setSelected(int index);
    int selected() const { return m_selected; }
    QRectF wordRect(int index) const;
    QSize sizeHint() const override;

signals:
    void activated(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void leaveEvent(QEvent*) override;

private:
    int indexAt(const QPointF& pos) const;
    QStringList m_words;
    int m_selected = -1;
    int m_hover = -1;
};

class CaptionRows : public QWidget {
    Q_OBJECT
public:
    explicit CaptionRows(Studio& studio, QWidget* parent = nullptr);
    CaptionEdit* titleField() const { return m_title; }
    CaptionEdit* subtitleField() const { return m_subtitle; }
    // Top or bottom; made here, shown on the section's title line.
    TokenChoice* placePicker() const { return m_place; }

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void refresh();
    void edited();
    Studio& m_studio;
    CaptionEdit* m_title;
    CaptionEdit* m_subtitle;
    TokenChoice* m_place;
    bool m_refreshing = false;
};
