#include "app/qt/settingsfoldermemory.h"

#include "app/qt/qtpaths.h"

namespace brindlemark {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString keyOf(std::string_view chooser) {
    return QStringLiteral("folders/") + fromUtf8(chooser);
}

QString filterKeyOf(std::string_view chooser) {
    return QStringLiteral("filters/") + fromUtf8(chooser);
}

} // namespace

SettingsFolderMemory::SettingsFolderMemory()
    : settings_(QStringLiteral("brindlemark"), QStringLiteral("brindlemark")) {}

SettingsFolderMemory::SettingsFolderMemory(const QString& iniFile) : settings_(iniFile, QSettings::IniFormat) {}

std::filesystem::path SettingsFolderMemory::folder(std::string_view chooser) const {
    const QString text = settings_.value(keyOf(chooser)).toString();
    return text.isEmpty() ? std::filesystem::path() : toPath(text);
}

void SettingsFolderMemory::setFolder(std::string_view chooser, const std::filesystem::path& folder) {
    settings_.setValue(keyOf(chooser), toQString(folder));
    settings_.sync();
}

std::string SettingsFolderMemory::filter(std::string_view chooser) const {
    return settings_.value(filterKeyOf(chooser)).toString().toStdString();
}

void SettingsFolderMemory::setFilter(std::string_view chooser, std::string_view filter) {
    settings_.setValue(filterKeyOf(chooser), fromUtf8(filter));
    settings_.sync();
}

std::string SettingsFolderMemory::language() const {
    return settings_.value(QStringLiteral("language")).toString().toStdString();
}

void SettingsFolderMemory::setLanguage(std::string_view code) {
    settings_.setValue(QStringLiteral("language"), fromUtf8(code));
    settings_.sync();
}

} // namespace brindlemark
