#include "ui/CDialogUnits.h"

#include <QFontMetrics>
#include <QWidget>
#include <algorithm>

namespace {

// MulDiv: the product divided, rounded half away from zero, as the conversion rounds.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

CDialogUnits::CDialogUnits(int baseWidth, int baseHeight)
    : m_baseWidth(std::max(baseWidth, 1)), m_baseHeight(std::max(baseHeight, 1)) {}

CDialogUnits CDialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded, exactly as Windows measures a dialog font.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return CDialogUnits((letters / 26 + 1) / 2, metrics.height());
}

int CDialogUnits::ToPixelsX(int units) const {
    return MulDiv(units, m_baseWidth, 4);
}

int CDialogUnits::ToPixelsY(int units) const {
    return MulDiv(units, m_baseHeight, 8);
}

QRect CDialogUnits::ToPixels(int x, int y, int width, int height) const {
    // Edges are converted, not sizes (as MapDialogRect does): controls that meet in units meet
    // in pixels too.
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    return QRect(left, top, ToPixelsX(x + width) - left, ToPixelsY(y + height) - top);
}

void CDialogUnits::Place(QWidget& widget, int x, int y, int width, int height) const {
    widget.setGeometry(ToPixels(x, y, width, height));
}
