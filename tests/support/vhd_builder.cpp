#include "support/vhd_builder.h"

#include <cstring>
#include <stdexcept>

#include "support/vhdx_builder.h"

namespace halvard::testing {

namespace {

std::uint64_t blocksOf(const VhdSpec& spec) { return (spec.virtualSize + spec.blockSize - 1) / spec.blockSize; }

std::uint64_t bitmapSize(std::uint32_t blockSize) { return ((blockSize / 512 + 7) / 8 + 511) / 512 * 512; }

std::vector<std::uint8_t> footer(const VhdSpec& spec) {
    std::vector<std::uint8_t> f(512, 0);
    std::memcpy(f.data(), "conectix", 8);
    putBe32(f, 8, 2);
    putBe32(f, 12, 0x00010000);
    putBe64(f, 16, spec.fixed ? ~0ULL : 512);
    putBe32(f, 24, 0x2A000000);
    for (std::size_t i = 0; i < 4 && i < spec.creator.size(); ++i) f[28 + i] = static_cast<std::uint8_t>(spec.creator[i]);
    putBe64(f, 40, spec.virtualSize);
    putBe64(f, 48, spec.virtualSize);
    // Geometry that does not cover the size, as for most real sizes.
    f[56] = 0x01;
    f[57] = 0x00;
    f[58] = 16;
    f[59] = 63;
    putBe32(f, 60, spec.fixed ? 2 : spec.differencing ? 4 : 3);
    for (int i = 0; i < 16; ++i) f[68 + i] = static_cast<std::uint8_t>(spec.uniqueIdSeed + i);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < f.size(); ++i) sum += f[i];
    putBe32(f, 64, ~sum);
    return f;
}

}  // namespace

std::vector<std::uint8_t> buildVhd(const VhdSpec& spec) {
    const auto foot = footer(spec);
    if (spec.fixed) {
        std::vector<std::uint8_t> f(spec.virtualSize);
        for (std::uint64_t i = 0; i < f.size(); ++i) f[i] = patternByte(i);
        f.insert(f.end(), foot.begin(), foot.end() - (spec.oldShortFooter ? 1 : 0));
        return f;
    }
    const std::uint64_t blocks = blocksOf(spec);
    const std::uint32_t entries = spec.maxTableEntries ? spec.maxTableEntries : static_cast<std::uint32_t>(blocks);
    const std::uint64_t tableBytes = (static_cast<std::uint64_t>(entries) * 4 + 511) / 512 * 512;
    const std::uint64_t bitmap = bitmapSize(spec.blockSize);
    // Parent locator paths (UTF-16LE, a sector each) lie between the table and the first block.
    const std::vector<std::pair<std::uint32_t, std::string>> locators = {{0x57327275, spec.parentRelativePath},
                                                                         {0x57326B75, spec.parentAbsolutePath}};
    const std::uint64_t locatorArea = spec.tableOffset + tableBytes;
    const std::uint64_t firstBlock = locatorArea + 512 * locators.size();
    std::vector<std::uint8_t> f(firstBlock + spec.allocatedBlocks.size() * (bitmap + spec.blockSize), 0);
    std::memcpy(f.data(), foot.data(), 512);

    // Dynamic header.
    std::memcpy(f.data() + 512, "cxsparse", 8);
    putBe64(f, 512 + 8, ~0ULL);
    putBe64(f, 512 + 16, spec.tableOffset);
    putBe32(f, 512 + 24, 0x00010000);
    putBe32(f, 512 + 28, entries);
    putBe32(f, 512 + 32, spec.blockSize);
    for (std::size_t i = 0; i < spec.parentName.size() && i < 256; ++i) {
        f[512 + 64 + 2 * i] = 0;
        f[512 + 64 + 2 * i + 1] = static_cast<std::uint8_t>(spec.parentName[i]);
    }
    for (int i = 0; spec.parentUniqueIdSeed && i < 16; ++i) f[512 + 40 + i] = static_cast<std::uint8_t>(spec.parentUniqueIdSeed + i);
    for (std::size_t l = 0, entry = 0; l < locators.size(); ++l) {
        const std::string& path = locators[l].second;
        if (path.empty() || path.size() > 256) continue;
        const std::uint64_t at = locatorArea + 512 * l;
        for (std::size_t i = 0; i < path.size(); ++i) f[at + 2 * i] = static_cast<std::uint8_t>(path[i]);
        const std::uint64_t e = 512 + 576 + 24 * entry++;
        putBe32(f, e, locators[l].first);
        putBe32(f, e + 4, 512);
        putBe32(f, e + 8, static_cast<std::uint32_t>(2 * path.size()));
        putBe64(f, e + 16, at);
    }

    // BAT, and the blocks stored last one first, so that only the table tells where a block is.
    for (std::uint32_t i = 0; i < entries; ++i) putBe32(f, spec.tableOffset + 4ULL * i, 0xFFFFFFFF);
    std::uint64_t at = firstBlock;
    for (auto it = spec.allocatedBlocks.rbegin(); it != spec.allocatedBlocks.rend(); ++it) {
        const std::uint64_t block = *it;
        if (block >= blocks || block >= entries) throw std::invalid_argument("allocated block beyond the table");
        putBe32(f, spec.tableOffset + 4 * block, static_cast<std::uint32_t>(at / 512));
        std::memset(f.data() + at, 0xFF, bitmap);
        for (std::uint64_t i = 0; i < spec.blockSize; ++i) f[at + bitmap + i] = patternByte(block * spec.blockSize + i);
        const std::uint64_t firstSector = block * spec.blockSize / 512;
        for (std::uint64_t sector : spec.parentSectors) {
            if (sector < firstSector || sector >= firstSector + spec.blockSize / 512) continue;
            const std::uint64_t within = sector - firstSector;
            f[at + within / 8] &= static_cast<std::uint8_t>(~(0x80 >> (within % 8)));
            std::memset(f.data() + at + bitmap + within * 512, 0xEE, 512);
        }
        at += bitmap + spec.blockSize;
    }
    f.insert(f.end(), foot.begin(), foot.end());
    return f;
}

std::vector<std::uint8_t> expectedVhdDisk(const VhdSpec& spec) {
    std::vector<std::uint8_t> disk(spec.virtualSize, 0);
    for (std::uint64_t i = 0; i < disk.size(); ++i) {
        const bool stored = spec.fixed || spec.allocatedBlocks.count(i / spec.blockSize);
        if (stored) disk[i] = patternByte(i);
    }
    return disk;
}

}  // namespace halvard::testing
