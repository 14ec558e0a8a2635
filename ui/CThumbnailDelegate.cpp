#include "ui/CThumbnailDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <algorithm>

#include "ui/CGalleryModel.h"

namespace {

// Around the thumbnail's box, and between the box and the caption.
constexpr int MARGIN = 6;
constexpr int GAP = 4;

}  // namespace

CThumbnailDelegate::CThumbnailDelegate(int side, const QFontMetrics& metrics, QObject* parent)
    : QStyledItemDelegate(parent), m_side(side), m_lineHeight(metrics.lineSpacing()) {}

QSize CThumbnailDelegate::CellSize() const {
    return QSize(m_side + 2 * MARGIN, MARGIN + m_side + GAP + 2 * m_lineHeight + MARGIN);
}

CThumbnailDelegate::Geometry CThumbnailDelegate::Layout(const QRect& cell, QSize thumbnail) const {
    const QRect box(cell.x() + (cell.width() - m_side) / 2, cell.y() + MARGIN, m_side, m_side);
    if (thumbnail.width() > m_side || thumbnail.height() > m_side) {
        thumbnail.scale(m_side, m_side, Qt::KeepAspectRatio);
    }
    Geometry geometry;
    geometry.picture =
        QRect(box.x() + (m_side - thumbnail.width()) / 2,
              box.y() + (m_side - thumbnail.height()) / 2, thumbnail.width(), thumbnail.height());
    geometry.name =
        QRect(cell.x() + 2, box.y() + m_side + GAP, std::max(cell.width() - 4, 0), m_lineHeight);
    geometry.size = geometry.name.translated(0, m_lineHeight);
    return geometry;
}

QSize CThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return CellSize();
}

void CThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The cell's background, as the style draws a selected or hovered item's.
    item.text.clear();
    item.icon = QIcon();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);

    const QPixmap thumbnail = index.data(Qt::DecorationRole).value<QPixmap>();
    const Geometry geometry = Layout(option.rect, thumbnail.deviceIndependentSize().toSize());
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawPixmap(geometry.picture, thumbnail);

    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group =
        (option.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    // A stranger's name may hold line feeds and other controls: each shows as a blank.
    QString name = index.data(CGalleryModel::NameRole).toString();
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char(' ');
        }
    }
    const QFontMetrics metrics(option.font);
    painter->drawText(geometry.name, Qt::AlignCenter,
                      metrics.elidedText(name, Qt::ElideMiddle, geometry.name.width()));
    painter->drawText(
        geometry.size, Qt::AlignCenter,
        CGalleryModel::SizeText(index.data(CGalleryModel::FileSizeRole).toLongLong()));
    painter->restore();

    if ((option.state & QStyle::State_HasFocus) != 0) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}
