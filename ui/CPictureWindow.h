#pragma once

// One picture at its full size in a window of its own, titled with the picture's name: the
// picture view opens it on a double click. A picture larger than the screen scrolls. It blocks
// no other window, closes with Escape or its close box, and frees itself once closed. It does
// not load or scale pictures.

#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QString>

class CPictureWindow : public QScrollArea {
    Q_OBJECT

public:
    // A window over `parent` (which it goes with) that shows the picture.
    CPictureWindow(const QImage& picture, const QString& name, QWidget* parent);

    // The picture as shown, at its own size.
    const QLabel& PictureLabel() const { return m_picture; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel m_picture;
};
