// SQLite: the header's fixed fields, then page size times page count. The count is trusted only when the
// header says it is current (the version-valid-for number equals the change counter).
#include "raw/formats/format_checks.h"

#include <bit>

namespace halvard::formats {

CheckOutcome checkSqlite(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 100);
    if (head.empty() || !hasSignature(head, 0, std::string_view("SQLite format 3\0", 16)))
        return CheckOutcome::rejected();
    const std::uint32_t stored = be16(head, 16);
    const std::uint64_t pageSize = stored == 1 ? 65536 : stored;
    const bool powerOfTwo = pageSize >= 512 && pageSize <= 65536 && std::has_single_bit(pageSize);
    if (!powerOfTwo || head[18] < 1 || head[18] > 2 || head[19] < 1 || head[19] > 2 || head[21] != 64 ||
        head[22] != 32 || head[23] != 32)
        return CheckOutcome::rejected();
    const std::uint64_t pages = be32(head, 28);
    if (pages == 0 || be32(head, 92) != be32(head, 24)) return CheckOutcome::undecided();
    return CheckOutcome::confirmed(pageSize * pages);
}

}  // namespace halvard::formats
