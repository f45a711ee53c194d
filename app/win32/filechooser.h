#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brindlemark {

// Asks the user for a file. The window's five choosers go through this, so that tests can answer them.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // An existing file in an existing folder, or nothing when the user cancels. `filter` is a chooser filter
    // ("label|patterns|...||"); `initialName` is the name the chooser proposes; `folder` where it opens (empty:
    // the platform's usual folder). `filterEntry` is the entry of `filter` selected at first, in the form
    // dialogFilter() gives each entry (empty or unknown: the first); when the user confirms, it becomes the
    // entry the user left selected.
    virtual std::optional<std::filesystem::path> openFile(HWND owner, std::string_view filter,
                                                          const std::filesystem::path& initialName,
                                                          const std::filesystem::path& folder,
                                                          std::string& filterEntry) = 0;
    // A file to write; the user is asked before an existing file is named. Nothing when the user cancels.
    virtual std::optional<std::filesystem::path> saveFile(HWND owner, std::string_view filter,
                                                          const std::filesystem::path& initialName,
                                                          const std::filesystem::path& folder,
                                                          std::string& filterEntry) = 0;
};

// The platform's choosers (GetOpenFileNameW, GetSaveFileNameW), modal over `owner`, with their usual titles,
// and no read-only check box.
class DialogFileChooser final : public FileChooser {
public:
    std::optional<std::filesystem::path> openFile(HWND owner, std::string_view filter,
                                                  const std::filesystem::path& initialName,
                                                  const std::filesystem::path& folder,
                                                  std::string& filterEntry) override;
    std::optional<std::filesystem::path> saveFile(HWND owner, std::string_view filter,
                                                  const std::filesystem::path& initialName,
                                                  const std::filesystem::path& folder,
                                                  std::string& filterEntry) override;
};

} // namespace brindlemark
