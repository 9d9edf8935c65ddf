// RAR: the blocks after the marker, each with a header checksum, up to the end-of-archive block. Both layouts:
// RAR 1.5-4.x (fixed 7-byte block heads, CRC-16 taken from CRC-32) and RAR 5 (variable-length integers, CRC-32).
#include "raw/formats/crc32.h"
#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

constexpr std::uint64_t kLargestHeader = 2 << 20;

// RAR 4: HEAD_CRC(2) HEAD_TYPE(1) HEAD_FLAGS(2) HEAD_SIZE(2), then ADD_SIZE(4) when flag 0x8000 is set; file
// and service blocks always carry their packed size there, with its high half at 32 when flag 0x100 is set.
CheckOutcome checkRar4(CandidateBytes& bytes) {
    std::uint64_t at = 7;
    for (bool first = true;; first = false) {
        const CheckOutcome broken = first ? CheckOutcome::rejected() : CheckOutcome::undecided();
        const Bytes head = exactly(bytes, at, 7);
        if (head.empty()) return CheckOutcome::undecided();
        const std::uint16_t storedCrc = le16(head, 0);
        const std::uint8_t type = head[2];
        const std::uint16_t flags = le16(head, 3);
        const std::uint16_t headerSize = le16(head, 5);
        if (headerSize < 7 || (first && type != 0x73) || type < 0x72 || type > 0x7B) return broken;
        const auto crc = crc32Of(bytes, at + 2, headerSize - 2u);
        if (!crc) return CheckOutcome::undecided();
        if ((*crc & 0xFFFF) != storedCrc) return broken;
        const Bytes header = exactly(bytes, at, headerSize);
        std::uint64_t data = 0;
        if (type == 0x74 || type == 0x7A) {
            data = le32(header, 7);
            if (flags & 0x100) data |= std::uint64_t{le32(header, 32)} << 32;
        } else if (flags & 0x8000) {
            data = le32(header, 7);
        }
        if (data > bytes.limit()) return CheckOutcome::undecided();
        at += headerSize + data;
        if (type == 0x7B) return CheckOutcome::confirmed(at);
    }
}

// A RAR 5 variable-length integer: 7 bits a byte, low first; nullopt past 10 bytes or the span's end.
std::optional<std::uint64_t> vint(Bytes data, std::size_t& p) {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 70 && p < data.size(); shift += 7) {
        const std::uint8_t byte = data[p++];
        if (shift < 64) value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (!(byte & 0x80)) return value;
    }
    return std::nullopt;
}

// RAR 5: CRC32(4), header size (vint), then the header: type, flags, [extra size], [data size].
CheckOutcome checkRar5(CandidateBytes& bytes) {
    std::uint64_t at = 8;
    for (bool first = true;; first = false) {
        const CheckOutcome broken = first ? CheckOutcome::rejected() : CheckOutcome::undecided();
        const Bytes sizeField = exactly(bytes, at, 7);
        if (sizeField.empty()) return CheckOutcome::undecided();
        const std::uint32_t storedCrc = le32(sizeField, 0);
        std::size_t p = 4;
        const auto headerSize = vint(sizeField, p);
        if (!headerSize || *headerSize == 0 || *headerSize > kLargestHeader) return broken;
        const std::uint64_t sizeLength = p - 4;
        const auto crc = crc32Of(bytes, at + 4, sizeLength + *headerSize);
        if (!crc) return CheckOutcome::undecided();
        if (*crc != storedCrc) return broken;
        const Bytes header = bytes.view(at + 4 + sizeLength, 32);
        std::size_t q = 0;
        const auto type = vint(header, q);
        const auto flags = vint(header, q);
        if (!type || !flags || (first && *type != 1) || *type == 0 || *type > 5) return broken;
        if (*flags & 1) {
            if (!vint(header, q)) return broken;
        }
        std::uint64_t data = 0;
        if (*flags & 2) {
            const auto size = vint(header, q);
            if (!size) return broken;
            data = *size;
        }
        const std::uint64_t next = at + 4 + sizeLength + *headerSize;
        if (data > bytes.limit() - std::min(bytes.limit(), next)) return CheckOutcome::undecided();
        at = next + data;
        if (*type == 5) return CheckOutcome::confirmed(at);
    }
}

}  // namespace

CheckOutcome checkRar(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 8);
    if (head.empty() || !hasSignature(head, 0, "Rar!\x1a\x07")) return CheckOutcome::rejected();
    if (head[6] == 0x00) return checkRar4(bytes);
    if (head[6] == 0x01 && head[7] == 0x00) return checkRar5(bytes);
    return CheckOutcome::rejected();
}

}  // namespace halvard::formats
