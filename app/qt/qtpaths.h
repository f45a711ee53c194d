#pragma once

#include <QString>

#include <filesystem>

namespace brindlemark {

// The one place where the window turns its texts into file paths and back. Nothing is cut or lost: on Windows
// the UTF-16 text is the native path, elsewhere the text goes through Qt's file name encoding (UTF-8).
std::filesystem::path toPath(const QString& text);
QString toQString(const std::filesystem::path& path);

} // namespace brindlemark
