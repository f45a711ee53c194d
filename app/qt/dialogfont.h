#pragma once

#include <QFont>
#include <QString>

namespace brindlemark {

// Whether `font` itself (not a fallback) has a glyph for every character of `text`.
bool fontCovers(const QFont& font, const QString& text);

// The font for a window whose captions are `text`: the application's font when it covers them, else the first
// installed family that does (those that declare Cyrillic first), at the application font's size. When no
// family covers them the application's font is kept and Qt's own fallback draws what it can.
QFont dialogFont(const QString& text);

} // namespace brindlemark
