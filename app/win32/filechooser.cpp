#include "app/win32/filechooser.h"

#include "app/appstate.h"
#include "app/win32/widetext.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace brindlemark {

namespace {

// Room for the longest path Windows knows, so that no chosen path is ever cut.
constexpr std::size_t kPathRoom = 32768;

// The entries of `filter` in the form dialogFilter() gives them, in order.
std::vector<std::string> filterEntries(std::string_view filter) {
    std::vector<std::string> entries;
    const std::string all = dialogFilter(filter);
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = std::min(all.find(";;", start), all.size());
        entries.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    return entries;
}

std::optional<std::filesystem::path> choose(HWND owner, std::string_view filter,
                                            const std::filesystem::path& initialName,
                                            const std::filesystem::path& folder, std::string& filterEntry, bool save) {
    const std::wstring filterText = chooserFilter(filter);
    const std::vector<std::string> entries = filterEntries(filter);
    const auto selected = std::find(entries.begin(), entries.end(), filterEntry);
    const std::wstring initialFolder = wideFromPath(folder);
    std::vector<wchar_t> name(kPathRoom, L'\0');
    const std::wstring initial = wideFromPath(initialName);
    initial.copy(name.data(), std::min(initial.size(), name.size() - 1));

    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = owner;
    chooser.lpstrFilter = filterText.c_str();
    chooser.nFilterIndex = selected == entries.end() ? 1 : static_cast<DWORD>(selected - entries.begin()) + 1;
    chooser.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    chooser.lpstrFile = name.data();
    chooser.nMaxFile = static_cast<DWORD>(name.size());
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                    (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    const BOOL confirmed = save ? GetSaveFileNameW(&chooser) : GetOpenFileNameW(&chooser);
    if (!confirmed)
        return std::nullopt;
    if (chooser.nFilterIndex >= 1 && chooser.nFilterIndex <= entries.size())
        filterEntry = entries[chooser.nFilterIndex - 1];
    return pathFromWide(std::wstring(name.data()));
}

} // namespace

std::optional<std::filesystem::path> DialogFileChooser::openFile(HWND owner, std::string_view filter,
                                                                 const std::filesystem::path& initialName,
                                                                 const std::filesystem::path& folder,
                                                                 std::string& filterEntry) {
    return choose(owner, filter, initialName, folder, filterEntry, false);
}

std::optional<std::filesystem::path> DialogFileChooser::saveFile(HWND owner, std::string_view filter,
                                                                 const std::filesystem::path& initialName,
                                                                 const std::filesystem::path& folder,
                                                                 std::string& filterEntry) {
    return choose(owner, filter, initialName, folder, filterEntry, true);
}

} // namespace brindlemark
