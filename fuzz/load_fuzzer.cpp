// Fuzz target: any bytes either are refused by the bundle reader or load into a bundle whose written form is
// stable. Writing such a bundle, loading what was written into a fresh bundle and writing again must give the
// same bytes; anything else aborts. The same bytes, read as one object after another, must also read alike in
// every way a load reads objects: one modification at a time, held as the file's bytes, sorted on a second
// thread, or sorted when first used. Built with libFuzzer (BRINDLEMARK_FUZZ) and as a replay program.
#include "core/objectbundle.h"
#include "core/objectrecord.h"
#include "core/recordplacer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void failWith(const std::string& message) {
    std::fprintf(stderr, "load_fuzzer: %s\n", message.c_str());
    std::abort();
}

// Reads objects from `data` until one fails, the same way with every reading path, and aborts on any
// difference in what they read, where they stop, the errors they give and the bytes they write.
void readObjectsEveryWay(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    if (size < 2)
        return;
    const bool levels = (data[0] & 1) != 0;
    const std::int32_t version = data[0] >> 1 & 3;
    const auto kept = std::make_shared<const std::vector<std::uint8_t>>(data + 1, data + size);
    const std::span<const std::uint8_t> bytes(*kept);
    enum Way { OneByOne, Held, Placed, SortedWhenUsed, kWays };
    ByteReader readers[kWays] = {ByteReader(bytes), ByteReader(bytes), ByteReader(bytes), ByteReader(bytes)};
    RecordPlacer placer;
    for (int way = Held; way < kWays; ++way)
        readers[way].keepAlive = kept;
    readers[Placed].placer = &placer;
    readers[SortedWhenUsed].sortWhenUsed = true;
    std::vector<std::unique_ptr<ObjectRecord>> objects[kWays]; // those read whole
    for (bool more = true; more;) {
        bool read[kWays];
        for (int way = 0; way < kWays; ++way) {
            auto object = std::make_unique<ObjectRecord>();
            read[way] = object->read(readers[way], levels, version);
            if (read[way])
                objects[way].push_back(std::move(object));
        }
        for (int way = Held; way < kWays; ++way)
            if (read[way] != read[OneByOne] || readers[way].offset() != readers[OneByOne].offset() ||
                readers[way].error().message != readers[OneByOne].error().message ||
                readers[way].error().offset != readers[OneByOne].error().offset)
                failWith("reading path " + std::to_string(way) +
                         " stops elsewhere or otherwise than reading one "
                         "modification at a time, after object " +
                         std::to_string(objects[OneByOne].size()));
        more = read[OneByOne] && readers[OneByOne].remaining() != 0;
    }
    placer.finish();
    for (std::size_t i = 0; i < objects[OneByOne].size(); ++i) {
        ByteWriter expected;
        objects[OneByOne][i]->write(expected, version);
        for (int way = Held; way < kWays; ++way) {
            ByteWriter written;
            objects[way][i]->write(written, version);
            if (written.buffer() != expected.buffer() ||
                objects[way][i]->modificationCount() != objects[OneByOne][i]->modificationCount())
                failWith("reading path " + std::to_string(way) + " writes object " + std::to_string(i) +
                         " otherwise than reading one modification at a time");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlemark;
    const WarningSink quiet = [](const std::string&) {};
    readObjectsEveryWay(data, size);

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
