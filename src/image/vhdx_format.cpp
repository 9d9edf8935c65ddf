#include "image/vhdx_format.h"

#include <algorithm>
#include <bit>

#include "image/crc32c.h"

namespace halvard::vhdx {

const Guid kBatRegion = Guid::fromText("2DC27766-F623-4200-9D64-115E9BFD4A08");
const Guid kMetadataRegion = Guid::fromText("8B7CA206-4790-4B9A-B8FE-575F050F886E");
const Guid kFileParameters = Guid::fromText("CAA16737-FA36-4D43-B3B6-33F0AA44E76B");
const Guid kVirtualDiskSize = Guid::fromText("2FA54224-CD1B-4876-B211-5DBED83BF4B8");
const Guid kLogicalSectorSize = Guid::fromText("8141BF1D-A96F-4709-BA47-F233A8FAAB5F");
const Guid kPhysicalSectorSize = Guid::fromText("CDA348C7-445D-4471-9CC9-E9885251C556");
const Guid kParentLocator = Guid::fromText("A8D35F2D-B30B-454D-ABF7-D3D84834AB0C");

namespace {

// The 32-byte entries of a table from `first` on: as many as `count` says, and the bytes hold.
template <typename Decode>
auto tableEntries(Bytes data, std::uint64_t first, std::uint64_t count, Decode decode) {
    std::vector<decltype(decode(data, first))> entries;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = first + 32 * i;
        if (!fits(data, at, 32)) break;
        entries.push_back(decode(data, at));
    }
    return entries;
}

RegionEntry regionEntryAt(Bytes data, std::uint64_t at) {
    return {Guid::fromBytes(data, at), le64(data, at + 16), le32(data, at + 24), le32(data, at + 28)};
}

MetadataEntry metadataEntryAt(Bytes data, std::uint64_t at) {
    return {Guid::fromBytes(data, at), le32(data, at + 16), le32(data, at + 20), le32(data, at + 24)};
}

}  // namespace

bool hasFileIdentifier(Bytes firstBytes) { return hasSignature(firstBytes, 0, "vhdxfile"); }

Header parseHeader(Bytes data) {
    Header h;
    h.signatureOk = hasSignature(data, 0, "head");
    h.checksumOk = data.size() >= 4096 && checksumMatches(data.first(4096), 4);
    h.checksum = le32(data, 4);
    h.sequenceNumber = le64(data, 8);
    h.fileWriteGuid = Guid::fromBytes(data, 16);
    h.dataWriteGuid = Guid::fromBytes(data, 32);
    h.logGuid = Guid::fromBytes(data, 48);
    h.logVersion = le16(data, 64);
    h.version = le16(data, 66);
    h.logLength = le32(data, 68);
    h.logOffset = le64(data, 72);
    return h;
}

RegionTable parseRegionTable(Bytes data) {
    RegionTable table;
    table.signatureOk = hasSignature(data, 0, "regi");
    table.checksumOk = data.size() >= kRegionTableSize && checksumMatches(data.first(kRegionTableSize), 4);
    table.entryCount = le32(data, 8);
    table.entries = tableEntries(data, 16, std::min<std::uint64_t>(table.entryCount, kMaxRegionEntries), regionEntryAt);
    return table;
}

MetadataTable parseMetadataTable(Bytes data) {
    MetadataTable table;
    table.signatureOk = hasSignature(data, 0, "metadata");
    table.entryCount = le16(data, 10);
    table.entries =
        tableEntries(data, 32, std::min<std::uint64_t>(table.entryCount, kMaxMetadataEntries), metadataEntryAt);
    return table;
}

Status checkBlockSize(std::uint64_t blockSize) {
    if (blockSize < 512 || blockSize > (1ULL << 30) || !std::has_single_bit(blockSize))
        return Status::failure("Unsupported block size " + std::to_string(blockSize) +
                               " (it must be a power of two of at least 512 bytes)");
    return {};
}

