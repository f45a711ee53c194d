#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace brindlemark {

// The windows are laid out in dialog units: a quarter of the font's average character width across, an eighth
// of its height down. Each coordinate and extent is converted on its own and rounded to the nearest pixel.
//
// The average character width is measured as Windows measures it for dialogs: the width of the 52 letters A
// to Z and a to z, divided by 52 and rounded. The width a font declares for itself
// (QFontMetrics::averageCharWidth(), the OS/2 table's value) can be far narrower than its letters (DejaVu
// Sans: 6 against 7.4 pixels at 9 points), and the captions, laid out for Windows' own measure, would not
// fit.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    // The average width of the letters A to Z and a to z in `font`, rounded to whole pixels.
    static int averageLetterWidth(const QFont& font);
    DialogUnits(int charWidth, int charHeight);

    int charWidth() const { return charWidth_; }
    int charHeight() const { return charHeight_; }

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int charWidth_;
    int charHeight_;
};

} // namespace brindlemark
