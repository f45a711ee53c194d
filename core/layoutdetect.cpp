#include "core/layoutdetect.h"

#include "core/fileform.h"

#include <array>
#include <optional>

namespace brindlemark {

namespace {

struct Attempt {
    bool read = false;
    bool toTheEnd = false;
    std::size_t recovered = 0;
    ReadError error;
};

std::size_t recoveredIn(const ParsedObjectFile& file) {
    std::size_t n = 0;
    for (const auto& r : file.objects)
        for (const Modification& m : r->modifications())
            n += m.recovered ? 1 : 0;
    return n;
}

Attempt attempt(std::span<const std::uint8_t> bytes, FileLayout layout) {
    ByteReader in(bytes);
    Attempt a;
    std::size_t recovered = 0;
    auto readFile = [&](bool levels) {
        ParsedObjectFile parsed;
        if (!parseObjectFile(in, levels, parsed))
            return false;
        recovered += recoveredIn(parsed);
        return true;
    };
    bool ok = true;
    if (layout == FileLayout::Bundle) {
        std::int32_t value = 0;
        ok = in.readI32(value);
        for (ObjectKind k : kAllObjectKinds) {
            if (!ok)
                break;
            in.place.kindName = kindName(k);
            ok = in.readI32(value) && (value == 0 || readFile(kindHasLevels(k)));
        }
    } else {
        ok = readFile(layout == FileLayout::ObjectFileWithLevels);
    }
    a.read = ok;
    a.toTheEnd = ok && in.remaining() == 0;
    a.recovered = recovered;
    a.error = in.error();
    return a;
}

constexpr std::array<FileLayout, 3> layouts = {FileLayout::Bundle, FileLayout::ObjectFile,
                                               FileLayout::ObjectFileWithLevels};

// Whether `a` reads the bytes better than `b`.
bool readsBetter(const Attempt& a, const Attempt& b) {
    if (!a.read || !b.read)
        return a.read && !b.read;
    if (a.toTheEnd != b.toTheEnd)
        return a.toTheEnd;
    return a.recovered < b.recovered;
}

} // namespace

std::optional<FileLayout> betterLayout(std::span<const std::uint8_t> bytes, FileLayout layout) {
    const Attempt named = attempt(bytes, layout);
    std::optional<FileLayout> better;
    Attempt best = named;
    for (FileLayout other : layouts)
        if (other != layout)
            if (const Attempt a = attempt(bytes, other); readsBetter(a, best)) {
                best = a;
                better = other;
            }
    return better;
}

bool detectLayout(std::span<const std::uint8_t> bytes, FileLayout& layout, ReadError& error) {
    std::array<Attempt, 3> attempts;
    for (std::size_t i = 0; i < layouts.size(); ++i)
        attempts[i] = attempt(bytes, layouts[i]);
    for (bool needEnd : {true, false}) {
        std::optional<std::size_t> best;
        for (std::size_t i = 0; i < layouts.size(); ++i)
            if (attempts[i].read && (attempts[i].toTheEnd || !needEnd) &&
                (!best || attempts[i].recovered < attempts[*best].recovered))
                best = i;
        if (best) {
            layout = layouts[*best];
            return true;
        }
    }
    error = attempts[0].error;
    for (const Attempt& a : attempts)
        if (a.error.offset > error.offset)
            error = a.error;
    return false;
}

ObjectKind standInKind(FileLayout layout) {
    return layout == FileLayout::ObjectFileWithLevels ? ObjectKind::Abilities : ObjectKind::Units;
}

LoadResult loadDetected(ObjectBundle& bundle, std::span<const std::uint8_t> bytes, const std::string& fileName,
                        FileLayout& layout, const WarningSink& warn) {
    ReadError error;
    if (!detectLayout(bytes, layout, error)) {
        if (std::string other = wrongFormMessage(fileFormOf(bytes, fileName), fileName); !other.empty())
            return {LoadResult::Outcome::Refused, std::move(other), 0};
        return {LoadResult::Outcome::Refused, fileName + ": neither a bundle nor an object file: " + error.message,
                error.offset};
    }
    if (layout == FileLayout::Bundle)
        return bundle.loadBytes(bytes, fileName, MergePolicy::Glue, warn);
    return bundle.loadObjectFileBytes(bytes, standInKind(layout), fileName, MergePolicy::Glue, warn);
}

} // namespace brindlemark
