// The ext3/ext4 journal on its own: the input is the journal file (its superblock first, blocks of the size it
// names), read as a history and every copy of the first volume blocks read back.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fs/ext/ext_journal.h"

using namespace halvard::ext_format;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const halvard::Bytes input(data, size);
    std::uint64_t blockSize = halvard::be32(input, 0x0C);
    if (blockSize < 1024 || blockSize > 65536 || (blockSize & (blockSize - 1)) != 0) blockSize = 1024;
    const std::uint64_t count = size / blockSize;
    const ReadJournal read = [&](std::uint64_t block, std::uint64_t offset, std::vector<std::uint8_t>& out) {
        if (block >= count || offset + out.size() > blockSize) return false;
        const halvard::Bytes piece = halvard::slice(input, block * blockSize + offset, out.size());
        std::copy(piece.begin(), piece.end(), out.begin());
        return true;
    };
    Journal journal;
    if (!journal.load(read, count, blockSize)) return 0;
    std::vector<std::uint8_t> content;
    for (std::uint64_t block = 0; block < 4096; ++block) {
        for (const JournalCopy& copy : journal.copies(block)) journal.readCopy(copy, content);
        journal.revokedAt(block);
    }
    return 0;
}
