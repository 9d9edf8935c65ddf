// BMP: the file header's size counts the whole file; the info header must be one of the known sizes, its
// geometry believable, and the pixel array must fit between the data offset and the file's end.
#include <cstdlib>

#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

bool knownInfoHeader(std::uint32_t size) {
    return size == 12 || size == 16 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
           size == 124;
}

bool knownDepth(std::uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

}  // namespace

CheckOutcome checkBmp(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 54);
    const Bytes small = head.empty() ? exactly(bytes, 0, 26) : head;
    if (small.empty() || !hasSignature(small, 0, "BM")) return CheckOutcome::rejected();
    const std::uint64_t fileSize = le32(small, 2);
    const std::uint64_t dataOffset = le32(small, 10);
    const std::uint32_t infoSize = le32(small, 14);
    if (!knownInfoHeader(infoSize) || dataOffset < 14 + std::uint64_t{infoSize} || dataOffset > fileSize)
        return CheckOutcome::rejected();
    std::uint64_t width = 0, height = 0;
    std::uint16_t planes = 0, bits = 0;
    std::uint32_t compression = 0;
    if (infoSize == 12) {
        width = le16(small, 18);
        height = le16(small, 20);
        planes = le16(small, 22);
        bits = le16(small, 24);
    } else {
        if (head.empty()) return CheckOutcome::undecided();
        const auto signedWidth = static_cast<std::int32_t>(le32(head, 18));
        const auto signedHeight = static_cast<std::int32_t>(le32(head, 22));
        if (signedWidth <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) return CheckOutcome::rejected();
        width = static_cast<std::uint64_t>(signedWidth);
        height = static_cast<std::uint64_t>(std::abs(signedHeight));
        planes = le16(head, 26);
        bits = le16(head, 28);
        compression = le32(head, 30);
    }
    if (width == 0 || height == 0 || planes != 1 || !knownDepth(bits) || compression > 13)
        return CheckOutcome::rejected();
    // Uncompressed rows are padded to 4 bytes; compressed ones only need some room.
    if (compression == 0 || compression == 3 || compression == 6) {
        const std::uint64_t row = (width * bits + 31) / 32 * 4;
        if (height > (fileSize - dataOffset) / row) return CheckOutcome::rejected();
    }
    return CheckOutcome::confirmed(fileSize);
}

}  // namespace halvard::formats
