#include "cli/command.h"

#include "core/fileio.h"
#include "core/objectbundle.h"

#include <cstdio>

namespace brindlemark::cli {

void printError(std::string_view message) {
    std::fprintf(stderr, "%s: %.*s\n", kProgramName, static_cast<int>(message.size()), message.data());
}

void printOut(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

bool loadBundle(ObjectBundle& bundle, const Argument& file) {
    const std::string name = pathText(file.path);
    // Warnings must not reach standard output, where they would mix with a listing or JSON.
    bundle.warningSink = [name](const std::string& line) { printError(name + ": " + line); };
    const LoadResult result = bundle.load(file.path);
    if (!result) {
        printError(result.error);
        return false;
    }
    return true;
}

} // namespace brindlemark::cli
