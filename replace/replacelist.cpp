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
