#include "replace/replacelist.h"

#include "core/fileio.h"

#include <algorithm>
#include <cstdio>

namespace brindlemark {

namespace {

bool isSpace(int c) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

void appendUtf8(std::vector<std::uint8_t>& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<std::uint8_t>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<std::uint8_t>(0xC0 | (c >> 6)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<std::uint8_t>(0xE0 | (c >> 12)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<std::uint8_t>(0xF0 | (c >> 18)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    }
}

// UTF-16 text after its byte-order mark, as UTF-8. An unpaired surrogate becomes U+FFFD.
std::vector<std::uint8_t> utf16ToUtf8(std::span<const std::uint8_t> bytes, bool bigEndian) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(bigEndian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]));
    };
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

// The bytes quoted, those other than printable ASCII as hex escapes.
std::string quotedBytes(std::span<const std::uint8_t> bytes) {
    std::string text = "'";
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            text += hex;
        }
    }
    return text + "'";
}

} // namespace

bool parseReplaceList(std::span<const std::uint8_t> input, const std::string& name, ReplaceListContents& out,
                      std::string& error) {
    std::vector<std::uint8_t> converted;
    std::span<const std::uint8_t> bytes = input;
    if (input.size() >= 2 && ((input[0] == 0xFF && input[1] == 0xFE) || (input[0] == 0xFE && input[1] == 0xFF))) {
        converted = utf16ToUtf8(input, input[0] == 0xFE);
        bytes = converted;
    }
    // Each line is read on its own by the token rules, a comment running to its end. Where every line holds
    // whole tokens in pairs, this gives the tokens that reading the file as one stream gives; a line that does
    // not is refused rather than paired with its neighbours.
    ReplaceListContents result;
    std::vector<std::string> badLines;
    const std::size_t n = bytes.size();
    std::size_t lineNumber = 0;
    // The UTF-8 mark that starts a file saved "with BOM" is skipped whatever follows it: a comment or a line end.
    const bool utf8Mark = n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
    for (std::size_t lineStart = utf8Mark ? 3 : 0; lineStart < n;) {
        ++lineNumber;
        const std::size_t lineEnd = static_cast<std::size_t>(
            std::find(bytes.begin() + static_cast<std::ptrdiff_t>(lineStart), bytes.end(), std::uint8_t('\n')) -
            bytes.begin());
        std::vector<ObjectId> tokens;
        bool whole = true;
        bool nul = false;
        std::string read;
        for (std::size_t pos = lineStart; pos < lineEnd;) {
            const std::uint8_t c = bytes[pos];
            if (isSpace(c)) {
                ++pos;
                continue;
            }
            if (c == '/')
                break;
            // Elsewhere a byte 0xEF is taken as a mark: the token follows its three bytes directly.
            const std::size_t start = c == 0xEF ? pos + 3 : pos;
            if (start + 4 > lineEnd) {
                std::size_t cutEnd = lineEnd;
                while (cutEnd > pos && isSpace(bytes[cutEnd - 1]))
                    --cutEnd;
                read += (read.empty() ? "" : " ") + quotedBytes(bytes.subspan(pos, cutEnd - pos)) + " cut short";
                whole = false;
                break;
            }
            ObjectId token;
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                      bytes.begin() + static_cast<std::ptrdiff_t>(start + 4), token.bytes.begin());
            for (std::uint8_t b : token.bytes) {
                whole = whole && !isSpace(b) && b != '/';
                nul = nul || b == 0; // no identifier holds one
            }
            read += (read.empty() ? "" : " ") + quotedBytes(token.bytes);
            tokens.push_back(token);
            pos = start + 4;
        }
        if (nul || !whole || tokens.size() % 2 != 0)
            badLines.push_back(name + ", line " + std::to_string(lineNumber) + ": " +
                               (nul ? "a NUL byte inside an identifier" : "not a pair of four-character identifiers") +
                               "; read as " + read);
        for (std::size_t i = 0; i + 1 < tokens.size(); i += 2)
            result.pairs.emplace_back(tokens[i], tokens[i + 1]);
        lineStart = lineEnd + 1;
    }
    if (!badLines.empty()) {
        error = "Replace list " + name +
                " is refused, nothing was changed: each line must hold whole pairs of "
                "four-character identifiers, the old one and the new one.";
        for (const std::string& line : badLines)
            error += "\n" + line;
        return false;
    }
    out = std::move(result);
    return true;
}

bool readReplaceList(const std::filesystem::path& path, ReplaceListContents& out, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!readFile(path, bytes, why)) {
        error = "Sorry, can't open Replace List file " + pathText(path) + " (" + reasonOf(why) + ")";
        return false;
    }
    return parseReplaceList(bytes, pathText(path), out, error);
}

} // namespace brindlemark
