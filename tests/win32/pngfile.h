#pragma once

// Writes 24-bit RGB pixels as a PNG file (zlib-compressed), for the window's screenshot.

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brindlemark::testing {

// `rgb` holds `height` rows of `width` pixels, three bytes each, top row first. False when the file cannot be
// written.
inline bool writePng(const std::filesystem::path& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> raw;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), rgb.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
                   rgb.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::string out("\x89PNG\r\n\x1a\n", 8);
    const auto be32 = [](std::string& s, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            s.push_back(static_cast<char>((v >> shift) & 0xFF));
    };
    const auto chunk = [&](const char* type, const std::string& data) {
        be32(out, static_cast<std::uint32_t>(data.size()));
        const std::string body = std::string(type, 4) + data;
        out += body;
        be32(out, static_cast<std::uint32_t>(
                      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    };
    std::string header;
    be32(header, static_cast<std::uint32_t>(width));
    be32(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter, no interlace
    chunk("IHDR", header);
    chunk("IDAT", std::string(packed.begin(), packed.end()));
    chunk("IEND", "");
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

} // namespace brindlemark::testing
