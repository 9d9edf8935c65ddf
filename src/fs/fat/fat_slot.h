#pragma once
// A 32-byte FAT directory slot as both FAT roads read it: its fields, the run of long-name slots in front of a
// short slot, and the name the pair gives.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "fs/fat/fat_engine.h"

namespace halvard::fat_slot {

inline constexpr std::size_t kSlot = 32;
// A FAT directory holds at most 65,536 slots; a longer chain is damage (or a file's chain).
inline constexpr std::uint64_t kMaxDirectoryBytes = 65536 * kSlot;
// A long name has at most 255 characters: 20 slots of 13.
inline constexpr std::size_t kMaxLongNameSlots = 20;
inline constexpr std::uint8_t kLongNameAttribute = 0x0F;

FatEntry slotFields(Bytes slot);

inline bool isVolumeLabel(std::uint8_t attributes) { return (attributes & 0x08) != 0 && (attributes & 0x10) == 0; }

// A run of long-name slots, kept until the short slot it belongs to.
struct LongName {
    std::vector<std::vector<std::uint16_t>> parts;  // in disk order: the end of the name first
    bool deleted = false;
    std::uint8_t checksum = 0;

    void add(Bytes slot);
    std::string text() const;
    void clear() { parts.clear(); }
};

// Gives `e`, read from the short slot `slot`, its name and deletion mark: the long name when it belongs to the
// slot (a live name must carry the slot's checksum; a name left over from an earlier entry does not), else the
// short name.
void nameEntry(FatEntry& e, Bytes slot, const LongName& longName);

}  // namespace halvard::fat_slot
