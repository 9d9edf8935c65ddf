#include "support/vdi_builder.h"

#include <cstring>
#include <stdexcept>

#include "support/vhdx_builder.h"

namespace halvard::testing {

namespace {

std::uint64_t blocksOf(const VdiSpec& spec) { return (spec.virtualSize + spec.blockSize - 1) / spec.blockSize; }

std::set<std::uint64_t> storedBlocks(const VdiSpec& spec) {
    if (spec.imageType != 2) return spec.allocatedBlocks;
    std::set<std::uint64_t> all;
    for (std::uint64_t b = 0; b < blocksOf(spec); ++b) all.insert(b);
    return all;
}

}  // namespace

std::vector<std::uint8_t> buildVdi(const VdiSpec& spec) {
    const std::uint64_t blocks = blocksOf(spec);
    const auto stored = storedBlocks(spec);
    const std::uint64_t mapEnd = spec.blockMapOffset + blocks * 4;
    const std::uint64_t dataOffset = spec.dataOffset ? spec.dataOffset : (mapEnd + 511) / 512 * 512;
    const std::uint64_t stride = static_cast<std::uint64_t>(spec.blockSize) + spec.blockExtra;
    std::vector<std::uint8_t> f(dataOffset + stored.size() * stride, 0);

    const char text[] = "<<< Test Virtual Disk Image >>>\n";
    std::memcpy(f.data(), text, sizeof text - 1);
    putLe32(f, 64, 0xBEDA107F);
    putLe32(f, 68, spec.version);
    putLe32(f, 72, 400);
    putLe32(f, 76, spec.imageType);
    putLe32(f, 340, spec.blockMapOffset);
    putLe32(f, 344, static_cast<std::uint32_t>(dataOffset));
    putLe32(f, 360, 512);
    putLe64(f, 368, spec.virtualSize);
    putLe32(f, 376, spec.blockSize);
    putLe32(f, 380, spec.blockExtra);
    putLe32(f, 384, static_cast<std::uint32_t>(blocks));
    putLe32(f, 388, spec.allocatedField == 0xFFFFFFFF ? static_cast<std::uint32_t>(stored.size()) : spec.allocatedField);
    auto putUuid = [&f](std::size_t at, std::uint8_t seed) {
        for (int i = 0; seed && i < 16; ++i) f[at + i] = static_cast<std::uint8_t>(seed + i);
    };
    putUuid(392, spec.uuidSeed);
    putUuid(408, spec.modificationSeed);
    if (spec.imageType == 4) {
        putUuid(424, spec.parentSeed);
        putUuid(440, spec.parentModificationSeed);
    }

    for (std::uint64_t b = 0; b < blocks; ++b)
        putLe32(f, spec.blockMapOffset + 4 * b, spec.zeroBlocks.count(b) ? 0xFFFFFFFE : 0xFFFFFFFF);
    // A fixed image stores its blocks in order; a dynamic one here last block first.
    std::uint32_t index = 0;
    auto place = [&](std::uint64_t block) {
        if (block >= blocks) throw std::invalid_argument("allocated block beyond the disk");
        putLe32(f, spec.blockMapOffset + 4 * block, index);
        const std::uint64_t at = dataOffset + index * stride;
        std::memset(f.data() + at, 0xEE, spec.blockExtra);
        for (std::uint64_t i = 0; i < spec.blockSize; ++i)
            f[at + spec.blockExtra + i] = patternByte(block * spec.blockSize + i);
        ++index;
    };
    if (spec.imageType == 2)
        for (std::uint64_t block : stored) place(block);
    else
        for (auto it = stored.rbegin(); it != stored.rend(); ++it) place(*it);
    return f;
}

std::vector<std::uint8_t> expectedVdiDisk(const VdiSpec& spec) {
    const auto stored = storedBlocks(spec);
    std::vector<std::uint8_t> disk(spec.virtualSize, 0);
    for (std::uint64_t i = 0; i < disk.size(); ++i)
        if (stored.count(i / spec.blockSize)) disk[i] = patternByte(i);
    return disk;
}

}  // namespace halvard::testing
