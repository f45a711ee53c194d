#include "app/qt/dialogfont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

namespace brindlemark {

bool fontCovers(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    for (const QChar ch : text) {
        if (ch.isSpace() || ch.category() == QChar::Other_Control)
            continue;
        if (!metrics.inFont(ch))
            return false;
    }
    return true;
}

QFont dialogFont(const QString& text) {
    const QFont base = QApplication::font();
    if (fontCovers(base, text))
        return base;
    QStringList families = QFontDatabase::families(QFontDatabase::Cyrillic);
    for (const QString& family : QFontDatabase::families())
        if (!families.contains(family))
            families.append(family);
    for (const QString& family : families) {
        QFont candidate = base;
        candidate.setFamilies({family});
        if (fontCovers(candidate, text))
            return candidate;
    }
    return base;
}

} // namespace brindlemark
