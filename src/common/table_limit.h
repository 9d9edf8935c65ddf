#pragma once
// The memory ceiling for one table read from an image: block maps, grain directories, allocation tables, lists
// of records. A damaged header can claim any size, so a table is held to what its source can hold (the image file,
// the volume) and, whatever that is, to this ceiling; what lies beyond reads as a hole. Real images stay far below
// it: the block map of a 64 TiB VHDX with 32 MiB blocks takes 16 MiB.
#include <cstdint>

namespace halvard {

inline constexpr std::uint64_t kMaxTableBytes = 1ULL << 30;

// How many entries of `entrySize` bytes (as held in memory) a table may have.
inline constexpr std::uint64_t maxTableEntries(std::uint64_t entrySize) { return kMaxTableBytes / entrySize; }

}  // namespace halvard
