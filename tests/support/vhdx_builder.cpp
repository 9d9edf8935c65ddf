#include "support/vhdx_builder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "image/guid.h"
#include "image/vhdx_format.h"
#include "support/put_bytes.h"

namespace halvard::testing {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kMetadataRegion = 2 * kMiB;
constexpr std::uint64_t kBatRegion = 3 * kMiB;

void putGuid(std::vector<std::uint8_t>& b, std::uint64_t at, const Guid& g) {
    std::memcpy(b.data() + at, g.bytes.data(), 16);
}
Guid unknownGuid(std::uint8_t seed) {
    Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(0xA0 + seed + i);
    return g;
}

std::uint64_t payloadBlocks(const VhdxSpec& spec) { return (spec.virtualSize + spec.blockSize - 1) / spec.blockSize; }

// The listed blocks and those the overlays touch.
std::set<std::uint64_t> storedBlocks(const VhdxSpec& spec) {
    std::set<std::uint64_t> blocks = spec.allocatedBlocks;
    for (const auto& [offset, bytes] : spec.overlays) {
        if (bytes.empty()) continue;
        if (offset + bytes.size() > spec.virtualSize) throw std::invalid_argument("overlay beyond the disk");
        for (std::uint64_t b = offset / spec.blockSize; b <= (offset + bytes.size() - 1) / spec.blockSize; ++b)
            blocks.insert(b);
    }
    return blocks;
}

// Content of the stored block `block`: the pattern, with the overlays that reach into it on top.
void fillBlock(const VhdxSpec& spec, std::uint64_t block, std::uint8_t* out) {
    const std::uint64_t first = block * spec.blockSize;
    for (std::uint64_t i = 0; i < spec.blockSize; ++i) out[i] = patternByte(first + i);
    for (const auto& [offset, bytes] : spec.overlays)
        for (std::uint64_t i = 0; i < bytes.size(); ++i)
            if (offset + i >= first && offset + i < first + spec.blockSize) out[offset + i - first] = bytes[i];
}

}  // namespace

std::uint8_t patternByte(std::uint64_t offset) {
    const std::uint64_t sector = offset / 512;
    return static_cast<std::uint8_t>((sector * 31 + (offset % 512) * 7 + 1) & 0xFF);
}

