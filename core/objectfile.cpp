#include "core/objectfile.h"

#include <utility>

namespace brindlemark {

bool parseObjectFile(ByteReader& in, bool hasLevels, ParsedObjectFile& out) {
    const ReadPlace outer = in.place;
    in.place.what = "the object file header";
    const std::size_t versionAt = in.offset();
    if (!in.readI32(out.version))
        return false;
    if (out.version < 0 || out.version > kMaxObjectFileVersion)
        return in.fail(versionAt, "object file version " + std::to_string(out.version) + " is not supported");
    for (int section = 0; section < 2; ++section) {
        in.place.what = "an object count";
        const std::size_t countAt = in.offset();
        std::uint32_t count = 0;
        if (!in.readU32(count))
            return false;
        if (count > in.remaining() / minObjectBytes(out.version))
            return in.countTooLarge(countAt, count, "objects");
        out.objects.reserve(out.objects.size() + count);
        for (std::uint32_t i = 0; i < count; ++i) {
            auto record = std::make_unique<ObjectRecord>();
            if (!record->read(in, hasLevels, out.version))
                return false;
            out.objects.push_back(std::move(record));
        }
    }
    in.place = outer;
    return true;
}

bool ObjectFile::fileObject(ObjectRecord&& record, MergePolicy policy, const WarningSink& warn) {
    return fileObject(std::make_unique<ObjectRecord>(std::move(record)), policy, warn);
}

namespace {

void count(FilingCounts* counts, bool held, MergePolicy policy) {
    if (!counts)
        return;
    if (!held)
        ++counts->added;
    else if (policy == MergePolicy::Overwrite)
        ++counts->overwritten;
    else if (policy == MergePolicy::Glue)
        ++counts->glued;
    else
        ++counts->kept;
}

} // namespace

bool ObjectFile::fileObject(std::unique_ptr<ObjectRecord> record, MergePolicy policy, const WarningSink& warn,
                            FilingCounts* counts) {
    const ObjectId id = record->effectiveId();
    const bool standard = id == record->baseId;
    if (standard && record->modificationCount() == 0)
        return false;
    // The table the object goes into first: while a file loads in order, that search ends at once.
    const ObjectTable& own = standard ? standardTable : customTable;
    const ObjectTable& other = standard ? customTable : standardTable;
    if (warn && own.contains(id) && other.contains(id))
        warn("WARNING: COLLISION OF EXISTANCE FOR ID " + id.text());
    if (standard) {
        count(counts, counts && standardTable.contains(id), policy);
        standardTable.add(std::move(record), policy);
        return true;
    }
    if (idsMatch(record->baseId, record->newId))
        record->baseId = ObjectId{};
    count(counts, counts && customTable.contains(id), policy);
    customTable.add(std::move(record), policy);
    return true;
}

void ObjectFile::take(ParsedObjectFile&& parsed, MergePolicy policy, const WarningSink& warn, FilingCounts* counts) {
    version = parsed.version;
    for (std::unique_ptr<ObjectRecord>& record : parsed.objects)
        fileObject(std::move(record), policy, warn, counts);
    parsed.objects.clear();
}

void ObjectFile::write(ByteWriter& out) const {
    out.writeI32(version);
    standardTable.write(out, version);
    customTable.write(out, version);
}

void ObjectFile::clear() {
    standardTable.clear();
    customTable.clear();
}

} // namespace brindlemark
