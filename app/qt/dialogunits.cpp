#include "app/qt/dialogunits.h"

#include <QFontMetrics>

namespace brindlemark {

namespace {

// units * base / divisor, rounded half away from zero.
int scale(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long rounded = product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
    return static_cast<int>(rounded);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) : DialogUnits(averageLetterWidth(font), QFontMetrics(font).height()) {}

int DialogUnits::averageLetterWidth(const QFont& font) {
    const int width =
        QFontMetrics(font).horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return scale(width, 1, 52);
}

DialogUnits::DialogUnits(int charWidth, int charHeight) : charWidth_(charWidth), charHeight_(charHeight) {}

int DialogUnits::x(int units) const {
    return scale(units, charWidth_, 4);
}

int DialogUnits::y(int units) const {
    return scale(units, charHeight_, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

QSize DialogUnits::size(int width, int height) const {
    return QSize(x(width), y(height));
}

} // namespace brindlemark
