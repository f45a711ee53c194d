#include "app/qt/settingsfoldermemory.h"

#include "app/qt/qtpaths.h"

namespace brindlemark {

namespace {

QString keyOf(std::string_view chooser) {
    return QStringLiteral("folders/") +
           QString::fromUtf8(chooser.data(), static_cast<qsizetype>(chooser.size()));
}

} // namespace

SettingsFolderMemory::SettingsFolderMemory()
    : settings_(QStringLiteral("brindlemark"), QStringLiteral("brindlemark")) {}

SettingsFolderMemory::SettingsFolderMemory(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat) {}

std::filesystem::path SettingsFolderMemory::folder(std::string_view chooser) const {
    const QString text = settings_.value(keyOf(chooser)).toString();
    return text.isEmpty() ? std::filesystem::path() : toPath(text);
}

void SettingsFolderMemory::setFolder(std::string_view chooser, const std::filesystem::path& folder) {
    settings_.setValue(keyOf(chooser), toQString(folder));
    settings_.sync();
}

} // namespace brindlemark
