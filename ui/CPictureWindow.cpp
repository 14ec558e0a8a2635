#include "ui/CPictureWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

CPictureWindow::CPictureWindow(const QImage& picture, const QString& name, QWidget* parent)
    : QScrollArea(parent) {
    setWindowFlags(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(&m_picture);
    setAlignment(Qt::AlignCenter);
    m_picture.setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);
    ShowPicture(picture, name);

    // As large as the picture, but no larger than the screen's free room: beyond it, scroll.
    QSize size = picture.size() + QSize(2 * frameWidth(), 2 * frameWidth());
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    }
    resize(size.expandedTo(QSize(64, 64)));
}

void CPictureWindow::ShowPicture(const QImage& picture, const QString& name) {
    setWindowTitle(name);
    m_original = QPixmap::fromImage(picture);
    Layout();
}

void CPictureWindow::SetFitToWindow(bool fit) {
    m_fit = fit;
    Layout();
}

void CPictureWindow::Layout() {
    // Fitted, the label fills the window and holds the picture scaled down to it; at 100% it
    // is as large as the picture and the window scrolls over it.
    setWidgetResizable(m_fit);
    if (m_original.isNull()) {
        m_picture.setText(QStringLiteral("cannot show"));
        m_picture.adjustSize();
        return;
    }
    const QSize room = viewport()->size();
    if (m_fit && (m_original.width() > room.width() || m_original.height() > room.height())) {
        m_picture.setPixmap(m_original.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
        m_picture.setPixmap(m_original);
    }
    if (!m_fit) {
        m_picture.resize(m_original.size());
    }
}

void CPictureWindow::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (m_fit) {
        Layout();
    }
}

void CPictureWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
            case Qt::Key_Escape:
                close();
                return;
            case Qt::Key_F:
                SetFitToWindow(true);
                return;
            case Qt::Key_1:
                SetFitToWindow(false);
                return;
            case Qt::Key_Left:
            case Qt::Key_Right:
                if (m_stepping) {
                    emit stepRequested(event->key() == Qt::Key_Left ? -1 : 1);
                    return;
                }
                break;
            default:
                break;
        }
    }
    QScrollArea::keyPressEvent(event);
}
