#include "replace/renamelist.h"

namespace brindlemark {

int compareEntryIds(ObjectId a, ObjectId b) {
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t x = a.bytes[i];
        const std::uint8_t y = b.bytes[i];
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
    return 0;
}

bool RenameList::insert(RenameEntry entry) {
    std::size_t lo = 0;
    std::size_t hi = entries_.size();
    while (lo != hi) {
        const std::size_t mid = (lo + hi) / 2;
        const int c = compareEntryIds(entry.fromId, entries_[mid].fromId);
        if (c == 0) {
            if (unique_)
                return false;
            lo = mid;
            break;
        }
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(lo), std::move(entry));
    return true;
}

} // namespace brindlemark
