#pragma once

// Where the window's file choosers open. Each chooser remembers the folder of the last file confirmed in it,
// and the filter entry that was selected then, between runs; the platform keeps them (QSettings on Linux, the
// registry on Windows) behind FolderMemory, with the window's language beside them.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace brindlemark {

// The window's file choosers.
enum class Chooser { MainFile, AddedFile, SideFile, ReplaceList, IdList };

// The name a chooser's folder is kept under: "mainFile", "addedFile", "sideFile", "replaceList", "idList".
std::string_view chooserName(Chooser chooser);

// Folders and filter entries by chooser name, kept between runs.
class FolderMemory {
public:
    virtual ~FolderMemory() = default;
    // The folder last remembered under `chooser`, or an empty path.
    virtual std::filesystem::path folder(std::string_view chooser) const = 0;
    virtual void setFolder(std::string_view chooser, const std::filesystem::path& folder) = 0;
    // The filter entry (its label and patterns, UTF-8) last remembered under `chooser`, or an empty text.
    virtual std::string filter(std::string_view chooser) const = 0;
    virtual void setFilter(std::string_view chooser, std::string_view filter) = 0;
    // The code of the window's language last chosen ("ru", "en"), or an empty text.
    virtual std::string language() const = 0;
    virtual void setLanguage(std::string_view code) = 0;
};

// Folders and filters kept for the run only.
class RunFolderMemory final : public FolderMemory {
public:
    std::filesystem::path folder(std::string_view chooser) const override;
    void setFolder(std::string_view chooser, const std::filesystem::path& folder) override;
    std::string filter(std::string_view chooser) const override;
    void setFilter(std::string_view chooser, std::string_view filter) override;
    std::string language() const override { return language_; }
    void setLanguage(std::string_view code) override { language_ = code; }

private:
    std::string language_;
    std::map<std::string, std::filesystem::path, std::less<>> folders_;
    std::map<std::string, std::string, std::less<>> filters_;
};

} // namespace brindlemark
