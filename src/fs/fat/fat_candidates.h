#pragma once
// The tests the advanced roads put to raw bytes when the boot sector or the directory tree cannot be trusted:
// where a FAT copy or an exFAT cluster heap begins, and which 32-byte directory slots (FAT) or entry sets (exFAT)
// look like entries a file system wrote.
#include <cstdint>

#include "common/bytes.h"

namespace halvard {

// 512-byte steps at which a FAT copy begins: entries 0 and 1 as a formatting tool writes them for media 0xF8.
// FAT32 keeps only the low 28 bits of each entry, and tools differ in the top four bits of entry 1 (0xFFFFFFFF
// or 0x0FFFFFFF): both are taken.
bool isFat32TableStart(Bytes step);
bool isFat16TableStart(Bytes step);  // F8 FF FF FF
bool isExfatTableStart(Bytes step);  // 0xFFFFFFF8, 0xFFFFFFFF
// The allocation bitmap, first thing of the cluster heap, with its first 64 clusters in use.
bool isExfatHeapStart(Bytes step);

enum class SlotKind { None, LongName, Directory, File };

// Whether a slot's DOS time stamps (creation, last access, last write) are ones a file system writes. FAT32 also
// wants the creation and write times non-zero.
bool validDosStamps(Bytes slot, bool fat32);
// What a slot of a FAT32 or FAT12/16 volume is taken for; `clusterLimit` bounds its first cluster.
SlotKind fat32SlotKind(Bytes slot, std::uint64_t clusterLimit);
SlotKind fat16SlotKind(Bytes slot, std::uint64_t clusterLimit);
// A FAT32 root directory's own slots: the volume label, or the recycle-bin folder.
bool isFat32RootMarker(Bytes slot);
// The first cluster a directory's "." slot names when `slots` begins with a "." slot followed by "..", else 0.
std::uint32_t dotSlotCluster(Bytes slots);

// exFAT: whether `bytes` holds, at `offset`, a file entry that begins a whole entry set (file entry, stream
// extension, as many name entries as the name needs).
bool isExfatSetStart(Bytes bytes, std::uint64_t offset);
// A volume label entry.
bool isExfatLabel(Bytes entry);
// File entry attributes that mark a directory on the advanced road.
bool isExfatCandidateDirectory(std::uint16_t attributes);

}  // namespace halvard
