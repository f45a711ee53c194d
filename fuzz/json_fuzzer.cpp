// Fuzz target: any bytes either are refused by the JSON reader, with at least one problem, or read into object
// data whose written JSON reads back to the same bundles. Anything else aborts. Built with libFuzzer
// (BRINDLEMARK_FUZZ) and as a replay program.
#include "text/objectjson.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void failWith(const std::string& message) {
    std::fprintf(stderr, "json_fuzzer: %s\n", message.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    const WarningSink quiet = [](const std::string&) {};
    JsonBundle first;
    std::vector<JsonProblem> problems;
    if (!readBundleJson(std::span<const std::uint8_t>(data, size), first, problems, quiet)) {
        if (problems.empty())
            failWith("refused without a problem");
        return 0;
    }
    std::string written;
    writeBundleJson(
        first.bundle, [&written](std::string_view piece) { written += piece; }, &first.skin, &first.texts);
    JsonBundle second;
    const auto bytes = reinterpret_cast<const std::uint8_t*>(written.data());
    if (!readBundleJson(std::span<const std::uint8_t>(bytes, written.size()), second, problems, quiet))
        failWith("the JSON written of a read input is refused: " + problems.front().path + ": " +
                 problems.front().message);
    if (second.bundle.toBytes() != first.bundle.toBytes() || second.skin.toBytes() != first.skin.toBytes())
        failWith("the JSON written of a read input reads back as other object data");
    return 0;
}
