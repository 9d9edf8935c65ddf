// ZIP (and the office formats stored in one): a believable first local header, then the end-of-central-directory
// record that belongs to this archive: its central directory must end where the record begins (ZIP64 included)
// and open with the entry of the local header at offset 0. A ZIP stored inside the archive has its own record,
// whose offsets count from the inner archive's start and so do not fit; the search goes on past it.
#include <algorithm>
#include <array>
#include <utility>

#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

constexpr std::uint32_t kNoValue32 = 0xFFFFFFFF;
constexpr std::size_t kEndRecord = 22;

bool believableLocalHeader(CandidateBytes& bytes) {
    const Bytes header = exactly(bytes, 0, 30);
    if (header.empty() || !hasSignature(header, 0, "PK\x03\x04")) return false;
    const std::uint16_t method = le16(header, 8);
    const std::uint16_t nameLength = le16(header, 26);
    const bool knownMethod = method <= 20 || (method >= 93 && method <= 99);
    if (le16(header, 4) > 100 || !knownMethod || nameLength == 0 || nameLength > 1024) return false;
    const Bytes name = exactly(bytes, 30, nameLength);
    if (name.empty()) return false;
    for (const std::uint8_t c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// Where the central directory the ZIP64 records name starts and ends; nullopt when they are not there.
std::optional<std::pair<std::uint64_t, std::uint64_t>> zip64Directory(CandidateBytes& bytes, std::uint64_t record) {
    if (record < 20) return std::nullopt;
    const Bytes locator = exactly(bytes, record - 20, 20);
    if (locator.empty() || !hasSignature(locator, 0, "PK\x06\x07")) return std::nullopt;
    const std::uint64_t at = le64(locator, 8);
    const Bytes end64 = exactly(bytes, at, 56);
    if (end64.empty() || !hasSignature(end64, 0, "PK\x06\x06") || at >= record) return std::nullopt;
    const std::uint64_t size = le64(end64, 40);
    const std::uint64_t offset = le64(end64, 48);
    if (offset > at || size != at - offset) return std::nullopt;
    return std::make_pair(offset, at);
}

// True when the record at `record` closes the archive that starts at the candidate's first byte.
bool closesThisArchive(CandidateBytes& bytes, std::uint64_t record, Bytes fields) {
    std::uint64_t offset = le32(fields, 16);
    const std::uint64_t size = le32(fields, 12);
    if (offset == kNoValue32 || size == kNoValue32 || le16(fields, 10) == 0xFFFF) {
        const auto directory = zip64Directory(bytes, record);
        if (!directory) return false;
        offset = directory->first;
    } else if (le16(fields, 4) != 0 || le16(fields, 6) != 0 || offset + size != record) {
        return false;
    }
    const Bytes first = exactly(bytes, offset, 46);
    if (first.empty() || !hasSignature(first, 0, "PK\x01\x02")) return false;
    const std::uint32_t localOffset = le32(first, 42);
    return localOffset == 0 || localOffset == kNoValue32;
}

}  // namespace

// Where the walk over the local headers (each followed by its data) stopped.
enum class WalkEnd { Directory, UnknownSize, CandidateEnd, Garbage };

WalkEnd walkEntries(CandidateBytes& bytes, std::uint64_t& at) {
    for (;;) {
        const Bytes header = exactly(bytes, at, 30);
        if (header.empty()) return WalkEnd::CandidateEnd;
        if (hasSignature(header, 0, "PK\x01\x02") || hasSignature(header, 0, "PK\x06\x06") ||
            hasSignature(header, 0, "PK\x05\x06"))
            return WalkEnd::Directory;
        if (!hasSignature(header, 0, "PK\x03\x04")) return WalkEnd::Garbage;
        const std::uint32_t packed = le32(header, 18);
        // Sizes in a data descriptor after the data, or in a ZIP64 field: the walk cannot step over the data.
        if (((le16(header, 6) & 0x08) && packed == 0) || packed == kNoValue32) return WalkEnd::UnknownSize;
        at += 30 + std::uint64_t{le16(header, 26)} + le16(header, 28) + packed;
    }
}

CheckOutcome checkZip(CandidateBytes& bytes) {
    if (!believableLocalHeader(bytes)) return CheckOutcome::rejected();
    std::uint64_t from = 0;
    const WalkEnd walk = walkEntries(bytes, from);
    if (walk == WalkEnd::CandidateEnd) return CheckOutcome::undecided();
    from = std::max<std::uint64_t>(from, 30);
    while (const auto record = bytes.find("PK\x05\x06", from, bytes.limit())) {
        const Bytes view = exactly(bytes, *record, kEndRecord);
        if (view.empty()) break;
        // Copied: a view is gone once `bytes` reads again.
        std::array<std::uint8_t, kEndRecord> fields{};
        std::copy(view.begin(), view.end(), fields.begin());
        if (closesThisArchive(bytes, *record, fields))
            return CheckOutcome::confirmed(*record + kEndRecord + le16(fields, 20));
        from = *record + 1;
    }
    // Local headers followed by neither more of them nor a directory: a look-alike, not an archive.
    return walk == WalkEnd::Garbage ? CheckOutcome::rejected() : CheckOutcome::undecided();
}

}  // namespace halvard::formats
