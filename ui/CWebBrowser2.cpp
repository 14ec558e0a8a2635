#include "ui/CWebBrowser2.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>

#include "ui/CPictureBrowser.h"
#include "ui/CPictureWindow.h"

namespace {

// What the page's image element says for the attribute (its value between double quotes), or
// nothing. The page's addresses are percent-encoded, so no value holds a quote.
std::string AttributeValue(const std::string& page, std::string_view attribute) {
    // Appended piece by piece: GCC 12 at -O2 takes " " + std::string for an overlapping copy
    // and warns (-Wrestrict).
    std::string opening(" ");
    opening.append(attribute).append("=\"");
    const std::size_t start = page.find(opening);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t valueStart = start + opening.size();
    const std::size_t end = page.find('"', valueStart);
    return end == std::string::npos ? std::string() : page.substr(valueStart, end - valueStart);
}

std::string ReadPage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The picture in the file, turned upright as the camera recorded it, or a null image. The file
// is opened by its bytes (a name need not be UTF-8); the reader keeps Qt's allocation limit, so
// that a picture claiming to be huge is refused instead of exhausting memory.
QImage LoadPicture(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    return reader.read();
}

}  // namespace

CWebBrowser2::CWebBrowser2(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
}

void CWebBrowser2::Navigate(const std::string& path) {
    m_address = path;
    const std::string page = ReadPage(path);
    m_picturePath = CPictureBrowser::PathOfAddress(AttributeValue(page, "src"));
    m_picture = m_picturePath.empty() ? QImage() : LoadPicture(m_picturePath);
    m_alternativeText.clear();
    if (m_picture.isNull()) {
        const std::string alternative = AttributeValue(page, "alt");
        m_alternativeText = QString::fromUtf8(alternative.empty() ? "[picture]" : alternative);
    }
    m_scaled = QPixmap();
    update();
}

void CWebBrowser2::Clear() {
    m_picturePath.clear();
    m_picture = QImage();
    m_alternativeText.clear();
    m_scaled = QPixmap();
    update();
}

QRect CWebBrowser2::PictureRect() const {
    if (m_picture.isNull()) {
        return {};
    }
    const QRect room = contentsRect();
    const QSize size = m_picture.size().scaled(room.size(), Qt::KeepAspectRatio);
    return QRect(room.x() + (room.width() - size.width()) / 2,
                 room.y() + (room.height() - size.height()) / 2, size.width(), size.height());
}

QWidget* CWebBrowser2::OpenFullSize() {
    if (m_picture.isNull()) {
        return nullptr;
    }
    const std::size_t slash = m_picturePath.rfind('/');
    const std::string name =
        slash == std::string::npos ? m_picturePath : m_picturePath.substr(slash + 1);
    auto window =
        std::make_unique<CPictureWindow>(m_picture, QString::fromUtf8(name), this->window());
    window->show();
    window->raise();
    window->activateWindow();
    // Qt owns it from here on: it frees itself when closed, or goes with the main window.
    return window.release();
}

void CWebBrowser2::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    if (m_picture.isNull()) {
        if (!m_alternativeText.isEmpty()) {
            painter.drawText(contentsRect().adjusted(4, 4, -4, -4),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_alternativeText);
        }
        return;
    }
    const QRect place = PictureRect();
    if (place.isEmpty()) {
        return;
    }
    // Scaled once per size, smoothly, for the screen's pixels rather than the layout's.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = place.size() * ratio;
    if (m_scaled.size() != pixels) {
        m_scaled = QPixmap::fromImage(
            m_picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_scaled.setDevicePixelRatio(ratio);
    }
    painter.drawPixmap(place.topLeft(), m_scaled);
}

void CWebBrowser2::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OpenFullSize() != nullptr) {
        return;
    }
    QFrame::mouseDoubleClickEvent(event);
}
