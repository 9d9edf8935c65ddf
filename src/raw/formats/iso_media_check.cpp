// MP4, MOV, M4A: top-level boxes from the 'ftyp' on (a size of 1 means a 64-bit size follows), as long as the next
// box is one a file holds at its top level. The file is whole when its 'moov' (or movie fragments) is among them.
#include <array>
#include <string_view>

#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

bool topLevelBox(Bytes type) {
    static constexpr std::array<std::string_view, 19> kTypes{"ftyp", "moov", "mdat", "free", "skip", "wide", "udta",
                                                             "uuid", "meta", "pdin", "moof", "mfra", "sidx", "ssix",
                                                             "styp", "emsg", "prft", "pnot", "junk"};
    for (const std::string_view name : kTypes)
        if (hasSignature(type, 0, name)) return true;
    return false;
}

}  // namespace

CheckOutcome checkIsoMedia(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 12);
    if (head.empty() || !hasSignature(head, 4, "ftyp") || be32(head, 0) < 12 || be32(head, 0) > 4096)
        return CheckOutcome::rejected();
    std::uint64_t at = 0;
    bool movie = false;
    for (;;) {
        const Bytes header = exactly(bytes, at, 16);
        const Bytes shortHeader = header.empty() ? exactly(bytes, at, 8) : header;
        if (shortHeader.empty() || !topLevelBox(shortHeader.subspan(4, 4))) break;
        std::uint64_t size = be32(shortHeader, 0);
        if (hasSignature(shortHeader, 4, "moov") || hasSignature(shortHeader, 4, "moof")) movie = true;
        if (size == 1) {
            if (header.empty()) return CheckOutcome::undecided();
            size = be64(header, 8);
            if (size < 16) return CheckOutcome::undecided();
        } else if (size < 8) {
            return CheckOutcome::undecided();  // 0: the box runs to the file's unknown end
        }
        if (size > bytes.limit() - at) return CheckOutcome::undecided();
        at += size;
    }
    return movie ? CheckOutcome::confirmed(at) : CheckOutcome::undecided();
}

}  // namespace halvard::formats
