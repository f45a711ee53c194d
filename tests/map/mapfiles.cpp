// Packs a folder into a map archive and unpacks a map archive into a folder, with StormLib, for the scripts that
// compare what two builds write into maps (scripts/compare-windows.sh): they compare the files inside, as two
// StormLib versions may lay the same files out differently.
//   mapfiles pack FOLDER MAP      every file of FOLDER (no subfolders) into the new archive MAP, map header first
//   mapfiles unpack MAP FOLDER    every file of MAP but the archive's own (listfile) and (attributes) into FOLDER

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "tests/map/archivebuilder.h"

namespace mpq = brindlemark::testing::mpq;

namespace {

void pack(const std::filesystem::path& folder, const std::filesystem::path& map) {
    std::vector<mpq::File> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back({entry.path().filename().string(), mpq::readBytes(entry.path())});
    std::sort(files.begin(), files.end(), [](const mpq::File& a, const mpq::File& b) { return a.name < b.name; });
    mpq::Options options;
    options.maxFiles = static_cast<std::uint32_t>(files.size() + 8);
    std::filesystem::path scratch = map;
    scratch += ".packing";
    mpq::writeBytes(map, mpq::build(scratch, files, options));
}

void unpack(const std::filesystem::path& map, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(brindlemark::storm::path(map).c_str(), 0, MPQ_OPEN_READ_ONLY, &archive))
        throw std::runtime_error(map.string() + ": cannot open the archive: " + std::to_string(GetLastError()));
    for (const mpq::Listed& listed : mpq::list(map)) {
        if (listed.name == "(listfile)" || listed.name == "(attributes)")
            continue;
        HANDLE file = nullptr;
        if (!SFileOpenFileEx(archive, listed.name.c_str(), SFILE_OPEN_FROM_MPQ, &file))
            throw std::runtime_error(listed.name + ": cannot open: " + std::to_string(GetLastError()));
        mpq::Bytes bytes(listed.size);
        DWORD read = 0;
        if (listed.size && (!SFileReadFile(file, bytes.data(), listed.size, &read, nullptr) || read != listed.size))
            throw std::runtime_error(listed.name + ": cannot read: " + std::to_string(GetLastError()));
        SFileCloseFile(file);
        mpq::writeBytes(folder / listed.name, bytes);
    }
    SFileCloseArchive(archive);
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc == 4 ? argv[1] : "";
    if (command != "pack" && command != "unpack") {
        std::fprintf(stderr, "usage: mapfiles pack FOLDER MAP | mapfiles unpack MAP FOLDER\n");
        return 2;
    }
    try {
        if (command == "pack")
            pack(argv[2], argv[3]);
        else
            unpack(argv[2], argv[3]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mapfiles: %s\n", error.what());
        return 1;
    }
    return 0;
}
