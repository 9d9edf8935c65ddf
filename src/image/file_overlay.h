#pragma once
// Writes that stand in for parts of an image file when it is read, kept in memory: the VHDX log's replayed
// entries. The file itself is never written; an overlay may reach past the file's end (the log can grow it).
#include <cstdint>
#include <map>
#include <vector>

#include "common/bytes.h"

namespace halvard {

class FileOverlay {
public:
    // Later writes replace earlier ones where they meet.
    void write(std::uint64_t offset, Bytes data);
    void zero(std::uint64_t offset, std::uint64_t length);

    bool empty() const { return pieces_.empty(); }
    // One past the last byte any write reached.
    std::uint64_t end() const;
    // Puts the overlay's bytes over `buffer`, which holds the file's bytes at [offset, offset + length).
    void applyTo(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const;

private:
    struct Piece {
        std::uint64_t length = 0;
        std::vector<std::uint8_t> data;  // empty: zeros
    };
    // Cuts every piece that meets [offset, offset + length) back to what lies outside it.
    void clear(std::uint64_t offset, std::uint64_t length);
    std::map<std::uint64_t, Piece> pieces_;  // by start; they never overlap
};

}  // namespace halvard
