#include "replace/sidefile.h"

#include <algorithm>
#include <cstring>

namespace brindlemark {

namespace {

std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint32_t key(const ObjectId& id) {
    return load32(id.bytes.data());
}

// The window positions of every value that is the `from` of some pass. Entries are added whenever a window
// comes to hold such a value and are never removed on the spot: a pass drops the entries that no longer hold
// its value (and repeated ones) when it takes its list. So each list holds every position of its value, plus
// stale entries that the next pass for that value discards.
class WindowIndex {
public:
    explicit WindowIndex(std::span<const SidePass> passes) {
        for (const SidePass& pass : passes) {
            if (!(pass.from == pass.to))
                keys_.push_back(key(pass.from));
        }
        std::sort(keys_.begin(), keys_.end());
        keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
        positions.resize(keys_.size());

        std::size_t size = 16;
        tableBits_ = 4;
        while (size < 2 * keys_.size()) {
            size *= 2;
            ++tableBits_;
        }
        table_.assign(size, -1);
        filter_.assign(kFilterBits / 64, 0);
        prefixes_.assign(kPrefixBits / 64, 0);
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            const std::uint32_t prefix = keys_[k] & 0xffffu;
            prefixes_[prefix >> 6] |= std::uint64_t(1) << (prefix & 63);
            const std::uint32_t h = mix(keys_[k]);
            const std::uint32_t bit = h >> (32 - kFilterShift);
            filter_[bit >> 6] |= std::uint64_t(1) << (bit & 63);
            std::size_t slot = h >> (32 - tableBits_);
            while (table_[slot] >= 0)
                slot = (slot + 1) & (size - 1);
            table_[slot] = static_cast<std::int32_t>(k);
        }
    }

    bool empty() const { return keys_.empty(); }

    // Whether some looked-for value begins with the two bytes at `p`: a check of 8 KB that stays in the cache,
    // which rules out almost every window of text before find() is asked.
    bool mayBeginAt(const std::uint8_t* p) const {
        const std::uint32_t prefix = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
        return prefixes_[prefix >> 6] >> (prefix & 63) & 1;
    }

    // The list number of `value`, or -1 when no pass looks for it.
    std::int32_t find(std::uint32_t value) const {
        const std::uint32_t h = mix(value);
        const std::uint32_t bit = h >> (32 - kFilterShift);
        if (!(filter_[bit >> 6] >> (bit & 63) & 1))
            return -1;
        const std::size_t mask = table_.size() - 1;
        for (std::size_t slot = h >> (32 - tableBits_);; slot = (slot + 1) & mask) {
            const std::int32_t k = table_[slot];
            if (k < 0 || keys_[static_cast<std::size_t>(k)] == value)
                return k;
        }
    }

    std::vector<std::vector<std::size_t>> positions;

private:
    // A bitmap of 2^18 bits (32 KB) screens out almost every window before the hash table is consulted.
    static constexpr unsigned kFilterShift = 18;
    static constexpr std::size_t kFilterBits = std::size_t(1) << kFilterShift;

    static std::uint32_t mix(std::uint32_t v) { return v * 0x9E3779B1u; }

    std::vector<std::uint32_t> keys_;
    std::vector<std::int32_t> table_;
    unsigned tableBits_ = 4;
    std::vector<std::uint64_t> filter_;
    static constexpr std::size_t kPrefixBits = std::size_t(1) << 16;
    std::vector<std::uint64_t> prefixes_;
};

// Writes `to` at `p` and files every window that the write turned into a looked-for value.
void writeAndIndex(std::vector<std::uint8_t>& bytes, std::size_t p, const ObjectId& to, WindowIndex& index) {
    const std::size_t first = p >= 3 ? p - 3 : 0;
    const std::size_t last = std::min(p + 3, bytes.size() - 4);
    std::uint32_t before[7];
    for (std::size_t w = first; w <= last; ++w)
        before[w - first] = load32(bytes.data() + w);
    std::memcpy(bytes.data() + p, to.bytes.data(), 4);
    for (std::size_t w = first; w <= last; ++w) {
        const std::uint32_t now = load32(bytes.data() + w);
        if (now == before[w - first])
            continue;
        const std::int32_t k = index.find(now);
        if (k >= 0)
            index.positions[static_cast<std::size_t>(k)].push_back(w);
    }
}

} // namespace

void applySidePasses(std::vector<std::uint8_t>& bytes, std::span<const SidePass> passes,
                     std::vector<std::size_t>* replaced) {
    if (replaced)
        replaced->assign(passes.size(), 0);
    if (bytes.size() < 4 || passes.empty())
        return;
    WindowIndex index(passes);
    if (index.empty())
        return;
    const std::size_t windows = bytes.size() - 3;
    for (std::size_t p = 0; p < windows; ++p) {
        if (!index.mayBeginAt(bytes.data() + p))
            continue;
        const std::int32_t k = index.find(load32(bytes.data() + p));
        if (k >= 0)
            index.positions[static_cast<std::size_t>(k)].push_back(p);
    }

    std::vector<std::size_t> current;
    for (std::size_t passIndex = 0; passIndex < passes.size(); ++passIndex) {
        const SidePass& pass = passes[passIndex];
        if (pass.from == pass.to) // writes back what it finds; it has no list of its own
            continue;
        const std::uint32_t wanted = key(pass.from);
        const std::size_t k = static_cast<std::size_t>(index.find(wanted));
        std::vector<std::size_t>& list = index.positions[k];
        if (list.empty())
            continue;
        // Take the list; writes made by this pass file new occurrences into the emptied one.
        current.clear();
        current.swap(list);
        std::erase_if(current, [&](std::size_t p) { return load32(bytes.data() + p) != wanted; });
        std::sort(current.begin(), current.end());
        current.erase(std::unique(current.begin(), current.end()), current.end());

        // The occurrences as they stand before the pass, from left to right. A chosen one is at least four
        // bytes after the previous write, so no write of this pass touches a later occurrence's bytes, and
        // whatever the writes create starts before the point the scan has reached: the pass never looks at
        // it.
        std::size_t next = 0;
        for (std::size_t p : current) {
            if (p < next) {
                list.push_back(p); // overlaps a replaced occurrence; it may still hold the value
                continue;
            }
            writeAndIndex(bytes, p, pass.to, index);
            next = p + 4;
            if (replaced)
                ++(*replaced)[passIndex];
        }
    }
}

