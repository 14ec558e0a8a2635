#pragma once

// One picture in a window of its own, titled with the picture's name: at its full size (a
// picture larger than the screen scrolls), or zoomed to fit the window (F fits, 1 shows it at
// 100%). Where the opener lets it step through pictures, the Left and Right arrow keys ask for
// the previous and the next one; a picture that could not be read shows "cannot show". It blocks no
// other window, closes with Escape or its close box, and frees itself once closed. It does not load
// pictures or choose which comes next.

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QString>

class CPictureWindow : public QScrollArea {
    Q_OBJECT

public:
    // A window over `parent` (which it goes with) that shows the picture at its full size.
    CPictureWindow(const QImage& picture, const QString& name, QWidget* parent);

    // Shows another picture in the same window, at the zoom already chosen.
    void ShowPicture(const QImage& picture, const QString& name);
    // Zoomed to fit the window (never enlarged), or at 100%.
    void SetFitToWindow(bool fit);
    bool FitsToWindow() const { return m_fit; }
    // Lets Left and Right ask for the previous and the next picture (stepRequested).
    void SetStepping(bool stepping) { m_stepping = stepping; }

    // The picture as shown: at its own size at 100%, scaled down when fitted.
    const QLabel& PictureLabel() const { return m_picture; }

signals:
    // -1 for the previous picture, +1 for the next.
    void stepRequested(int step);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();

    QLabel m_picture;
    QPixmap m_original;
    bool m_fit = false;
    bool m_stepping = false;
};
