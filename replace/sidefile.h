#pragma once

// Patching identifiers into side files (a map's trigger files and the like) byte for byte. A side file is a
// plain sequence of bytes: no wildcards, no word boundaries, any four bytes that equal the old identifier are
// replaced. A file is never created, truncated or lengthened.
//
// One pass replaces, from left to right, the non-overlapping occurrences of the old identifier: after a
// replacement the scan goes on right behind the written bytes, so written bytes never take part in a match
// during the same pass, and an occurrence that overlaps a replaced one stays ('aaaaa' with aaaa -> bbbb gives
// 'bbbba'). A later pass sees what earlier passes wrote: A -> B then B -> C turns A into C.

#include "core/objectid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace brindlemark {

// One pass over a side file: every occurrence of `from` left to right becomes `to`.
struct SidePass {
    ObjectId from;
    ObjectId to;
};

// Applies the passes to `bytes` in order, each with exactly the result of one pass as described above.
// Built for thousands of passes over large files: the bytes are scanned once, and afterwards each pass costs
// time in proportion to the occurrences it meets, not to the length of the bytes. A pass with `from` equal to
// `to` changes nothing.
// With `replaced`, it receives per pass the number of occurrences the pass replaced (0 for a pass whose `from`
// equals its `to`).
void applySidePasses(std::vector<std::uint8_t>& bytes, std::span<const SidePass> passes,
                     std::vector<std::size_t>* replaced = nullptr);

// The same passes over a file that arrives piece by piece, with the same result byte for byte: memory stays
// bounded by a few pieces and three bytes per pass, whatever the length of the file. A pass can decide a window
// once the passes before it can no longer change the window's bytes, so each pass trails the one before it by
// three bytes, and a byte is handed on once the last pass is past it.
class SideStream {
public:
    using Sink = std::function<void(const std::uint8_t*, std::size_t)>;

    // `pieceSize` is how many bytes are gathered before the passes run over them.
    explicit SideStream(std::span<const SidePass> passes, std::size_t pieceSize = std::size_t(4) << 20);
    ~SideStream();
    SideStream(const SideStream&) = delete;
    SideStream& operator=(const SideStream&) = delete;

    // The next bytes of the file. Every byte that no pass can change any more goes to `out`, in order.
    void feed(const std::uint8_t* data, std::size_t size, const Sink& out);
    // The end of the file: the rest goes to `out`.
    void finish(const Sink& out);

    // Per pass, the occurrences it replaced so far.
    const std::vector<std::size_t>& replaced() const;
    // Whether some byte handed on differs from the byte fed in its place.
    bool changed() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace brindlemark
