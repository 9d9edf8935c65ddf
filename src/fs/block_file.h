#pragma once
// Writing a file whose content is a list of block runs (ext2/3 block maps and extents, HFS+ fork extents) to the
// host: holes as zeros, blocks outside the volume as zeros and the file marked damaged, cut at its logical size.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/volume_reader.h"

namespace halvard {

// Logical blocks [logical, logical + count) of a file lie at physical blocks from `physical` on. Blocks that no
// run covers are holes. `unwritten`: allocated but never written, reads as zeros.
struct BlockRun {
    std::uint64_t logical = 0;
    std::uint64_t physical = 0;
    std::uint64_t count = 0;
    bool unwritten = false;
};
using BlockList = std::vector<BlockRun>;

struct BlockFile {
    BlockList runs;                  // in logical order
    std::uint64_t blockSize = 0;
    std::uint64_t firstBlockOffset = 0;  // volume offset of block 0
    std::uint64_t size = 0;          // bytes to write
    std::uint64_t volumeBlocks = 0;  // blocks from this one on lie outside the volume
    // Seconds since 1970 to set as the host file's access and modification times.
    std::optional<std::int64_t> accessTime, modifyTime;
};

// The outcome of writing one file, as the engines report it.
struct SaveOutcome {
    bool written = false;    // created and written as far as it could be read
    bool damaged = false;    // parts could not be read and were written as zeros, or the file was cut
    std::uint64_t bytes = 0;
    std::string error;
    bool diskFull = false;
    bool uninitializedZeros = false;  // written up to its initialized size, zeros after it
};

SaveOutcome writeBlockFile(const VolumeReader& reader, const BlockFile& file, const std::string& hostPath);

// Writes `content` as the whole file (short content kept in metadata, such as a link's target).
SaveOutcome writeSmallFile(const std::string& content, const std::string& hostPath,
                           std::optional<std::int64_t> accessTime, std::optional<std::int64_t> modifyTime);

// Creates a symbolic link to `target` (kept as it is: nothing is written through it) with the link's own times.
SaveOutcome writeHostSymlink(const std::string& target, const std::string& hostPath, std::int64_t accessTime,
                             std::int64_t modifyTime);

}  // namespace halvard
