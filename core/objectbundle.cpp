#include "core/objectbundle.h"

#include <algorithm>

#include "core/fileio.h"
#include "core/filebuffer.h"
#include "core/fileform.h"
#include "core/recordplacer.h"

#include <cstdio>
#include <optional>

namespace brindlemark {

const char* kindName(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::Units:
        return "units";
    case ObjectKind::Items:
        return "items";
    case ObjectKind::Destructables:
        return "destructables";
    case ObjectKind::Doodads:
        return "doodads";
    case ObjectKind::Abilities:
        return "abilities";
    case ObjectKind::Buffs:
        return "buffs";
    case ObjectKind::Upgrades:
        return "upgrades";
    }
    return "unknown";
}

bool kindHasLevels(ObjectKind kind) {
    return kind == ObjectKind::Doodads || kind == ObjectKind::Abilities || kind == ObjectKind::Upgrades;
}

const char* kindExtension(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::Units:
        return "w3u";
    case ObjectKind::Items:
        return "w3t";
    case ObjectKind::Destructables:
        return "w3b";
    case ObjectKind::Doodads:
        return "w3d";
    case ObjectKind::Abilities:
        return "w3a";
    case ObjectKind::Buffs:
        return "w3h";
    case ObjectKind::Upgrades:
        return "w3q";
    }
    return "";
}

std::optional<ObjectKind> singleKindOf(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    for (ObjectKind kind : kAllObjectKinds)
        if (ext.size() == 4 && ext[0] == '.' && ext.substr(1) == kindExtension(kind))
            return kind;
    return std::nullopt;
}

namespace {

// A refused file that is of another form altogether is named as such; the read error would only mislead.
LoadResult refusal(std::span<const std::uint8_t> bytes, const std::string& fileName, const ReadError& error) {
    if (std::string other = wrongFormMessage(fileFormOf(bytes, fileName), fileName); !other.empty())
        return {LoadResult::Outcome::Refused, std::move(other), 0};
    return {LoadResult::Outcome::Refused, fileName + ": " + error.message, error.offset};
}

} // namespace

ObjectBundle::ObjectBundle() {
    for (ObjectKind k : kAllObjectKinds)
        kind(k).file.hasLevels = kindHasLevels(k);
}

LoadResult ObjectBundle::load(const std::filesystem::path& path, MergePolicy policy, const WarningSink& warn) {
    if (std::error_code ec; std::filesystem::is_directory(path, ec))
        return {LoadResult::Outcome::Refused, wrongFormMessage(fileFormOf(path), pathText(path)), 0};
    const Filing filing{policy, warn, nullptr};
    // The file's bytes stay in memory for as long as objects keep their modifications as read.
    if (std::shared_ptr<const FileBuffer> buffer = FileBuffer::read(path, kMaxObjectFileSize)) {
        const std::span<const std::uint8_t> bytes = buffer->bytes();
        if (const std::optional<ObjectKind> kind = singleKindOf(path))
            return loadObjectFile(bytes, *kind, pathText(path), std::move(buffer), filing);
        return loadBundle(bytes, pathText(path), std::move(buffer), filing);
    }
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    std::string error;
    if (!readFile(path, *bytes, error, kMaxObjectFileSize))
        return {LoadResult::Outcome::CannotOpen, error, 0};
    if (const std::optional<ObjectKind> kind = singleKindOf(path))
        return loadObjectFile(*bytes, *kind, pathText(path), bytes, filing);
    return loadBundle(*bytes, pathText(path), bytes, filing);
}

LoadResult ObjectBundle::loadObjectFileBytes(std::span<const std::uint8_t> bytes, ObjectKind k,
                                             const std::string& fileName, MergePolicy policy, const WarningSink& warn,
                                             KindCounts* counts) {
    return loadObjectFile(bytes, k, fileName, nullptr, {policy, warn, counts});
}

LoadResult ObjectBundle::loadBytes(std::span<const std::uint8_t> bytes, const std::string& fileName, MergePolicy policy,
                                   const WarningSink& warn, KindCounts* counts) {
    return loadBundle(bytes, fileName, nullptr, {policy, warn, counts});
}

void ObjectBundle::startPlacer(ByteReader& in, std::optional<RecordPlacer>& placer) const {
    if (sortWhenUsed || !in.keepAlive || !RecordPlacer::worthIt(in.size()))
        return;
    placer.emplace();
    in.placer = &*placer;
}

