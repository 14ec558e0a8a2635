#include "ui/CPictureWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {

constexpr double MIN_SCALE = 1.0 / 32;
constexpr double MAX_SCALE = 32;
// One notch of the wheel, or one + or -.
constexpr double ZOOM_STEP = 1.25;
constexpr int WHEEL_NOTCH = 120;

}  // namespace

CPictureWindow::CPictureWindow(const QImage& picture, const QString& name, QWidget* parent)
    : QAbstractScrollArea(parent) {
    setWindowFlags(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setBackgroundRole(QPalette::Dark);
    viewport()->setBackgroundRole(QPalette::Dark);
    ShowPicture(picture, name);

    // As large as the picture, but no larger than the screen's free room (and its frame):
    // beyond it, fit or scroll. Centred on that room.
    QSize size = picture.size() + QSize(2 * frameWidth(), 2 * frameWidth());
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        resize(size.expandedTo(QSize(64, 64)));
        return;
    }
    const QRect room = screen->availableGeometry();
    size = size.boundedTo(room.size() * 9 / 10).expandedTo(QSize(64, 64));
    resize(size);
    move(room.x() + (room.width() - size.width()) / 2,
         room.y() + (room.height() - size.height()) / 2);
}

void CPictureWindow::ShowPicture(const QImage& picture, const QString& name) {
    setWindowTitle(name);
    m_original = QPixmap::fromImage(picture);
    m_reduced = QPixmap();
    m_laidOutSize = QSizeF();
    Relayout();
}

void CPictureWindow::SetZoom(Zoom zoom) {
    m_zoom = zoom;
    m_scale = 1.0;
    m_laidOutSize = QSizeF();
    Relayout();
}

double CPictureWindow::Scale() const {
    if (m_zoom == Zoom::Fixed || m_original.isNull()) {
        return m_scale;
    }
    const QSize room = viewport()->size();
    const double fit = std::min(static_cast<double>(room.width()) / m_original.width(),
                                static_cast<double>(room.height()) / m_original.height());
    return m_zoom == Zoom::Fit ? fit : std::min(fit, 1.0);
}

QSizeF CPictureWindow::ScaledSize() const {
    return QSizeF(m_original.size()) * Scale();
}

QRectF CPictureWindow::PictureRect() const {
    const QSizeF size = ScaledSize();
    const QSize room = viewport()->size();
    const double x = size.width() <= room.width() ? (room.width() - size.width()) / 2
                                                  : -horizontalScrollBar()->value();
    const double y = size.height() <= room.height() ? (room.height() - size.height()) / 2
                                                    : -verticalScrollBar()->value();
    return QRectF(QPointF(x, y), size);
}

void CPictureWindow::ZoomBy(double factor, QPointF anchor) {
    if (m_original.isNull() || Scale() <= 0) {
        return;
    }
    const QRectF before = PictureRect();
    const QPointF point = (anchor - before.topLeft()) / Scale();
    m_scale = std::clamp(Scale() * factor, MIN_SCALE, MAX_SCALE);
    m_zoom = Zoom::Fixed;
    Relayout();
    horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(point.x() * m_scale - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(point.y() * m_scale - anchor.y())));
}

