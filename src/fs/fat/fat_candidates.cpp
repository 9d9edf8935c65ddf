#include "fs/fat/fat_candidates.h"

namespace halvard {

namespace {

bool inRange(std::uint8_t c, std::uint8_t low, std::uint8_t high) { return c >= low && c <= high; }
bool digit(std::uint8_t c) { return inRange(c, '0', '9'); }
// Letters, digits and the few signs short names begin with, in three strengths.
bool classL1(std::uint8_t c) { return inRange(c, 0x41, 0x5B) || inRange(c, 0x5F, 0x7A) || digit(c); }
bool classL2(std::uint8_t c) { return inRange(c, 0x41, 0x5B) || inRange(c, 0x61, 0x7A) || digit(c); }
bool classL3(std::uint8_t c) { return inRange(c, 0x41, 0x5A) || inRange(c, 0x61, 0x7A) || digit(c); }
bool oneOf(std::uint8_t c, std::initializer_list<std::uint8_t> set) {
    for (std::uint8_t s : set)
        if (c == s) return true;
    return false;
}

bool validDate(std::uint16_t date) {
    const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F;
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}
bool validTime(std::uint16_t time) { return (time >> 11) < 24 && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30; }

std::uint32_t slotCluster(Bytes slot) { return static_cast<std::uint32_t>(le16(slot, 20)) << 16 | le16(slot, 26); }
bool clusterInside(std::uint32_t c, std::uint64_t limit) { return c > 0 && c < limit; }

constexpr std::uint8_t kDeleted = 0xE5;

}  // namespace

bool isFat32TableStart(Bytes step) {
    return le32(step, 0) == 0x0FFFFFF8 && (le32(step, 4) & 0x0FFFFFFF) == 0x0FFFFFFF;
}

bool isFat16TableStart(Bytes step) { return le32(step, 0) == 0xFFFFFFF8; }

bool isExfatTableStart(Bytes step) { return le32(step, 0) == 0xFFFFFFF8 && le32(step, 4) == 0xFFFFFFFF; }

bool isExfatHeapStart(Bytes step) { return fits(step, 0, 8) && le64(step, 0) == ~0ULL; }

bool validDosStamps(Bytes slot, bool fat32) {
    const std::uint16_t createTime = le16(slot, 14), createDate = le16(slot, 16), accessDate = le16(slot, 18);
    const std::uint16_t writeTime = le16(slot, 22), writeDate = le16(slot, 24);
    // The tenths byte counts 10 ms units of two seconds; tools that keep no finer time write 0.
    if (u8(slot, 13) >= 200) return false;
    if (fat32 && (createTime == 0 || writeTime == 0)) return false;
    return validDate(createDate) && validDate(accessDate) && validDate(writeDate) && validTime(createTime) &&
           validTime(writeTime);
}

SlotKind fat32SlotKind(Bytes slot, std::uint64_t clusterLimit) {
    if (!fits(slot, 0, 32)) return SlotKind::None;
    const std::uint8_t first = slot[0], second = slot[1], attributes = slot[11];
    if (attributes == 0x0F) {
        const bool secondOk = classL1(second) || oneOf(second, {' ', '~', ',', '.', ')', kDeleted});
        return secondOk && slot[12] == 0 && slot[26] == 0 ? SlotKind::LongName : SlotKind::None;
    }
    const std::uint32_t cluster = slotCluster(slot);
    if (oneOf(attributes, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30})) {
        const bool ok = (classL1(first) || oneOf(first, {kDeleted, '~', '$'})) &&
                        (classL1(second) || oneOf(second, {' ', '~', '.', ')', kDeleted})) &&
                        clusterInside(cluster, clusterLimit) && validDosStamps(slot, true) &&
                        (first == kDeleted || le32(slot, 28) == 0);
        return ok ? SlotKind::Directory : SlotKind::None;
    }
    if (attributes == 0x20) {
        const bool ok = (classL1(first) || oneOf(first, {kDeleted, '~'})) &&
                        (classL1(second) || oneOf(second, {' ', '~', '.', kDeleted})) && oneOf(slot[12], {0, 0x18}) &&
                        clusterInside(cluster, clusterLimit) && le32(slot, 28) != 0 && validDosStamps(slot, true);
        return ok ? SlotKind::File : SlotKind::None;
    }
    return SlotKind::None;
}

