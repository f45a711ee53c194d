#include "core/bundlepath.h"

#include <cstdint>
#include <string>

namespace fs = std::filesystem;

namespace brindlemark {

namespace {

using Native = fs::path::string_type;
using Unit = Native::value_type;

// The number of code units of the character that starts the text: a UTF-8 lead byte with its continuation
// bytes, or a UTF-16 surrogate pair; one unit otherwise.
std::size_t firstCharacterLength(const Native& text) {
    if (text.empty())
        return 0;
    if constexpr (sizeof(Unit) == 1) {
        const auto lead = static_cast<unsigned char>(text[0]);
        if (lead < 0xC0)
            return 1;
        std::size_t length = 1;
        while (length < 4 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            ++length;
        return length;
    } else if constexpr (sizeof(Unit) == 2) {
        const auto lead = static_cast<std::uint16_t>(text[0]);
        if (lead >= 0xD800 && lead <= 0xDBFF && text.size() > 1) {
            const auto trail = static_cast<std::uint16_t>(text[1]);
            if (trail >= 0xDC00 && trail <= 0xDFFF)
                return 2;
        }
        return 1;
    } else {
        return 1;
    }
}

} // namespace

BundlePath splitPath(const fs::path& path) {
    BundlePath parts;
    parts.fullPath = path;
    const Native& text = path.native();

    std::size_t start = 0;
    const std::size_t first = firstCharacterLength(text);
    if (first < text.size() && text[first] == Unit(':')) {
        start = first + 1;
        parts.drive = Native(text, 0, start);
    }

    std::size_t afterSeparator = start; // where the file name begins
    std::size_t lastDot = Native::npos;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] == Unit('\\') || text[i] == Unit('/'))
            afterSeparator = i + 1;
        else if (text[i] == Unit('.'))
            lastDot = i;
    }
    parts.directory = Native(text, start, afterSeparator - start);
    if (lastDot != Native::npos && lastDot >= afterSeparator) {
        parts.name = Native(text, afterSeparator, lastDot - afterSeparator);
        parts.extension = Native(text, lastDot);
    } else {
        parts.name = Native(text, afterSeparator);
    }
    return parts;
}

fs::path backupName(const fs::path& drive, const fs::path& directory, const fs::path& name, const fs::path& extension) {
    fs::path result = drive;
    result += directory;
    result += "BACKUP_";
    result += name;
    result += extension;
    return result;
}

fs::path backupName(const BundlePath& path) {
    return backupName(path.drive, path.directory, path.name, path.extension);
}

fs::path folderItself(const fs::path& folder) {
    const auto trimmed = [](const fs::path& path) {
        Native text = path.native();
        while (text.size() > 1 && (text.back() == Unit('/') || text.back() == Unit('\\')) &&
               text[text.size() - 2] != Unit(':'))
            text.pop_back();
        return fs::path(text);
    };
    fs::path path = trimmed(folder);
    const fs::path last = path.filename();
    if (path.empty() || last == "." || last == "..") {
        std::error_code ec;
        const fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : path, ec);
        if (!ec)
            path = trimmed(absolute.lexically_normal());
    }
    return path;
}

} // namespace brindlemark
