#include "ui/CPictureWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>

CPictureWindow::CPictureWindow(const QImage& picture, const QString& name, QWidget* parent)
    : QScrollArea(parent) {
    setWindowFlags(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(name);
    m_picture.setPixmap(QPixmap::fromImage(picture));
    m_picture.resize(picture.size());
    setWidget(&m_picture);
    setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);

    // As large as the picture, but no larger than the screen's free room: beyond it, scroll.
    QSize size = picture.size() + QSize(2 * frameWidth(), 2 * frameWidth());
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    }
    resize(size.expandedTo(QSize(64, 64)));
}

void CPictureWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QScrollArea::keyPressEvent(event);
}