std::vector<std::uint8_t> buildVhdx(const VhdxSpec& spec) {
    const std::uint64_t blocks = payloadBlocks(spec);
    const std::uint64_t ratio = vhdx::chunkRatio(spec.logicalSectorSize, spec.blockSize);
    const std::uint64_t batEntries = blocks + (ratio ? (blocks - 1) / ratio : 0) + 1;
    const std::uint64_t batLength = ((batEntries * 8 + kMiB - 1) / kMiB) * kMiB;
    const std::uint64_t payloadStart = kBatRegion + batLength;
    const std::set<std::uint64_t> stored = storedBlocks(spec);
    const std::uint64_t fileSize = payloadStart + stored.size() * spec.blockSize;
    std::vector<std::uint8_t> f(fileSize, 0);

    putText(f, 0, "vhdxfile");
    for (int h = 0; h < 2; ++h) {
        const std::uint64_t at = h == 0 ? vhdx::kHeader1Offset : vhdx::kHeader2Offset;
        putText(f, at, "head");
        putLe64(f, at + 8, static_cast<std::uint64_t>(h + 1));
        putLe16(f, at + 66, spec.version);
        putLe32(f, at + 68, static_cast<std::uint32_t>(kMiB));
        putLe64(f, at + 72, kMiB);
    }

    // Region table, and its copy.
    for (int copy = 0; copy < 2; ++copy) {
        const std::uint64_t at = copy == 0 ? vhdx::kRegionTable1Offset : vhdx::kRegionTable2Offset;
        putText(f, at, "regi");
        putLe32(f, at + 8, spec.regionEntryCount);
        struct Region {
            Guid guid;
            std::uint64_t offset, length;
        };
        Region bat{spec.withGuids ? vhdx::kBatRegion : unknownGuid(1), kBatRegion, batLength};
        Region meta{spec.withGuids ? vhdx::kMetadataRegion : unknownGuid(2), kMetadataRegion, kMiB};
        const Region order[2] = {spec.metadataRegionFirst ? meta : bat, spec.metadataRegionFirst ? bat : meta};
        for (std::uint32_t i = 0; i < 2 && i < spec.regionEntryCount; ++i) {
            putGuid(f, at + 16 + 32 * i, order[i].guid);
            putLe64(f, at + 16 + 32 * i + 16, order[i].offset);
            putLe32(f, at + 16 + 32 * i + 24, static_cast<std::uint32_t>(order[i].length));
            putLe32(f, at + 16 + 32 * i + 28, 1);
        }
    }
    if (spec.damagePrimaryRegionTable) putText(f, vhdx::kRegionTable1Offset, "junk");

    // Metadata table and items.
    struct Item {
        Guid guid;
        std::vector<std::uint8_t> value;
    };
    std::vector<std::uint8_t> params(8, 0), size(8, 0), page83(16, 0x55), logical(4, 0), physical(4, 0);
    putLe32(params, 0, spec.blockSize);
    putLe32(params, 4, spec.hasParent ? 2u : 0u);
    putLe64(size, 0, spec.virtualSize);
    putLe32(logical, 0, spec.logicalSectorSize);
    putLe32(physical, 0, spec.physicalSectorSize);
    auto g = [&](const Guid& known, std::uint8_t seed) { return spec.withGuids ? known : unknownGuid(seed); };
    std::vector<Item> items;
    items.push_back({g(vhdx::kFileParameters, 10), params});
    items.push_back({g(vhdx::kVirtualDiskSize, 11), size});
    if (spec.page83BeforeSectorSize) items.push_back({Guid::fromText("BECA12AB-B2E6-4523-93EF-C309E000C746"), page83});
    items.push_back({g(vhdx::kLogicalSectorSize, 12), logical});
    items.push_back({g(vhdx::kPhysicalSectorSize, 13), physical});
    putText(f, kMetadataRegion, "metadata");
    putLe16(f, kMetadataRegion + 10, static_cast<std::uint16_t>(items.size()));
    std::uint64_t valueAt = 64 * 1024;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint64_t e = kMetadataRegion + 32 + 32 * i;
        putGuid(f, e, items[i].guid);
        putLe32(f, e + 16, static_cast<std::uint32_t>(valueAt));
        putLe32(f, e + 20, static_cast<std::uint32_t>(items[i].value.size()));
        std::memcpy(f.data() + kMetadataRegion + valueAt, items[i].value.data(), items[i].value.size());
        valueAt += 4096;
    }

    // BAT and payload.
    std::uint64_t nextPayload = payloadStart;
    for (std::uint64_t block : stored) {
        if (block >= blocks) throw std::invalid_argument("allocated block beyond the disk");
        const std::uint64_t entryIndex = block + (ratio ? block / ratio : 0);
        putLe64(f, kBatRegion + 8 * entryIndex, ((nextPayload / kMiB) << 20) | 6);
        fillBlock(spec, block, f.data() + nextPayload);
        nextPayload += spec.blockSize;
    }
    if (spec.payloadPastEnd) f.resize(f.size() - std::min<std::uint64_t>(spec.payloadPastEnd, f.size()));
    return f;
}

std::vector<std::uint8_t> expectedDisk(const VhdxSpec& spec) {
    std::vector<std::uint8_t> disk(spec.virtualSize, 0);
    std::vector<std::uint8_t> content(spec.blockSize);
    for (std::uint64_t block : storedBlocks(spec)) {
        fillBlock(spec, block, content.data());
        for (std::uint64_t i = 0; i < spec.blockSize && block * spec.blockSize + i < spec.virtualSize; ++i)
            disk[block * spec.blockSize + i] = content[i];
    }
    return disk;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvard-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace halvard::testing