SlotKind fat16SlotKind(Bytes slot, std::uint64_t clusterLimit) {
    if (!fits(slot, 0, 32)) return SlotKind::None;
    const std::uint8_t first = slot[0], second = slot[1], attributes = slot[11];
    const bool deleted = first == kDeleted;
    if (attributes == 0x0F) {
        const bool secondOk = classL2(second) || oneOf(second, {' ', ')', '.', '~', kDeleted}) || (!deleted && second == '_');
        return secondOk && slot[12] == 0 && slot[26] == 0 ? SlotKind::LongName : SlotKind::None;
    }
    const std::uint32_t cluster = slotCluster(slot);
    const bool secondOk = classL2(second) || oneOf(second, {' ', ')', '.', '~', kDeleted});
    if (oneOf(attributes, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30})) {
        bool ok = (classL2(first) || oneOf(first, {'$', '~', kDeleted})) && secondOk && validDosStamps(slot, false);
        if (!deleted) ok = ok && le32(slot, 28) == 0 && clusterInside(cluster, clusterLimit);
        return ok ? SlotKind::Directory : SlotKind::None;
    }
    if (attributes == 0x20 || attributes == 0x26) {
        const bool ok = (classL2(first) || oneOf(first, {kDeleted, '~'})) && secondOk && oneOf(slot[12], {0, 0x18}) &&
                        cluster < clusterLimit && validDosStamps(slot, false);
        return ok ? SlotKind::File : SlotKind::None;
    }
    return SlotKind::None;
}

bool isFat32RootMarker(Bytes slot) {
    if (!fits(slot, 0, 32)) return false;
    const bool label = slot[11] == 0x08;
    const bool recycle = hasSignature(slot, 1, "RECYCLE");
    if (!label && !recycle) return false;
    return (classL3(slot[0]) || oneOf(slot[0], {kDeleted, '~', '$'})) &&
           (classL3(slot[1]) || oneOf(slot[1], {' ', '~', '.', ')', kDeleted})) && oneOf(slot[12], {0, 0x18}) &&
           slot[28] == 0;
}

std::uint32_t dotSlotCluster(Bytes slots) {
    if (!fits(slots, 0, 64)) return 0;
    static constexpr char kDot[] = ".          ";
    static constexpr char kDotDot[] = "..         ";
    if (!hasSignature(slots, 0, kDot) || !hasSignature(slots, 32, kDotDot)) return 0;
    if ((slots[11] & 0x10) == 0 || (slots[43] & 0x10) == 0) return 0;
    return slotCluster(slots);
}

bool isExfatCandidateDirectory(std::uint16_t attributes) {
    return oneOf(static_cast<std::uint8_t>(attributes), {0x10, 0x11, 0x12, 0x13, 0x15, 0x30});
}

bool isExfatSetStart(Bytes bytes, std::uint64_t offset) {
    const Bytes file = slice(bytes, offset, 32);
    const Bytes stream = slice(bytes, offset + 32, 32);
    if (file.empty() || stream.empty()) return false;
    if (!oneOf(file[0], {0x85, 0x05})) return false;
    if (!oneOf(file[4], {0x10, 0x11, 0x12, 0x13, 0x15, 0x20, 0x30}) || le16(file, 6) != 0) return false;
    for (std::size_t i = 25; i < 32; ++i)
        if (file[i] != 0) return false;
    if (!oneOf(stream[0], {0xC0, 0x40}) || stream[2] != 0 || le16(stream, 6) != 0 || le32(stream, 16) != 0 ||
        !oneOf(stream[1], {1, 3}))
        return false;
    const std::size_t expected = (stream[3] + 14u) / 15u;
    if (expected == 0) return false;
    for (std::size_t k = 0; k < expected; ++k) {
        const Bytes name = slice(bytes, offset + 64 + 32 * k, 32);
        if (name.empty() || !oneOf(name[0], {0xC1, 0x41}) || name[1] > 3) return false;
    }
    return true;
}

bool isExfatLabel(Bytes entry) {
    if (!fits(entry, 0, 32) || entry[0] != 0x83) return false;
    for (std::size_t i = 24; i < 32; ++i)
        if (entry[i] != 0) return false;
    return true;
}

}  // namespace halvard
