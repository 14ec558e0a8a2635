#pragma once

// Draws one picture of the gallery in a cell: every cell of one size, the thumbnail centred in
// a square box at the cell's top, and under the box two lines at the same place in every cell,
// whatever the thumbnail's shape: the picture's name (shortened in its middle when too long)
// and its size. It loads nothing and knows no files: it draws what the gallery's model gives.

#include <QFontMetrics>
#include <QRect>
#include <QSize>
#include <QStyledItemDelegate>

class CThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    struct Geometry {
        QRect picture;  // the thumbnail as drawn
        QRect name;     // the name's line
        QRect size;     // the size's line
    };

    // Cells for thumbnails of at most `side` pixels a side, captioned in the font measured.
    CThumbnailDelegate(int side, const QFontMetrics& metrics, QObject* parent = nullptr);

    // The size of every cell.
    QSize CellSize() const;
    // Where a cell's parts lie for a thumbnail of the size given.
    Geometry Layout(const QRect& cell, QSize thumbnail) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_side;
    int m_lineHeight;
};
