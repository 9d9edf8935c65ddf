// ext block maps and directory blocks on their own: the input's first 60 bytes are an inode's block area (an
// extent tree root, or the 15 block pointers), the rest blocks of 1024 bytes that index, leaf and indirect nodes
// name by number; each block is also walked as a directory block with its removed records.
#include <cstdint>
#include <vector>

#include "fs/ext/ext_format.h"

using namespace halvard::ext_format;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kBlock = 1024;
    if (size < kBlockArea) return 0;
    Inode inode;
    for (std::size_t i = 0; i < kBlockArea; ++i) inode.blocks[i] = data[i];
    const halvard::Bytes blocks(data + kBlockArea, size - kBlockArea);
    const std::uint64_t count = blocks.size() / kBlock;
    const ReadBlock read = [&](std::uint64_t block, std::vector<std::uint8_t>& out) {
        out.assign(kBlock, 0);
        if (block >= count) return false;
        const halvard::Bytes piece = halvard::slice(blocks, block * kBlock, kBlock);
        out.assign(piece.begin(), piece.end());
        return true;
    };
    for (const std::uint32_t flags : {kInodeFlagExtents, 0u}) {
        inode.flags = flags;
        blocksOfInode(inode, kBlock, 1ULL << 40, read);
    }
    for (std::uint64_t b = 0; b < count && b < 64; ++b) {
        for (const bool fileType : {true, false})
            walkDirectoryBlock(halvard::slice(blocks, b * kBlock, kBlock), fileType, 1u << 20,
                               [](const DirectoryRecord&) {}, true, b == 0);
    }
    return 0;
}
