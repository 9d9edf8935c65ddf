// JPEG: the marker segments up to the first scan, then the entropy-coded data, in which only stuffed bytes
// (FF 00) and restart markers may follow an FF; any other marker ends the scan and is read as a segment. The file
// ends at the EOI after a scan: an EOI inside an Exif thumbnail lies within its APP1 segment and is skipped whole.
// Huffman-coded scans are decoded as far as their codes (see jpeg_scan.h): one that does not decode to the end
// is a damaged file, such as one whose clusters came from two pictures.
#include <cstring>

#include "raw/formats/format_checks.h"
#include "raw/formats/jpeg_scan.h"

namespace halvard::formats {

namespace {

bool isStandalone(std::uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8); }

bool isFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers a file may open with after its SOI.
bool opensFile(std::uint8_t marker) {
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xDB || marker == 0xC4 || marker == 0xDD ||
           marker == 0xFE || isFrameHeader(marker);
}

// The offset of the marker that ends the entropy-coded data starting at `at`; nullopt when the candidate ends
// first.
std::optional<std::uint64_t> endOfScan(CandidateBytes& bytes, std::uint64_t at) {
    while (at < bytes.limit()) {
        const Bytes chunk = bytes.view(at, CandidateBytes::kMaxView);
        if (chunk.size() < 2) return std::nullopt;
        std::size_t p = 0;
        // The last byte of a chunk is looked at again as the first of the next.
        while (p + 1 < chunk.size()) {
            const void* hit = std::memchr(chunk.data() + p, 0xFF, chunk.size() - 1 - p);
            if (!hit) {
                p = chunk.size() - 1;
                break;
            }
            p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - chunk.data());
            const std::uint8_t next = chunk[p + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                p += next == 0xFF ? 1 : 2;
                continue;
            }
            return at + p;
        }
        at += p;
    }
    return std::nullopt;
}

}  // namespace

CheckOutcome checkJpeg(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 4);
    if (head.empty() || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF || !opensFile(head[3]))
        return CheckOutcome::rejected();
    std::uint64_t at = 2;
    bool frame = false;
    bool scanned = false;
    JpegScanWalker walker;
    for (int segments = 0;; ++segments) {
        const Bytes marker = exactly(bytes, at, 4);
        if (marker.empty()) {
            // An EOI in the candidate's last two bytes.
            const Bytes last = exactly(bytes, at, 2);
            if (scanned && !last.empty() && last[0] == 0xFF && last[1] == 0xD9) return CheckOutcome::confirmed(at + 2);
            return CheckOutcome::undecided();
        }
        // Random data after an FF D8 FF breaks within the first segment or where the second should begin; a
        // break further on is a damaged file.
        const CheckOutcome broken = segments < 2 ? CheckOutcome::rejected() : CheckOutcome::undecided();
        if (marker[0] != 0xFF) return broken;
        const std::uint8_t type = marker[1];
        if (type == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (type == 0xD9) return scanned ? CheckOutcome::confirmed(at + 2) : broken;
        if (isStandalone(type) || type == 0x00) return broken;
        const std::uint16_t length = be16(marker, 2);
        if (length < 2) return broken;
        const std::uint64_t payloadAt = at + 4;
        at += 2 + std::uint64_t{length};
        // The segments the scan walk needs; a malformed one is a damaged file.
        const bool needed = type == 0xC4 || type == 0xDD || type == 0xDA || isFrameHeader(type);
        const Bytes payload = needed ? exactly(bytes, payloadAt, length - 2U) : Bytes{};
        if (needed && payload.size() != length - 2U) return CheckOutcome::undecided();
        if (type == 0xC4 && !walker.takeHuffmanTables(payload)) return broken;
        if (type == 0xDD && !walker.takeRestartInterval(payload)) return broken;
        if (isFrameHeader(type)) {
            if (!walker.takeFrame(type, payload)) return broken;
            frame = true;
        }
        if (type == 0xDA) {
            if (!frame) return broken;
            scanned = true;
            const auto end = walker.walkable() ? walker.walkScan(payload, bytes, at) : endOfScan(bytes, at);
            if (!end) return CheckOutcome::undecided();
            at = *end;
        }
    }
}

}  // namespace halvard::formats
