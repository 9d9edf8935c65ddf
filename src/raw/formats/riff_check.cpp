// RIFF (WAV, AVI): the size field counts the file less its first 8 bytes; the chunks inside must tile it exactly.
// An AVI larger than one RIFF continues in "AVIX" RIFFs that follow it directly.
#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

bool isChunkId(Bytes id) {
    for (const std::uint8_t c : id)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Walks the chunks of a RIFF whose body runs from 12 to `end`: true when they end exactly there.
bool chunksTile(CandidateBytes& bytes, std::uint64_t at, std::uint64_t end, bool& firstBroken) {
    firstBroken = false;
    for (bool first = true; at < end; first = false) {
        const Bytes header = exactly(bytes, at, 8);
        if (header.empty() || !isChunkId(header.subspan(0, 4))) {
            firstBroken = first && !header.empty();
            return false;
        }
        const std::uint64_t size = le32(header, 4);
        at += 8 + size + (size & 1);
    }
    return at == end || at == end + 1;  // a last odd chunk whose pad byte the size leaves out
}

}  // namespace

CheckOutcome checkRiff(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 12);
    if (head.empty() || !hasSignature(head, 0, "RIFF") ||
        !(hasSignature(head, 8, "WAVE") || hasSignature(head, 8, "AVI ")))
        return CheckOutcome::rejected();
    const std::uint64_t size = le32(head, 4);
    if (size < 4 + 8) return CheckOutcome::rejected();
    std::uint64_t end = 8 + size;
    bool firstBroken = false;
    if (!chunksTile(bytes, 12, end, firstBroken))
        return firstBroken ? CheckOutcome::rejected() : CheckOutcome::undecided();
    if (hasSignature(head, 8, "AVI ")) {
        for (;;) {
            const Bytes next = exactly(bytes, end + (end & 1), 12);
            if (next.empty() || !hasSignature(next, 0, "RIFF") || !hasSignature(next, 8, "AVIX")) break;
            const std::uint64_t at = end + (end & 1);
            const std::uint64_t extension = le32(next, 4);
            if (!chunksTile(bytes, at + 12, at + 8 + extension, firstBroken)) return CheckOutcome::undecided();
            end = at + 8 + extension;
        }
    }
    return CheckOutcome::confirmed(end);
}

}  // namespace halvard::formats