void CPictureWindow::Relayout() {
    if (m_layingOut) {
        return;
    }
    m_layingOut = true;
    // Showing or hiding a scroll bar resizes the viewport: a second pass settles the ranges.
    for (int pass = 0; pass < 3; ++pass) {
        const QSize room = viewport()->size();
        // The point of the picture at the viewport's middle, as a share of the picture.
        const auto share = [](int value, double before, int oldRoom) {
            return before > oldRoom ? (value + oldRoom / 2.0) / before : 0.5;
        };
        const double shareX = m_laidOutSize.isEmpty()
                                  ? 0.5
                                  : share(horizontalScrollBar()->value(), m_laidOutSize.width(),
                                          m_laidOutViewport.width());
        const double shareY = m_laidOutSize.isEmpty()
                                  ? 0.5
                                  : share(verticalScrollBar()->value(), m_laidOutSize.height(),
                                          m_laidOutViewport.height());
        const QSizeF size = ScaledSize();
        const int width = static_cast<int>(std::ceil(size.width()));
        const int height = static_cast<int>(std::ceil(size.height()));
        horizontalScrollBar()->setRange(0, std::max(0, width - room.width()));
        horizontalScrollBar()->setPageStep(room.width());
        horizontalScrollBar()->setSingleStep(24);
        verticalScrollBar()->setRange(0, std::max(0, height - room.height()));
        verticalScrollBar()->setPageStep(room.height());
        verticalScrollBar()->setSingleStep(24);
        horizontalScrollBar()->setValue(
            static_cast<int>(std::lround(shareX * size.width() - room.width() / 2.0)));
        verticalScrollBar()->setValue(
            static_cast<int>(std::lround(shareY * size.height() - room.height() / 2.0)));
        m_laidOutSize = size;
        m_laidOutViewport = room;
        if (viewport()->size() == room) {
            break;
        }
    }
    m_layingOut = false;
    UpdateCursor();
    viewport()->update();
}

void CPictureWindow::UpdateCursor() {
    if (m_dragFrom) {
        viewport()->setCursor(Qt::ClosedHandCursor);
    } else if (horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0) {
        viewport()->setCursor(Qt::OpenHandCursor);
    } else {
        viewport()->unsetCursor();
    }
}

void CPictureWindow::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void CPictureWindow::scrollContentsBy(int, int) {
    viewport()->update();
}

void CPictureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    if (m_original.isNull()) {
        painter.drawText(viewport()->rect(), Qt::AlignCenter, QStringLiteral("cannot show"));
        return;
    }
    const QRectF place = PictureRect();
    if (Scale() < 1) {
        // Reduced once for the size, smoothly: drawing a large picture small on the fly loses
        // its detail to aliasing.
        const QSize size = place.size().toSize();
        if (m_reduced.size() != size) {
            m_reduced = m_original.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        painter.drawPixmap(place.topLeft(), m_reduced);
        return;
    }
    // At 100% and above only the part on screen is drawn.
    const QRectF shown = place.intersected(QRectF(viewport()->rect()));
    const double scale = Scale();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale != 1);
    painter.drawPixmap(shown, m_original,
                       QRectF((shown.topLeft() - place.topLeft()) / scale, shown.size() / scale));
}

void CPictureWindow::keyPressEvent(QKeyEvent* event) {
    const QPointF middle = QRectF(viewport()->rect()).center();
    switch (event->key()) {
        // "+" comes with Shift on many keyboards.
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomBy(ZOOM_STEP, middle);
            return;
        case Qt::Key_Minus:
            ZoomBy(1 / ZOOM_STEP, middle);
            return;
        default:
            break;
    }
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
            case Qt::Key_Escape:
                close();
                return;
            case Qt::Key_F:
                SetZoom(Zoom::Fit);
                return;
            case Qt::Key_1:
                SetZoom(Zoom::Fixed);
                return;
            case Qt::Key_Delete:
                emit deleteRequested();
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
    QAbstractScrollArea::keyPressEvent(event);
}

void CPictureWindow::wheelEvent(QWheelEvent* event) {
    if ((event->modifiers() & Qt::ControlModifier) == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta != 0) {
        ZoomBy(std::pow(ZOOM_STEP, static_cast<double>(delta) / WHEEL_NOTCH), event->position());
    }
    event->accept();
}

void CPictureWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragFrom = event->position().toPoint();
    UpdateCursor();
    event->accept();
}

void CPictureWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragFrom) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // The picture follows the pointer.
    const QPoint now = event->position().toPoint();
    const QPoint moved = now - *m_dragFrom;
    m_dragFrom = now;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - moved.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - moved.y());
    event->accept();
}

void CPictureWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragFrom) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_dragFrom.reset();
    UpdateCursor();
    event->accept();
}
