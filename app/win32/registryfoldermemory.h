#pragma once

#include "app/foldermemory.h"

#include <string>

namespace brindlemark {

// The choosers' folders and filters, and the window's language, in the registry: values of the current user's
// key Software\Brindlemark (or another key under HKEY_CURRENT_USER), as the Qt window keeps them in its
// settings file. Values that cannot be read read as empty; one that cannot be written is let go.
class RegistryFolderMemory final : public FolderMemory {
public:
    explicit RegistryFolderMemory(std::wstring key = L"Software\\Brindlemark");

    std::filesystem::path folder(std::string_view chooser) const override;
    void setFolder(std::string_view chooser, const std::filesystem::path& folder) override;
    std::string filter(std::string_view chooser) const override;
    void setFilter(std::string_view chooser, std::string_view filter) override;
    std::string language() const override;
    void setLanguage(std::string_view code) override;

private:
    std::wstring read(const std::wstring& name) const;
    void write(const std::wstring& name, const std::wstring& value);

    std::wstring key_;
};

} // namespace brindlemark
