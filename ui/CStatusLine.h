#pragma once

// The main window's status line: one line of text saying what the fetch worker is doing. A text
// too long for the line is cut short with an ellipsis, and the whole text is the line's tooltip.
// It shows what it is given; it does not decide what to say.

#include <QLabel>
#include <QString>

class CStatusLine : public QLabel {
    Q_OBJECT

public:
    explicit CStatusLine(QWidget* parent = nullptr);

    // Replaces the line's text.
    void SetStatusText(const QString& text);
    // The whole text, however much of it the line has room for.
    const QString& StatusText() const { return m_text; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString m_text;
};
