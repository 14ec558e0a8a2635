#include "ui/CStatusLine.h"

#include <QFontMetrics>
#include <algorithm>

CStatusLine::CStatusLine(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A long text must not widen the window: the label takes the width it is given.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void CStatusLine::SetStatusText(const QString& text) {
    m_text = text;
    setToolTip(text);
    Elide();
}

void CStatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void CStatusLine::Elide() {
    // The room QLabel leaves for left-aligned text: its margins and, in a frame, an indent of
    // half an "x" when none is set.
    const QFontMetrics metrics = fontMetrics();
    const int indentation =
        indent() >= 0 ? indent()
                      : (frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0);
    const int room = contentsRect().width() - 2 * margin() - indentation;
    setText(metrics.elidedText(m_text, Qt::ElideRight, std::max(room, 0)));
}
