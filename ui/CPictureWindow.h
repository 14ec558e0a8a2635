#pragma once

// One picture in a window of its own, titled with the picture's name. It opens centred on its
// screen, as large as the picture but no larger than the screen's free room, showing the
// picture at 100% (scrolling where it is larger) or fitted where it is larger than the window.
// F fits the picture to the window, a small one enlarged too; 1 shows it at 100% centred on
// its middle; Ctrl with the mouse wheel zooms about the pointer, + and - about the window's
// middle; dragging pans. Where the opener lets it step, Left and Right ask for the previous and
// the next picture; Delete asks for the picture to be deleted. A picture that could not be read
// shows "cannot show". It blocks no other window, closes with Escape or its close box, and
// frees itself once closed. It does not load, choose or delete pictures.

#include <QAbstractScrollArea>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <optional>

class CPictureWindow : public QAbstractScrollArea {
    Q_OBJECT

public:
    enum class Zoom {
        FitLarger,  // fitted to the window where larger than it, otherwise at 100%
        Fit,        // fitted to the window, enlarged or reduced
        Fixed,      // at a scale of its own: 100% until zoomed
    };

    // A window over `parent` (which it goes with) that shows the picture at 100%.
    CPictureWindow(const QImage& picture, const QString& name, QWidget* parent);

    // Shows another picture in the same window, at the zoom already chosen, centred on its
    // middle.
    void ShowPicture(const QImage& picture, const QString& name);
    // Fixed shows the picture at 100%, centred on its middle.
    void SetZoom(Zoom zoom);
    Zoom CurrentZoom() const { return m_zoom; }
    // Zooms by the factor (within 1/32 and 32 times the picture's size), keeping the picture's
    // point under `anchor`, a point of the viewport, where it is.
    void ZoomBy(double factor, QPointF anchor);
    // The scale the picture is drawn at: 1 at 100%.
    double Scale() const;
    // Where the picture lies in the viewport (reaching beyond it where it is larger).
    QRectF PictureRect() const;
    // Lets Left and Right ask for the previous and the next picture (stepRequested).
    void SetStepping(bool stepping) { m_stepping = stepping; }

signals:
    // -1 for the previous picture, +1 for the next.
    void stepRequested(int step);
    // The Delete key: the picture on show is to go.
    void deleteRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QSizeF ScaledSize() const;
    // Sets the scroll bars for the scale, keeping the picture's point that lay in the
    // viewport's middle there (its middle, for a picture just shown or zoomed to 100%).
    void Relayout();
    void UpdateCursor();

    QPixmap m_original;
    // The picture reduced smoothly to the size it is drawn at, when that is smaller.
    QPixmap m_reduced;
    Zoom m_zoom = Zoom::Fixed;
    double m_scale = 1.0;
    bool m_stepping = false;
    // What the scroll bars were set for; an empty size centres the picture.
    QSizeF m_laidOutSize;
    QSize m_laidOutViewport;
    bool m_layingOut = false;
    std::optional<QPoint> m_dragFrom;
};
