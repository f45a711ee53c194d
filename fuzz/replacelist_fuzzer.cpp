// Fuzz target: any bytes either are refused by the replace-list reader with a message, or read into pairs that,
// written one pair a line, read back as the same pairs. Anything else aborts. Built with libFuzzer
// (BRINDLEMARK_FUZZ) and as a replay program.
#include "replace/replacelist.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void failWith(const std::string& message) {
    std::fprintf(stderr, "replacelist_fuzzer: %s\n", message.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    ReplaceListContents first;
    std::string error;
    if (!parseReplaceList(std::span<const std::uint8_t>(data, size), "input", first, error)) {
        if (error.empty())
            failWith("refused without a message");
        return 0;
    }
    // A line feed first, so that no token of the first pair is taken for a byte-order mark.
    std::vector<std::uint8_t> written = {'\n'};
    for (const auto& [from, to] : first.pairs) {
        written.insert(written.end(), from.bytes.begin(), from.bytes.end());
        written.push_back(' ');
        written.insert(written.end(), to.bytes.begin(), to.bytes.end());
        written.push_back('\n');
    }
    ReplaceListContents second;
    if (!parseReplaceList(written, "written", second, error))
        failWith("the pairs of a read list, written again, are refused: " + error);
    if (second.pairs != first.pairs)
        failWith("the pairs of a read list, written again, read back as other pairs");
    return 0;
}
