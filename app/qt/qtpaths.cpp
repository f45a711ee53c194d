#include "app/qt/qtpaths.h"

#include <QFile>

#include <string>

namespace brindlemark {

std::filesystem::path toPath(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdU16String());
#else
    const QByteArray bytes = QFile::encodeName(text);
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
#endif
}

QString toQString(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdU16String(path.u16string());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace brindlemark