struct SideStream::State {
    // A pass that changes something: its list in the index, how far it has decided (windows that start before
    // `limit`) and where its next occurrence may start at the earliest.
    struct Active {
        std::size_t pass;
        std::size_t list;
        std::uint64_t limit = 0;
        std::uint64_t next = 0;
    };

    State(std::span<const SidePass> passes, std::size_t pieceSize)
        : passes(passes.begin(), passes.end()), index(passes), pieceSize(std::max<std::size_t>(pieceSize, 1)) {
        replaced.assign(passes.size(), 0);
        for (std::size_t i = 0; i < passes.size(); ++i) {
            if (!(passes[i].from == passes[i].to))
                active.push_back({i, static_cast<std::size_t>(index.find(key(passes[i].from)))});
        }
    }

    // Runs every pass as far as the bytes held allow (to the end at the end of the file) and hands on the bytes
    // that are final.
    void run(bool atEnd, const Sink& out) {
        const std::uint64_t end = base + buffer.size();
        for (std::vector<std::size_t>& list : index.positions)
            list.clear();
        if (!active.empty() && buffer.size() >= 4) {
            for (std::size_t p = 0; p + 3 < buffer.size(); ++p) {
                if (!index.mayBeginAt(buffer.data() + p))
                    continue;
                const std::int32_t k = index.find(load32(buffer.data() + p));
                if (k >= 0)
                    index.positions[static_cast<std::size_t>(k)].push_back(p);
            }
        }
        std::uint64_t done = end;
        for (std::size_t a = 0; a < active.size(); ++a) {
            Active& pass = active[a];
            // Pass a decides the windows that the passes before it can no longer change: 3 bytes behind the
            // pass before it, whose later writes reach at most 3 bytes before its own limit.
            const std::uint64_t lag = 3 + 3 * std::uint64_t(a);
            const std::uint64_t limit = atEnd ? end : std::max(pass.limit, end > lag ? end - lag : 0);
            const std::uint64_t from = pass.limit;
            pass.limit = limit;
            done = std::min(done, limit);
            std::vector<std::size_t>& list = index.positions[pass.list];
            if (list.empty() || limit == from)
                continue;
            const std::uint32_t wanted = key(passes[pass.pass].from);
            current.clear();
            current.swap(list);
            std::erase_if(current, [&](std::size_t p) { return load32(buffer.data() + p) != wanted; });
            std::sort(current.begin(), current.end());
            current.erase(std::unique(current.begin(), current.end()), current.end());
            for (std::size_t p : current) {
                const std::uint64_t at = base + p;
                if (at < from || at >= limit || at < pass.next) {
                    list.push_back(p);
                    continue;
                }
                writeAndIndex(buffer, p, passes[pass.pass].to, index);
                pass.next = at + 4;
                ++replaced[pass.pass];
            }
        }
        const std::size_t final = static_cast<std::size_t>(done - base);
        if (final == 0)
            return;
        if (!changed && std::memcmp(buffer.data(), original.data(), final) != 0)
            changed = true;
        out(buffer.data(), final);
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(final));
        original.erase(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(final));
        base = done;
    }

    std::vector<SidePass> passes;
    WindowIndex index;
    std::size_t pieceSize;
    std::vector<Active> active;
    std::vector<std::size_t> replaced;
    std::vector<std::size_t> current;
    std::vector<std::uint8_t> buffer;   // the bytes from `base` on that are not final yet
    std::vector<std::uint8_t> original; // the same bytes as they were fed
    std::uint64_t base = 0;
    std::size_t held = 0; // bytes of `buffer` that the passes have seen
    bool changed = false;
};

SideStream::SideStream(std::span<const SidePass> passes, std::size_t pieceSize)
    : state_(std::make_unique<State>(passes, pieceSize)) {}

SideStream::~SideStream() = default;

void SideStream::feed(const std::uint8_t* data, std::size_t size, const Sink& out) {
    State& s = *state_;
    while (size > 0) {
        const std::size_t room = s.held + s.pieceSize - s.buffer.size();
        const std::size_t take = std::min(size, room);
        s.buffer.insert(s.buffer.end(), data, data + take);
        s.original.insert(s.original.end(), data, data + take);
        data += take;
        size -= take;
        if (s.buffer.size() - s.held >= s.pieceSize) {
            s.run(false, out);
            s.held = s.buffer.size();
        }
    }
}

void SideStream::finish(const Sink& out) {
    state_->run(true, out);
    state_->held = 0;
}

const std::vector<std::size_t>& SideStream::replaced() const {
    return state_->replaced;
}

bool SideStream::changed() const {
    return state_->changed;
}

} // namespace brindlemark
