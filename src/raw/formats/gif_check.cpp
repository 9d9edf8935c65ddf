// GIF: the header and logical screen (with its global colour table), then blocks: extensions and images, each
// ending in a chain of data sub-blocks, up to the trailer (3B).
#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

// Skips a chain of data sub-blocks (a length byte, that many bytes) up to its zero terminator; the offset after
// it, or nullopt when the candidate ends first.
std::optional<std::uint64_t> skipSubBlocks(CandidateBytes& bytes, std::uint64_t at) {
    for (;;) {
        const Bytes size = exactly(bytes, at, 1);
        if (size.empty()) return std::nullopt;
        at += 1 + std::uint64_t{size[0]};
        if (size[0] == 0) return at;
    }
}

std::uint64_t colourTableBytes(std::uint8_t packed) {
    return (packed & 0x80) ? 3ULL << ((packed & 0x07) + 1) : 0;
}

}  // namespace

CheckOutcome checkGif(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 13);
    if (head.empty() || !(hasSignature(head, 0, "GIF87a") || hasSignature(head, 0, "GIF89a")) ||
        le16(head, 6) == 0 || le16(head, 8) == 0)
        return CheckOutcome::rejected();
    std::uint64_t at = 13 + colourTableBytes(head[10]);
    for (int blocks = 0;; ++blocks) {
        const CheckOutcome broken = blocks == 0 ? CheckOutcome::rejected() : CheckOutcome::undecided();
        const Bytes introducer = exactly(bytes, at, 1);
        if (introducer.empty()) return CheckOutcome::undecided();
        std::optional<std::uint64_t> next;
        switch (introducer[0]) {
            case 0x3B: return blocks > 0 ? CheckOutcome::confirmed(at + 1) : CheckOutcome::rejected();
            case 0x21: next = skipSubBlocks(bytes, at + 2); break;
            case 0x2C: {
                const Bytes descriptor = exactly(bytes, at, 10);
                if (descriptor.empty()) return CheckOutcome::undecided();
                const std::uint64_t table = colourTableBytes(descriptor[9]);
                const Bytes codeSize = exactly(bytes, at + 10 + table, 1);
                if (codeSize.empty()) return CheckOutcome::undecided();
                if (codeSize[0] < 1 || codeSize[0] > 11) return broken;
                next = skipSubBlocks(bytes, at + 11 + table);
                break;
            }
            default: return broken;
        }
        if (!next) return CheckOutcome::undecided();
        at = *next;
    }
}

}  // namespace halvard::formats
