#pragma once
// The entropy-coded data of a Huffman-coded JPEG (baseline, extended and progressive), walked without computing
// a picture: every code must be one the tables define, every block must stay within its 64 coefficients, and a
// scan must hold exactly the blocks its frame gives, its restart markers in their places. A file made of pieces
// of two pictures breaks one of these where the pieces meet.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "raw/candidate_bytes.h"

namespace halvard::formats {

class JpegScanWalker {
public:
    // The marker segments the walk needs; each returns false when the segment is malformed.
    bool takeHuffmanTables(Bytes payload);  // DHT
    bool takeFrame(std::uint8_t marker, Bytes payload);  // SOFn
    bool takeRestartInterval(Bytes payload);  // DRI
    // Whether the frame is one the walk can check (Huffman coding, a known height); the others are left alone.
    bool walkable() const { return walkable_; }
    // Walks the scan whose header is `payload` over the entropy-coded data from `from`: the offset of the marker
    // that ends it, or nullopt when the data does not decode as the frame and tables say it must (or the
    // candidate ends first).
    std::optional<std::uint64_t> walkScan(Bytes payload, CandidateBytes& bytes, std::uint64_t from);

private:
    struct Table {
        bool defined = false;
        // Per code length 1..16: the largest code of that length (-1: none) and where its values begin.
        std::array<std::int32_t, 18> maxCode{};
        std::array<std::int32_t, 17> valueIndex{};
        std::array<std::int32_t, 17> minCode{};
        std::array<std::uint8_t, 256> values{};
        // Codes of up to 9 bits, by the next 9 bits: length << 8 | value, 0 when the code is longer.
        std::array<std::uint16_t, 512> look{};
    };
    struct Component {
        std::uint8_t id = 0;
        std::uint32_t h = 1, v = 1;
        std::uint32_t blocksWide = 0, blocksHigh = 0;  // its own blocks, without the MCU's padding
        std::vector<std::uint64_t> nonzero;  // progressive: which coefficients of each block are set
    };
    class Bits;

    std::array<Table, 8> tables_{};  // DC 0..3, AC 4..7
    std::vector<Component> components_;
    bool haveFrame_ = false;
    bool walkable_ = false;
    bool progressive_ = false;
    std::uint32_t width_ = 0, height_ = 0, hMax_ = 1, vMax_ = 1;
    std::uint32_t restartInterval_ = 0;
};

}  // namespace halvard::formats
