#pragma once

// Turns the dialog units of a window's template into pixels as Windows does for a dialog's
// font: a horizontal unit is a quarter of the font's average character width, a vertical unit
// an eighth of its character height. Laid out this way a window keeps its designed proportions
// at any font size. It places widgets; it does not pick fonts or lay anything out by itself.

#include <QFont>
#include <QRect>

class QWidget;

class CDialogUnits {
public:
    // Units from the two base values in pixels: the average character width and the
    // character height.
    CDialogUnits(int baseWidth, int baseHeight);
    // Units of the font's metrics.
    static CDialogUnits FromFont(const QFont& font);

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(int x, int y, int width, int height) const;
    // Gives the widget the place and size, in dialog units, relative to its parent.
    void Place(QWidget& widget, int x, int y, int width, int height) const;

    int BaseWidth() const { return m_baseWidth; }
    int BaseHeight() const { return m_baseHeight; }

private:
    int m_baseWidth;
    int m_baseHeight;
};
