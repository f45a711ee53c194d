#pragma once

#include "core/objectbundle.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace brindlemark::bench {

// The size of a generated bundle.
struct BundleShape {
    std::size_t objectCount = 20000;
    std::size_t modificationCount = 500000;
    std::uint64_t seed = 1;
    // Percent of the modifications with integer and with real values; the rest are strings.
    unsigned integerPercent = 35;
    unsigned realPercent = 25;
    // When non-zero, about this many identifiers of other objects are written into the string values of every
    // object (as build lists, shop lists and tooltips hold them), and an object without a string value gets
    // one more modification to hold them.
    std::size_t referencesPerObject = 0;
    // When non-zero, every object gets about this many modifications, spread evenly between the two (the total
    // is still exactly `modificationCount`), instead of a number weighted by its kind.
    std::size_t minPerObject = 0;
    std::size_t maxPerObject = 0;
    // Strings in the lengths of real maps' object files (half of them up to 11 bytes, one in a hundred over 57)
    // instead of the spread up to 1,000 bytes.
    bool shortStrings = false;
    // Written as the editor writes object files (editorBytes): fields not in identifier order, end markers the
    // new id or zero rather than the base id.
    bool editorOrder = false;
};

// The shape of the object data of real maps, as measured over the object files of a collection of maps: 35 %
// integers, 29 % reals, 36 % strings, mostly short; 10 to 40 modifications per object; 50,000 objects and
// 1,250,000 modifications make about 31 MB. Written in the editor's order (editorOrder), as real files are.
BundleShape realMapShape();

// Fills `out` (which should be empty) with a bundle like the object data of a large map: objects of all seven
// kinds, modified standard objects and custom ones ('A000', 'h0a1', ...), exactly `modificationCount`
// modifications in all, of every value type, with level columns in the kinds that have them, strings from a few
// bytes up to 1,000 (names, model paths, coloured tooltips, a little Cyrillic), object files of versions 2 and
// 3. The same shape always gives the same bundle, on every platform. With the default shape the written file is
// about 30 MB; with 85 % integers and 10 % reals, 1,150,000 modifications make about 30 MB.
void generateBundle(const BundleShape& shape, ObjectBundle& out);

// The bundle's bytes as the editor writes them: per object, its fields in an order of their own (the levels of
// one field together, in level order) and every modification ended by the object's new id or by zero. Loading
// them gives `bundle` back; saving that gives its own bytes, not these.
std::vector<std::uint8_t> editorBytes(const ObjectBundle& bundle, std::uint64_t seed);

// Saves a generated bundle to `path` as `shape` says: in the editor's order, or in the form this program writes.
bool saveGenerated(const ObjectBundle& bundle, const BundleShape& shape, const std::filesystem::path& path,
                   std::string& error);

} // namespace brindlemark::bench