LoadResult ObjectBundle::loadObjectFile(std::span<const std::uint8_t> bytes, ObjectKind k, const std::string& fileName,
                                        std::shared_ptr<const void> keepAlive, const Filing& filing) {
    ByteReader in(bytes);
    in.keepAlive = std::move(keepAlive);
    in.sortWhenUsed = sortWhenUsed;
    in.place.kindName = kindName(k);
    ParsedObjectFile parsed;
    std::optional<RecordPlacer> placer; // declared after what it sorts: it stops before that goes
    startPlacer(in, placer);
    if (!parseObjectFile(in, kindHasLevels(k), parsed))
        return refusal(bytes, fileName, in.error());
    if (placer)
        placer->finish();
    const bool wasPresent = kind(k).present != 0;
    if (!wasPresent)
        kind(k).present = 1;
    takeOnTop(k, wasPresent, std::move(parsed), filing);
    warnTrailing(in, fileName, filing.warn);
    return {};
}

LoadResult ObjectBundle::loadBundle(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                    std::shared_ptr<const void> keepAlive, const Filing& filing) {
    ByteReader in(bytes);
    in.keepAlive = std::move(keepAlive);
    in.sortWhenUsed = sortWhenUsed;
    std::int32_t fileVersion = 0;
    struct Staged {
        std::int32_t flag = 0;
        ParsedObjectFile file;
    };
    std::array<Staged, kObjectKindCount> staged;
    std::optional<RecordPlacer> placer; // declared after what it sorts: it stops before that goes
    startPlacer(in, placer);

    auto refused = [&] { return refusal(bytes, fileName, in.error()); };
    in.place.what = "the bundle version";
    if (!in.readI32(fileVersion))
        return refused();
    for (ObjectKind k : kAllObjectKinds) {
        Staged& s = staged[static_cast<std::size_t>(k)];
        in.place.kindName = kindName(k);
        in.place.what = "the presence flag";
        if (!in.readI32(s.flag))
            return refused();
        if (s.flag != 0 && !parseObjectFile(in, kindHasLevels(k), s.file))
            return refused();
    }

    if (placer)
        placer->finish();
    // The whole file was read: only now does the bundle change.
    bool anyPresent = false;
    for (const Kind& k : kinds_)
        anyPresent = anyPresent || k.present != 0;
    version = anyPresent ? std::max(version, fileVersion) : fileVersion;
    for (ObjectKind k : kAllObjectKinds) {
        Staged& s = staged[static_cast<std::size_t>(k)];
        if (s.flag == 0)
            continue;
        const bool wasPresent = kind(k).present != 0;
        kind(k).present = s.flag;
        takeOnTop(k, wasPresent, std::move(s.file), filing);
    }
    warnTrailing(in, fileName, filing.warn);
    return {};
}

void ObjectBundle::takeOnTop(ObjectKind k, bool wasPresent, ParsedObjectFile&& parsed, const Filing& filing) {
    // A file loaded on top of one of an older version is written in the newer layout, which keeps both files'
    // set flags; the older layout would drop them.
    ObjectFile& file = kind(k).file;
    const std::int32_t before = file.version;
    file.take(std::move(parsed), filing.policy, filing.warn,
              filing.counts ? &(*filing.counts)[static_cast<std::size_t>(k)] : nullptr);
    if (wasPresent)
        file.version = std::max(before, file.version);
}

void ObjectBundle::warnTrailing(const ByteReader& in, const std::string& fileName, const WarningSink& warn) {
    if (const std::size_t rest = in.remaining(); rest > 0 && warn)
        warn(fileName + ": " + std::to_string(rest) + " bytes after the end of the object data at byte " +
             std::to_string(in.offset()) + " were ignored");
}

std::vector<std::uint8_t> ObjectBundle::objectFileBytes(ObjectKind k) const {
    ByteWriter out;
    kind(k).file.write(out);
    return std::move(out.buffer());
}

void ObjectBundle::write(ByteWriter& out) const {
    out.writeI32(version);
    for (const Kind& k : kinds_) {
        out.writeI32(k.present);
        if (k.present != 0)
            k.file.write(out);
    }
}

std::vector<std::uint8_t> ObjectBundle::toBytes() const {
    ByteWriter out;
    write(out);
    return std::move(out.buffer());
}

void ObjectBundle::writeTo(std::optional<ObjectKind> k, const ByteWriter::Sink& put) const {
    ByteWriter out(put);
    if (k)
        kind(*k).file.write(out);
    else
        write(out);
    out.flush();
}

bool ObjectBundle::save(const std::filesystem::path& path, std::string& error) const {
    SaveFile file(path);
    if (!file.open(error))
        return false;
    writeTo(singleKindOf(path), [&file](const std::uint8_t* data, std::size_t size) { file.write(data, size); });
    return file.commit(error);
}

bool ObjectBundle::stage(FileTransaction& files, const std::filesystem::path& path, std::string& error) const {
    const std::optional<ObjectKind> single = singleKindOf(path);
    return files.stageStreamed(
        path, [&](const auto& put) { writeTo(single, put); }, error);
}

void ObjectBundle::clear() {
    for (Kind& k : kinds_) {
        k.file.clear();
        k.present = 0;
    }
}

} // namespace brindlemark
