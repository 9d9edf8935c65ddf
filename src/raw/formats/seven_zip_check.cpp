// 7z: the signature header names the end header by offset and size and guards both with CRCs; the archive ends
// with that header.
#include "raw/formats/crc32.h"
#include "raw/formats/format_checks.h"

namespace halvard::formats {

CheckOutcome checkSevenZip(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 32);
    if (head.empty() || !hasSignature(head, 0, "7z\xBC\xAF\x27\x1C") || head[6] != 0 ||
        crc32(head.subspan(12, 20)) != le32(head, 8))
        return CheckOutcome::rejected();
    const std::uint64_t offset = le64(head, 12);
    const std::uint64_t size = le64(head, 20);
    const std::uint32_t storedCrc = le32(head, 28);
    // An archive whose writer never finished has zeros here.
    if (size == 0 || offset > bytes.limit() || size > bytes.limit() - offset || 32 + offset + size > bytes.limit())
        return CheckOutcome::undecided();
    const auto crc = crc32Of(bytes, 32 + offset, size);
    if (!crc || *crc != storedCrc) return CheckOutcome::undecided();
    return CheckOutcome::confirmed(32 + offset + size);
}

}  // namespace halvard::formats
