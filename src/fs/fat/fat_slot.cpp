#include "fs/fat/fat_slot.h"

#include "common/utf16.h"
#include "fs/fat/fat_names.h"

namespace halvard::fat_slot {

FatEntry slotFields(Bytes slot) {
    FatEntry e;
    e.attributes = u8(slot, 11);
    e.createTenths = u8(slot, 13);
    e.createTime = le16(slot, 14);
    e.createDate = le16(slot, 16);
    e.accessDate = le16(slot, 18);
    e.clusterHigh = le16(slot, 20);
    e.writeTime = le16(slot, 22);
    e.writeDate = le16(slot, 24);
    e.clusterLow = le16(slot, 26);
    e.size = le32(slot, 28);
    return e;
}

void LongName::add(Bytes slot) {
    const std::uint8_t first = u8(slot, 0);
    const bool live = first != 0xE5;
    // A live slot with the 0x40 flag opens a name; a run too long for one name starts over.
    if (parts.empty() || (live && (first & 0x40)) || parts.size() >= kMaxLongNameSlots) {
        parts.clear();
        deleted = !live;
        checksum = u8(slot, 13);
    }
    parts.emplace_back();
    appendLongNamePart(slot, parts.back());
}

std::string LongName::text() const {
    std::vector<std::uint16_t> units;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) units.insert(units.end(), it->begin(), it->end());
    return utf16ToUtf8(units);
}

void nameEntry(FatEntry& e, Bytes slot, const LongName& longName) {
    e.deleted = u8(slot, 0) == 0xE5;
    const bool useLong = !longName.parts.empty() &&
                         (longName.deleted || e.deleted || longName.checksum == shortNameChecksum(slot));
    if (useLong) {
        e.name = longName.text();
        e.deleted = e.deleted || longName.deleted;
    } else {
        e.name = shortName(slot);
    }
}

}  // namespace halvard::fat_slot
