// Writes the seed corpus of the map archive fuzz target: small archives built with StormLib (with and without
// the map header, files stored in every way a map stores them, an empty archive, a signed one, a file in
// another language) and damaged ones that must be refused (cut short, scribbled tables, no listfile). Usage:
// make_archive_seeds FOLDER
#include "tests/map/archivebuilder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
namespace mpq = brindlemark::testing::mpq;

namespace {

using Bytes = mpq::Bytes;

Bytes text(std::size_t size, char seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>("call set endfunction udg_ 'hfoo' "[(i * 7 + seed) % 33]);
    return out;
}

Bytes scribble(Bytes bytes, std::size_t at, std::size_t count) {
    for (std::size_t i = 0; i < count && at + i < bytes.size(); ++i)
        bytes[at + i] = static_cast<std::uint8_t>(bytes[at + i] * 31 + i * 17 + 5);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder(argv[1]);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path scratch = folder / "scratch.mpq.tmp";

    mpq::Options small;
    small.maxFiles = 8; // a small hash table keeps the seeds small
    mpq::Options plain = small;
    plain.mapHeader = false;

    std::vector<std::pair<std::string, Bytes>> seeds;
    try {
        const std::vector<mpq::File> basic = {mpq::textFile("war3map.w3u", "units units"),
                                              mpq::textFile("war3map.j", "function main takes nothing"),
                                              mpq::textFile("war3mapImported\\a.blp", "BLP1", 0)};
        const Bytes map = mpq::build(scratch, basic, small);
        seeds.push_back({"map", map});
        seeds.push_back({"plain", mpq::build(scratch, basic, plain)});
        seeds.push_back({"empty", mpq::build(scratch, {}, small)});
        seeds.push_back({"flags", mpq::build(scratch,
                                             {{"war3map.wts", text(600, 1), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED, 0},
                                              {"war3map.wtg", text(300, 2),
                                               MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY, 0},
                                              {"war3map.wct", text(200, 3), MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC, 0},
                                              {"war3map.w3e", text(200, 4), MPQ_FILE_IMPLODE, 0},
                                              {"war3map.shd", {}, MPQ_FILE_COMPRESS, 0},
                                              {"war3map.mmp", {}, 0, 0}},
                                             small)});
        seeds.push_back({"sectors", mpq::build(scratch, {{"war3map.j", text(3000, 5), MPQ_FILE_COMPRESS, 0}}, [&] {
                             mpq::Options o = small;
                             o.sectorSize = 1024;
                             return o;
                         }())});
        seeds.push_back(
            {"single-unit",
             mpq::build(scratch, {{"a.txt", text(300, 6), MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT, 0}}, plain)});
        seeds.push_back(
            {"language", mpq::build(scratch, {{"war3map.j", text(40, 7), MPQ_FILE_COMPRESS, 0x409}}, small)});
        seeds.push_back({"signed", mpq::build(scratch, basic, [&] {
                             mpq::Options o = small;
                             o.signature = true;
                             return o;
                         }())});
        seeds.push_back({"no-attributes", mpq::build(scratch, basic, [&] {
                             mpq::Options o = small;
                             o.attributesFlags = 0;
                             o.listFileFlags = MPQ_FILE_EXISTS;
                             return o;
                         }())});

        // Damaged and protected archives.
        seeds.push_back({"no-listfile", mpq::build(scratch, basic, [&] {
                             mpq::Options o = small;
                             o.listFileFlags = 0;
                             return o;
                         }())});
        for (const std::size_t size : {std::size_t(600), map.size() / 2, map.size() - 1})
            seeds.push_back({"cut-" + std::to_string(size), Bytes(map.begin(), map.begin() + size)});
        const mpq::Header header = mpq::header(map);
        seeds.push_back({"hash-scribbled", scribble(map, header.hashTable + 8, 40)});
        seeds.push_back({"block-scribbled", scribble(map, header.blockTable, 24)});
        seeds.push_back({"data-scribbled", scribble(map, header.offset + 32, 64)});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot build the seeds: %s\n", e.what());
        return 1;
    }

    for (const auto& [name, bytes] : seeds) {
        const fs::path path = folder / (name + ".w3x");
        mpq::writeBytes(path, bytes);
        if (fs::file_size(path, ec) != bytes.size()) {
            std::fprintf(stderr, "%s: cannot write\n", path.string().c_str());
            return 1;
        }
    }
    std::printf("wrote %zu seeds to %s\n", seeds.size(), folder.string().c_str());
    return 0;
}
