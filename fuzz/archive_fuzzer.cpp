// Fuzz target: any bytes either are refused by MapArchive::open or open as an archive whose every file either
// reads or is reported as unreadable. An archive whose files all read is written again (with one file given
// new contents) and must open, list the same names and read back the same bytes; anything else aborts.
// StormLib needs a file, so each input goes into a temporary file (in memory where /dev/shm exists). Built
// with libFuzzer (BRINDLEMARK_FUZZ) and as a replay program.
#include "archive/maparchive.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

void failWith(const std::string& message) {
    std::fprintf(stderr, "archive_fuzzer: %s\n", message.c_str());
    std::abort();
}

// A folder of this process's own for the input and the written archive, removed when the process ends.
struct ScratchFolder {
    fs::path path;
    ScratchFolder() {
        std::error_code ec;
        fs::path base = "/dev/shm";
        if (!fs::is_directory(base, ec))
            base = fs::temp_directory_path();
        path = base / ("brindlemark-archive-fuzz-" + std::to_string(getpid()));
        fs::create_directories(path, ec);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

bool writeInput(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
        std::error_code ec;
        fs::remove(path, ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    const RemoveOnExit input{scratchFolder() / "input.w3x"};
    const RemoveOnExit output{scratchFolder() / "output.w3x"};
    if (!writeInput(input.path, data, size))
        failWith("cannot write the input to " + input.path.string());

    MapArchive archive;
    std::string error;
    if (!archive.open(input.path, error)) {
        if (error.rfind(input.path.string() + ": ", 0) != 0)
            failWith("a refusal that does not name the file: " + error);
        return 0;
    }
    std::map<std::string, std::vector<std::uint8_t>> contents;
    bool allRead = true;
    for (const std::string& name : archive.fileNames()) {
        if (!archive.contains(name))
            failWith("a listed file is not contained: " + name);
        std::vector<std::uint8_t> bytes;
        if (!archive.read(name, bytes, error)) {
            if (!bytes.empty())
                failWith("a failed read left bytes behind: " + name);
            allRead = false;
            continue;
        }
        contents[name] = std::move(bytes);
    }
    if (!allRead)
        return 0;

    // The first ordinary file gets new contents.
    std::map<std::string, std::vector<std::uint8_t>> replaced;
    for (const std::string& name : archive.fileNames()) {
        if (name != "(listfile)" && name != "(attributes)" && name != "(signature)") {
            replaced[name] = {'n', 'e', 'w'};
            break;
        }
    }
    if (!writeMapArchive(archive, replaced, output.path, error))
        failWith("an archive whose files all read cannot be written: " + error);

    MapArchive again;
    if (!again.open(output.path, error))
        failWith("the written archive is refused: " + error);
    // The same files, but for the signature, which is left out, and the archive's own, written anew.
    std::set<std::string> before(archive.fileNames().begin(), archive.fileNames().end());
    before.erase("(signature)");
    before.insert({"(listfile)", "(attributes)"});
    const std::set<std::string> after(again.fileNames().begin(), again.fileNames().end());
    if (after != before || after.size() != again.fileNames().size())
        failWith("the written archive lists other files");
    for (const std::string& name : again.fileNames()) {
        if (name == "(listfile)" || name == "(attributes)")
            continue;
        std::vector<std::uint8_t> bytes;
        if (!again.read(name, bytes, error))
            failWith("a written file does not read: " + error);
        const auto it = replaced.find(name);
        if (bytes != (it != replaced.end() ? it->second : contents[name]))
            failWith("a written file reads back different: " + name);
    }
    return 0;
}
