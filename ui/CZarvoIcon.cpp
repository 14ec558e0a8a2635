#include "ui/CZarvoIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

QIcon CZarvoIcon::Create() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(Draw(size));
    }
    return icon;
}

QPixmap CZarvoIcon::Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The drawing's coordinates are those of the SVG's 64 by 64 view box.
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);

    painter.setBrush(QColor(0x2B, 0x57, 0x97));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);

    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(11, 15, 42, 34), 3, 3);

    painter.setBrush(QColor(0x9F, 0xD3, 0xF5));
    painter.drawRect(QRectF(14, 18, 36, 28));

    painter.setBrush(QColor(0xFF, 0xC8, 0x3D));
    painter.drawEllipse(QPointF(41, 26), 4.5, 4.5);

    painter.setBrush(QColor(0x3C, 0x9A, 0x4B));
    const QPolygonF hills(
        {QPointF(14, 46), QPointF(25, 30), QPointF(33, 40), QPointF(38, 34), QPointF(50, 46)});
    painter.drawPolygon(hills);
    return pixmap;
}
