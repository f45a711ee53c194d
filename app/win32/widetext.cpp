#include "app/win32/widetext.h"

#include <windows.h>

namespace brindlemark {

std::wstring toWide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

std::string toUtf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring chooserFilter(std::string_view filter) {
    std::wstring out = toWide(filter);
    for (wchar_t& c : out)
        if (c == L'|')
            c = L'\0';
    // "||" at the end becomes the two closing zeros; a filter without it gets them.
    if (out.size() < 2 || out[out.size() - 1] != L'\0' || out[out.size() - 2] != L'\0')
        out.append(2, L'\0');
    return out;
}

} // namespace brindlemark
