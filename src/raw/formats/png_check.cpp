// PNG: the signature, IHDR first, then chunks (length, type, data, CRC) up to IEND. Every chunk's CRC is checked,
// so a chunk that starts in the right place by chance is not taken for one.
#include "raw/formats/crc32.h"
#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

constexpr std::uint32_t kLargestChunk = 0x7FFFFFFF;

bool isChunkType(Bytes type) {
    for (const std::uint8_t c : type)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

}  // namespace

CheckOutcome checkPng(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 16);
    if (head.empty() || !hasSignature(head, 0, "\x89PNG\r\n\x1a\n") || be32(head, 8) != 13 ||
        !hasSignature(head, 12, "IHDR"))
        return CheckOutcome::rejected();
    std::uint64_t at = 8;
    for (bool first = true;; first = false) {
        const CheckOutcome broken = first ? CheckOutcome::rejected() : CheckOutcome::undecided();
        const Bytes header = exactly(bytes, at, 8);
        if (header.empty()) return CheckOutcome::undecided();
        const std::uint32_t length = be32(header, 0);
        if (length > kLargestChunk || !isChunkType(header.subspan(4, 4))) return broken;
        const bool end = hasSignature(header, 4, "IEND");
        const auto crc = crc32Of(bytes, at + 4, 4 + std::uint64_t{length});
        const Bytes stored = exactly(bytes, at + 8 + length, 4);
        if (!crc || stored.empty()) return CheckOutcome::undecided();
        if (*crc != be32(stored, 0)) return broken;
        at += 12 + std::uint64_t{length};
        if (end) return CheckOutcome::confirmed(at);
    }
}

}  // namespace halvard::formats
