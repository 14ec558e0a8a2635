#pragma once

// The main window's picture view (control 1009). Navigate reads the one-line page that the
// picture browser writes, loads the picture that the page's image element points to, and shows
// it as large as the view allows, its aspect ratio kept, centred and smoothly scaled; a picture
// that cannot be read shows the image's alternative text instead. A double click opens the
// picture at its full size in a window of its own. It renders no other HTML and follows no
// links.

#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <string>

class CWebBrowser2 : public QFrame {
    Q_OBJECT

public:
    explicit CWebBrowser2(QWidget* parent = nullptr);

    // Shows the page at the full path. The page and its picture are read afresh on every call:
    // the page is rewritten in place for every picture, and a picture file may have been
    // replaced by another of the same name.
    void Navigate(const std::string& path);
    // Shows nothing.
    void Clear();

    // The page's address last navigated to (for tests and the screenshot).
    const std::string& Address() const { return m_address; }
    // The picture file that the page points to; empty when nothing is shown.
    const std::string& PicturePath() const { return m_picturePath; }
    // The picture on show at its own size; null when there is none.
    const QImage& Picture() const { return m_picture; }
    // What is shown in place of a picture that could not be read; empty otherwise.
    const QString& AlternativeText() const { return m_alternativeText; }
    // Where the picture is drawn: the largest rectangle of its proportions that fits inside
    // the frame, centred.
    QRect PictureRect() const;
    // Opens the picture at full size, as a double click does; null when none is on show.
    QWidget* OpenFullSize();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::string m_address;
    std::string m_picturePath;
    QImage m_picture;
    QString m_alternativeText;
    // The picture scaled for the view, made when first painted at a size.
    QPixmap m_scaled;
};