Status checkLogicalSectorSize(std::uint64_t logicalSectorSize) {
    if (logicalSectorSize != 512 && logicalSectorSize != 4096)
        return Status::failure("Unsupported logical sector size " + std::to_string(logicalSectorSize) +
                               " (it must be 512 or 4096)");
    return {};
}

const char* blockStateName(unsigned state) {
    switch (state) {
        case kNotPresent: return "not present";
        case kUndefined: return "undefined";
        case kZero: return "zero";
        case kUnmapped: return "unmapped";
        case kFullyPresent: return "fully present";
        case kPartiallyPresent: return "partially present";
        default: return "invalid";
    }
}

std::uint64_t chunkRatio(std::uint64_t logicalSectorSize, std::uint64_t blockSize) {
    if (blockSize == 0) return 0;
    return ((1ULL << 23) * logicalSectorSize) / blockSize;
}

namespace {

const RegionEntry* findRegion(const RegionTable& table, const Guid& guid) {
    for (const RegionEntry& entry : table.entries)
        if (entry.guid == guid) return &entry;
    return nullptr;
}

const MetadataEntry* findItem(const MetadataTable& table, const Guid& guid) {
    for (const MetadataEntry& entry : table.entries)
        if (entry.itemId == guid) return &entry;
    return nullptr;
}

MetadataTable readMetadataTable(const ImageFile& file, std::uint64_t offset) {
    const auto data = file.readVector(offset, kMetadataTableSize);
    return parseMetadataTable(data);
}

// Reads an item's value (up to 8 bytes) from the metadata region; a value that lies outside the file reads as 0.
std::uint64_t readItem(const ImageFile& file, std::uint64_t regionOffset, const MetadataEntry* entry, std::size_t size) {
    if (!entry) return 0;
    const auto data = file.readVector(regionOffset + entry->offset, size);
    if (data.size() < size) return 0;
    return size == 4 ? le32(data, 0) : le64(data, 0);
}

}  // namespace

void readHeaders(const ImageFile& file, Layout& layout) {
    layout.header1 = parseHeader(file.readVector(kHeader1Offset, 4096));
    layout.header2 = parseHeader(file.readVector(kHeader2Offset, 4096));
    layout.version = layout.header1.signatureOk || !layout.header2.signatureOk ? layout.header1.version
                                                                                : layout.header2.version;
    // A crash while one header is being rewritten leaves it torn: the other, older one is then current.
    const bool good1 = layout.header1.signatureOk && layout.header1.checksumOk;
    const bool good2 = layout.header2.signatureOk && layout.header2.checksumOk;
    if (good1 && good2)
        layout.currentHeaderNumber = layout.header2.sequenceNumber > layout.header1.sequenceNumber ? 2 : 1;
    else
        layout.currentHeaderNumber = good1 ? 1 : good2 ? 2 : 0;
    if (layout.currentHeaderNumber == 0)
        layout.notes.push_back("neither header's checksum verifies; header 1 is read as it stands");
}

