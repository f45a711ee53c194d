// Fuzz target: any bytes either are refused by the bundle reader or load into a bundle whose written form is
// stable. Writing such a bundle, loading what was written into a fresh bundle and writing again must give the
// same bytes; anything else aborts. Built with libFuzzer (BRINDLEMARK_FUZZ) and as a replay program.
#include "core/objectbundle.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void failWith(const std::string& message) {
    std::fprintf(stderr, "load_fuzzer: %s\n", message.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    const WarningSink quiet = [](const std::string&) {};

    ObjectBundle first;
    if (!first.loadBytes(std::span<const std::uint8_t>(data, size), "input", MergePolicy::Glue, quiet))
        return 0;
    const std::vector<std::uint8_t> written = first.toBytes();

    ObjectBundle second;
    const LoadResult reloaded = second.loadBytes(written, "written", MergePolicy::Glue, quiet);
    if (!reloaded)
        failWith("the bundle written from a loaded input is refused: " + reloaded.error);
    const std::vector<std::uint8_t> again = second.toBytes();
    if (again != written) {
        std::size_t at = 0;
        while (at < again.size() && at < written.size() && again[at] == written[at])
            ++at;
        failWith("writing is not stable: the first write has " + std::to_string(written.size()) +
                 " bytes, the second " + std::to_string(again.size()) + ", first difference at byte " +
                 std::to_string(at));
    }
    return 0;
}
