#include "app/win32/filechooser.h"

#include "app/win32/widetext.h"

#include <commdlg.h>

#include <vector>

namespace brindlemark {

namespace {

// Room for the longest path Windows knows, so that no chosen path is ever cut.
constexpr std::size_t kPathRoom = 32768;

std::optional<std::filesystem::path> choose(HWND owner, std::string_view filter,
                                            const std::filesystem::path& initialName, bool save) {
    const std::wstring filterText = chooserFilter(filter);
    std::vector<wchar_t> name(kPathRoom, L'\0');
    const std::wstring initial = wideFromPath(initialName);
    initial.copy(name.data(), std::min(initial.size(), name.size() - 1));

    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = owner;
    chooser.lpstrFilter = filterText.c_str();
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = name.data();
    chooser.nMaxFile = static_cast<DWORD>(name.size());
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                    (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    const BOOL confirmed = save ? GetSaveFileNameW(&chooser) : GetOpenFileNameW(&chooser);
    if (!confirmed)
        return std::nullopt;
    return pathFromWide(std::wstring(name.data()));
}

} // namespace

std::optional<std::filesystem::path> DialogFileChooser::openFile(HWND owner, std::string_view filter,
                                                                 const std::filesystem::path& initialName) {
    return choose(owner, filter, initialName, false);
}

std::optional<std::filesystem::path> DialogFileChooser::saveFile(HWND owner, std::string_view filter,
                                                                 const std::filesystem::path& initialName) {
    return choose(owner, filter, initialName, true);
}

} // namespace brindlemark
