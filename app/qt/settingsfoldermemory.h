#pragma once

#include "app/foldermemory.h"

#include <QSettings>

namespace brindlemark {

// The choosers' folders and filters, and the window's language, in Qt's settings: the program's settings file
// (QSettings' usual place for the organisation and application name), or a given file.
class SettingsFolderMemory final : public FolderMemory {
public:
    SettingsFolderMemory();
    explicit SettingsFolderMemory(const QString& iniFile);

    std::filesystem::path folder(std::string_view chooser) const override;
    void setFolder(std::string_view chooser, const std::filesystem::path& folder) override;
    std::string filter(std::string_view chooser) const override;
    void setFilter(std::string_view chooser, std::string_view filter) override;
    std::string language() const override;
    void setLanguage(std::string_view code) override;

private:
    mutable QSettings settings_;
};

} // namespace brindlemark