namespace {

// Region table: the first copy that verifies; when neither does, the one at 192 KiB unless its signature or count
// is bad, then the copy at 256 KiB.
void chooseRegionTable(const ImageFile& file, Layout& layout) {
    RegionTable first = parseRegionTable(file.readVector(kRegionTable1Offset, kRegionTableSize));
    RegionTable second = parseRegionTable(file.readVector(kRegionTable2Offset, kRegionTableSize));
    layout.regionTableOffset = kRegionTable1Offset;
    if (first.signatureOk && first.checksumOk) {
        layout.regionTable = std::move(first);
        layout.regionTableVerified = true;
    } else if (second.signatureOk && second.checksumOk) {
        layout.regionTableOffset = kRegionTable2Offset;
        layout.regionTable = std::move(second);
        layout.regionTableVerified = true;
        layout.notes.push_back("the region table at 192 KiB does not verify; the copy at 256 KiB was used");
    } else {
        layout.notes.push_back("neither region table's checksum verifies");
        layout.regionTable = std::move(first);
        if (!layout.regionTable.signatureOk || layout.regionTable.entryCount < 2 ||
            layout.regionTable.entryCount > kMaxRegionEntries) {
            layout.regionTableOffset = kRegionTable2Offset;
            layout.regionTable = std::move(second);
            layout.notes.push_back("the region table at 192 KiB is damaged; the copy at 256 KiB was used");
        }
    }
}

// Finds the BAT and metadata regions (by GUID, else by position) and reads the metadata table. The region table
// holds at least two entries.
MetadataTable locateRegions(const ImageFile& file, Layout& layout, PositionalRule rule) {
    const RegionTable& regions = layout.regionTable;
    const RegionEntry* bat = findRegion(regions, kBatRegion);
    const RegionEntry* metadata = findRegion(regions, kMetadataRegion);
    MetadataTable table;
    if (bat && metadata) {
        layout.regionsByGuid = true;
        layout.metadataOffset = metadata->fileOffset;
        layout.metadataLength = metadata->length;
        table = readMetadataTable(file, layout.metadataOffset);
    } else {
        // Older reading by position: entry 0 is the BAT; the metadata table is at entry 1 unless its count looks
        // wrong and entry 0 holds a table of exactly five items.
        layout.notes.push_back("regions were taken by position (no known region GUID)");
        bat = &regions.entries[0];
        layout.metadataOffset = regions.entries[1].fileOffset;
        table = readMetadataTable(file, layout.metadataOffset);
        const std::uint16_t keepUpTo = rule == PositionalRule::Reader ? 5 : 6;
        if (table.entryCount == 0 || table.entryCount > keepUpTo) {
            MetadataTable atFirst = readMetadataTable(file, regions.entries[0].fileOffset);
            if (atFirst.entryCount == 5) {
                layout.metadataOffset = regions.entries[0].fileOffset;
                table = std::move(atFirst);
            }
        }
    }
    layout.batOffset = bat->fileOffset;
    layout.batLength = bat->length;
    return table;
}

// The geometry items (by GUID, else the first three by position) and the parent locator.
void readMetadataItems(const ImageFile& file, Layout& layout, MetadataTable table) {
    const MetadataEntry* parameters = findItem(table, kFileParameters);
    const MetadataEntry* diskSize = findItem(table, kVirtualDiskSize);
    const MetadataEntry* sectorSize = findItem(table, kLogicalSectorSize);
    const MetadataEntry* physical = findItem(table, kPhysicalSectorSize);
    if (parameters || diskSize || sectorSize) {
        layout.metadataByGuid = true;
    } else {
        layout.notes.push_back("metadata items were taken by position (no known item GUID)");
        const auto& e = table.entries;
        parameters = e.size() > 0 ? &e[0] : nullptr;
        diskSize = e.size() > 1 ? &e[1] : nullptr;
        sectorSize = e.size() > 2 ? &e[2] : nullptr;
    }
    const std::uint64_t fileParameters = readItem(file, layout.metadataOffset, parameters, 8);
    layout.blockSize = static_cast<std::uint32_t>(fileParameters & 0xFFFFFFFF);
    layout.fileParameterFlags = static_cast<std::uint32_t>(fileParameters >> 32);
    layout.virtualDiskSize = readItem(file, layout.metadataOffset, diskSize, 8);
    layout.logicalSectorSize = static_cast<std::uint32_t>(readItem(file, layout.metadataOffset, sectorSize, 4));
    layout.physicalSectorSize = static_cast<std::uint32_t>(readItem(file, layout.metadataOffset, physical, 4));
    if (const MetadataEntry* locator = findItem(table, kParentLocator); locator && locator->length <= kMetadataTableSize)
        layout.parentLocator = file.readVector(layout.metadataOffset + locator->offset, locator->length);
    layout.metadataTable = std::move(table);
}

}  // namespace

Layout readLayout(const ImageFile& file, PositionalRule rule) {
    Layout layout;
    readHeaders(file, layout);
    chooseRegionTable(file, layout);
    if (layout.regionTable.entries.size() < 2) {
        layout.status = Status::failure("Region entry corrupt");
        return layout;
    }
    readMetadataItems(file, layout, locateRegions(file, layout, rule));
    return layout;
}

}  // namespace halvard::vhdx
