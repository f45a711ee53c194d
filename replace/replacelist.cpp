#include "replace/replacelist.h"

namespace brindlemark {

namespace {

bool isSpace(int c) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

// Reads the token bytes out[first] to out[3] from the file.
bool readBytes(std::FILE* file, ObjectId& out, int first) {
    for (int i = first; i < 4; ++i) {
        const int c = std::getc(file);
        if (c == EOF)
            return false;
        out.bytes[i] = static_cast<std::uint8_t>(c);
    }
    return true;
}

} // namespace

bool readReplaceToken(std::FILE* file, ObjectId& token) {
    ObjectId read;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF)
            return false;
        if (c == 0xEF) {
            // A byte-order mark: skip its two other bytes, whatever they are; the token follows directly.
            if (std::getc(file) == EOF || std::getc(file) == EOF)
                return false;
            if (!readBytes(file, read, 0))
                return false;
            token = read;
            return true;
        }
        if (c == '/') {
            int d;
            do {
                d = std::getc(file);
                if (d == EOF)
                    return false;
            } while (d != '\n');
            continue;
        }
        if (isSpace(c))
            continue;
        read.bytes[0] = static_cast<std::uint8_t>(c);
        if (!readBytes(file, read, 1))
            return false;
        token = read;
        return true;
    }
}

} // namespace brindlemark

#include "core/fileio.h"

#include <algorithm>

namespace brindlemark {

namespace {

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

std::string tokenText(const ObjectId& token) {
    std::string text = "'";
    for (std::uint8_t b : token.bytes) {
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
    // The tokens, as readReplaceToken reads them, with where each starts and whether it looks like an identifier.
    struct Token {
        ObjectId id;
        std::size_t start = 0;
        bool wellFormed = true;
    };
    std::vector<Token> tokens;
    const std::size_t n = bytes.size();
    std::size_t pos = 0;
    for (;;) {
        if (pos >= n)
            break;
        const std::uint8_t c = bytes[pos++];
        std::size_t start = pos - 1;
        if (c == 0xEF) {
            if (pos + 2 + 4 > n)
                break;
            pos += 2;
            start = pos;
        } else if (c == '/') {
            while (pos < n && bytes[pos] != '\n')
                ++pos;
            if (pos >= n)
                break;
            ++pos;
            continue;
        } else if (isSpace(c)) {
            continue;
        } else if (start + 4 > n) {
            break;
        }
        Token token;
        token.start = start;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes.begin() + static_cast<std::ptrdiff_t>(start + 4), token.id.bytes.begin());
        pos = start + 4;
        for (std::uint8_t b : token.id.bytes)
            if (isSpace(b) || b == '/')
                token.wellFormed = false;
        if (pos < n && !isSpace(bytes[pos]) && bytes[pos] != '/')
            token.wellFormed = false;
        tokens.push_back(token);
    }

    std::vector<std::size_t> lineStarts = {0};
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i] == '\n')
            lineStarts.push_back(i + 1);
    const auto lineOf = [&](std::size_t offset) {
        return static_cast<std::size_t>(std::upper_bound(lineStarts.begin(), lineStarts.end(), offset) -
                                        lineStarts.begin());
    };

    ReplaceListContents result;
    for (const Token& t : tokens)
        if (std::find(t.id.bytes.begin(), t.id.bytes.end(), 0) != t.id.bytes.end()) {
            error = name + ", line " + std::to_string(lineOf(t.start)) +
                    ": a NUL byte inside an identifier; the list is refused";
            return false;
        }
    for (std::size_t i = 0; i + 1 < tokens.size(); i += 2)
        result.pairs.emplace_back(tokens[i].id, tokens[i + 1].id);

    // A line is malformed when a token on it is not four characters standing alone, when it holds an odd number
    // of tokens, or when its first token ends a pair that an earlier line began.
    std::size_t i = 0;
    while (i < tokens.size()) {
        const std::size_t line = lineOf(tokens[i].start);
        std::size_t j = i;
        bool wellFormed = true;
        std::string read;
        while (j < tokens.size() && lineOf(tokens[j].start) == line) {
            wellFormed = wellFormed && tokens[j].wellFormed;
            read += (read.empty() ? "" : " ") + tokenText(tokens[j].id);
            ++j;
        }
        if (!wellFormed || (j - i) % 2 != 0 || i % 2 != 0)
            result.warnings.push_back(name + ", line " + std::to_string(line) +
                                      ": not a pair of four-character identifiers; read as " + read);
        i = j;
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
