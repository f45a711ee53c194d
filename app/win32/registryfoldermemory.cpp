#include "app/win32/registryfoldermemory.h"

#include "app/win32/widetext.h"

#include <windows.h>

#include <vector>

namespace brindlemark {

RegistryFolderMemory::RegistryFolderMemory(std::wstring key) : key_(std::move(key)) {}

std::wstring RegistryFolderMemory::read(const std::wstring& name) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    std::wstring value;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
            ERROR_SUCCESS)
            value = buffer.data();
    }
    RegCloseKey(key);
    return value;
}

void RegistryFolderMemory::write(const std::wstring& name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::filesystem::path RegistryFolderMemory::folder(std::string_view chooser) const {
    return pathFromWide(read(L"folders." + toWide(chooser)));
}

void RegistryFolderMemory::setFolder(std::string_view chooser, const std::filesystem::path& folder) {
    write(L"folders." + toWide(chooser), wideFromPath(folder));
}

std::string RegistryFolderMemory::filter(std::string_view chooser) const {
    return toUtf8(read(L"filters." + toWide(chooser)));
}

void RegistryFolderMemory::setFilter(std::string_view chooser, std::string_view filter) {
    write(L"filters." + toWide(chooser), toWide(filter));
}

std::string RegistryFolderMemory::language() const {
    return toUtf8(read(L"language"));
}

void RegistryFolderMemory::setLanguage(std::string_view code) {
    write(L"language", toWide(code));
}

} // namespace brindlemark
