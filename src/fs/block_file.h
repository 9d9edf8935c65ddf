#pragma once
// The content of a file that is a list of block runs (ext2/3 block maps and extents, HFS+ fork extents): holes as
// zeros, blocks outside the volume as zeros and the file marked damaged, cut at its logical size.
#include <cstdint>
#include <memory>
#include <vector>

#include "fs/file_content.h"
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
    std::uint64_t size = 0;          // bytes the file has
    std::uint64_t volumeBlocks = 0;  // blocks from this one on lie outside the volume
};

// The file's layout; `damaged` is set when the map is damaged (it then ends where its made-up zeros would
// outgrow the volume).
ContentLayout blockFileLayout(const BlockFile& file, bool& damaged);

// The file read through `reader`, with the facts to save it by (their `damaged` joined with the layout's).
std::unique_ptr<FileContent> blockFileContent(const VolumeReader& reader, const BlockFile& file, ContentFacts facts);

}  // namespace halvard
