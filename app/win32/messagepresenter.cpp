#include "app/win32/messagepresenter.h"

#include "app/win32/widetext.h"

#include <filesystem>
#include <vector>

namespace brindlemark {

void MessageBoxPresenter::show(HWND owner, const std::string& text) {
    MessageBoxW(owner, toWide(text).c_str(), caption().c_str(), MB_OK);
}

std::wstring MessageBoxPresenter::caption() {
    std::vector<wchar_t> name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    return std::filesystem::path(std::wstring(name.data(), length)).stem().wstring();
}

} // namespace brindlemark
