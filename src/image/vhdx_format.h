#pragma once
// The VHDX structures the reader and the image page need, each parsed from a byte span: the header, the region
// table and the metadata table, and the walk that finds the block geometry and the block allocation table.
//
// Regions and metadata items are identified by their GUIDs. Only when no GUID is known does the walk fall back to
// the older reading by position (BAT first, metadata second; file parameters, disk size, logical sector size as
// items 0 to 2), which images written by some tools would not survive: they list other items in between.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "image/guid.h"
#include "image/image_file.h"

namespace halvard::vhdx {

inline constexpr std::uint64_t kHeader1Offset = 64 * 1024;
inline constexpr std::uint64_t kHeader2Offset = 128 * 1024;
inline constexpr std::uint64_t kRegionTable1Offset = 192 * 1024;
inline constexpr std::uint64_t kRegionTable2Offset = 256 * 1024;
inline constexpr std::size_t kRegionTableSize = 64 * 1024;
inline constexpr std::uint32_t kMaxRegionEntries = 2047;
inline constexpr std::uint64_t kMaxVirtualDiskSize = 64ULL << 40;  // 64 TiB
inline constexpr std::uint32_t kMaxMetadataEntries = 2047;
inline constexpr std::size_t kMetadataTableSize = 64 * 1024;

extern const Guid kBatRegion;
extern const Guid kMetadataRegion;
extern const Guid kFileParameters;
extern const Guid kVirtualDiskSize;
extern const Guid kLogicalSectorSize;
extern const Guid kPhysicalSectorSize;
extern const Guid kParentLocator;

// "vhdxfile" at offset 0.
bool hasFileIdentifier(Bytes firstBytes);

struct Header {  // 4 KiB at 64 KiB and 128 KiB
    bool signatureOk = false;  // "head"
    bool checksumOk = false;   // CRC-32C over the 4 KiB
    std::uint32_t checksum = 0;
    std::uint64_t sequenceNumber = 0;
    Guid fileWriteGuid;
    Guid dataWriteGuid;  // changes whenever the disk's content does; a child names its parent's in parent_linkage
    Guid logGuid;        // zero: the log is empty
    std::uint16_t logVersion = 0;
    std::uint16_t version = 0;  // offset 66
    std::uint32_t logLength = 0;
    std::uint64_t logOffset = 0;
};
Header parseHeader(Bytes data);

struct RegionEntry {  // 32 bytes
    Guid guid;
    std::uint64_t fileOffset = 0;
    std::uint32_t length = 0;
    std::uint32_t required = 0;
};
struct RegionTable {
    bool signatureOk = false;  // "regi"
    bool checksumOk = false;   // CRC-32C over the 64 KiB
    std::uint32_t entryCount = 0;
    std::vector<RegionEntry> entries;  // as many as the count says and the span holds, at most kMaxRegionEntries
};
RegionTable parseRegionTable(Bytes data);

struct MetadataEntry {  // 32 bytes
    Guid itemId;
    std::uint32_t offset = 0;  // from the metadata region's start
    std::uint32_t length = 0;
    std::uint32_t flags = 0;
};
struct MetadataTable {
    bool signatureOk = false;  // "metadata"
    std::uint16_t entryCount = 0;
    std::vector<MetadataEntry> entries;
};
MetadataTable parseMetadataTable(Bytes data);

// Which rule keeps the metadata table found at the second region entry when the regions are taken by position:
// the reader keeps it for 1 to 5 entries, the image page for 1 to 6.
enum class PositionalRule { Reader, ImagePage };

// Everything the geometry walk found.
struct Layout {
    Status status;  // the user's message when the walk fails ("Region entry corrupt")

    Header header1, header2;
    // 1 or 2: of the headers whose checksum verifies, the one with the higher sequence number; 0 when neither
    // verifies (header 1 is then read as it stands).
    int currentHeaderNumber = 0;
    const Header& currentHeader() const { return currentHeaderNumber == 2 ? header2 : header1; }
    std::uint16_t version = 0;  // header 1's Version field (header 2's when header 1 is unreadable)

    RegionTable regionTable;
    std::uint64_t regionTableOffset = 0;
    bool regionTableVerified = false;  // the table in use passed its checksum
    bool regionsByGuid = false;
    std::uint64_t batOffset = 0;
    std::uint64_t batLength = 0;
    std::uint64_t metadataOffset = 0;
    std::uint32_t metadataLength = 0;  // 0 when the region was taken by position
    MetadataTable metadataTable;
    bool metadataByGuid = false;

    // Values as the image states them; missing items stay 0.
    std::uint32_t blockSize = 0;
    std::uint32_t fileParameterFlags = 0;
    std::uint64_t virtualDiskSize = 0;
    std::uint32_t logicalSectorSize = 0;
    std::uint32_t physicalSectorSize = 0;
    bool hasParent() const { return (fileParameterFlags & 0x2) != 0; }
    std::vector<std::uint8_t> parentLocator;  // the parent locator item's bytes, when there is one

    std::vector<std::string> notes;  // fallbacks taken, for the information command
};

// Reads the headers, region table and metadata of an open image file (through its overlay, when the log was
// replayed into one).
Layout readLayout(const ImageFile& file, PositionalRule rule = PositionalRule::Reader);

// The two headers and which one is current, without the rest of the layout (the log must be replayed before
// the region table and metadata are read).
void readHeaders(const ImageFile& file, Layout& layout);

// Geometry checks shared by the reader and the image page.
Status checkBlockSize(std::uint64_t blockSize);
Status checkLogicalSectorSize(std::uint64_t logicalSectorSize);

// Payload entries per chunk: 2^23 x logical sector size / block size.
std::uint64_t chunkRatio(std::uint64_t logicalSectorSize, std::uint64_t blockSize);

// BAT entry fields.
inline std::uint64_t batFileOffsetMB(std::uint64_t entry) { return entry >> 20; }
inline unsigned batState(std::uint64_t entry) { return static_cast<unsigned>(entry & 7); }

// Payload block states (sector-bitmap entries use 0 for "not present" and 6 for "present").
enum BlockState : unsigned {
    kNotPresent = 0,
    kUndefined = 1,
    kZero = 2,
    kUnmapped = 3,
    kFullyPresent = 6,
    kPartiallyPresent = 7,
};
const char* blockStateName(unsigned state);

}  // namespace halvard::vhdx
