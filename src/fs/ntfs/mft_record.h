#pragma once
// One MFT record as it lies on disk, read from a byte buffer: the update-sequence fixup, the record header, the
// attribute headers and the two resident values the listing needs ($STANDARD_INFORMATION, $FILE_NAME).
//
// Nothing here trusts the disk: every offset and length is checked against the record, and an attribute that
// points outside it ends the walk (the attributes before it stay usable).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace halvard::ntfs_format {

inline constexpr std::uint32_t kDefaultRecordSize = 1024;
inline constexpr std::uint32_t kFixupStride = 512;  // the update sequence protects every 512 bytes

// Attribute type codes.
inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kFileName = 0x30;
inline constexpr std::uint32_t kData = 0x80;
inline constexpr std::uint32_t kReparsePoint = 0xC0;
inline constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;

// Record header flags.
inline constexpr std::uint16_t kRecordInUse = 0x0001;
// $FILE_NAME file flags.
inline constexpr std::uint32_t kFileNameDirectory = 0x10000000;
// Non-resident attribute flags.
inline constexpr std::uint16_t kCompressionMask = 0x00FF;
inline constexpr std::uint16_t kEncrypted = 0x4000;
inline constexpr std::uint16_t kSparse = 0x8000;
// $FILE_NAME name spaces.
inline constexpr std::uint8_t kDosNameSpace = 2;

// Applies the update sequence in place: the last two bytes of every 512-byte stride that the sequence count
// covers (and the record holds) get their saved value back. The sequence numbers are not compared: a torn write
// still leaves most of a record worth reading. Returns false when the array itself lies outside the record.
bool applyFixups(std::vector<std::uint8_t>& record);
bool applyFixupsInPlace(std::uint8_t* record, std::size_t size);

// The record header (first 48 bytes).
struct MftRecordHeader {
    char signature[4] = {};         // 0x00 "FILE" ("BAAD" after a failed multi-sector write)
    std::uint16_t updateSequenceOffset = 0;  // 0x04
    std::uint16_t updateSequenceCount = 0;   // 0x06
    std::uint16_t sequenceNumber = 0;        // 0x10
    std::uint16_t firstAttributeOffset = 0;  // 0x14
    std::uint16_t flags = 0;                 // 0x16 bit 0: in use
    std::uint64_t baseRecord = 0;            // 0x20 (low 48 bits), non-zero in extension records
    std::uint32_t recordNumber = 0;          // 0x2C, only in records with room for it (sequence array at 0x30)
    bool hasRecordNumber = false;

    static MftRecordHeader read(Bytes record);
    bool isFile() const { return signature[0] == 'F' && signature[1] == 'I' && signature[2] == 'L' && signature[3] == 'E'; }
};

// One attribute header, located in its record.
struct AttributeHeader {
    std::uint32_t type = 0;         // 0x00
    std::uint32_t offset = 0;       // of the header within the record
    std::uint32_t length = 0;       // 0x04
    bool nonResident = false;       // 0x08
    std::uint8_t nameLength = 0;    // 0x09, in UTF-16 units
    std::uint16_t nameOffset = 0;   // 0x0A
    std::uint16_t flags = 0;        // 0x0C
    // Resident only.
    std::uint32_t valueLength = 0;  // 0x10
    std::uint16_t valueOffset = 0;  // 0x14, from the header
    bool valueFits = false;         // the value lies within the attribute
    // Non-resident only.
    std::uint64_t firstVcn = 0;               // 0x10
    std::uint64_t lastVcn = 0;                // 0x18
    std::uint16_t runListOffset = 0;          // 0x20, from the header
    std::uint16_t compressionUnitExponent = 0;  // 0x22
    std::uint64_t allocatedSize = 0;          // 0x28
    std::uint64_t realSize = 0;               // 0x30
    std::uint64_t initializedSize = 0;        // 0x38

    // The resident value, or an empty span when it does not fit.
    Bytes value(Bytes record) const;
    // The run list bytes of a non-resident attribute (empty when the offset lies outside the attribute).
    Bytes runList(Bytes record) const;
    std::string name(Bytes record) const;
};

// The attribute headers of a (fixed-up) record in on-disk order, up to the end marker. The walk stops at the
// first header that is shorter than a header or runs past the record.
std::vector<AttributeHeader> readAttributeHeaders(Bytes record);

// Calls `visit(const AttributeHeader&)` for each header as readAttributeHeaders would list it, without
// allocating; `visit` returns false to stop early.
template <typename Visit>
void forEachAttribute(Bytes record, Visit visit);

// $FILE_NAME value.
struct FileNameValue {
    std::uint64_t parentRecord = 0;     // 0x00 low 48 bits
    std::uint16_t parentSequence = 0;   // 0x06
    std::uint64_t allocatedSize = 0;    // 0x28
    std::uint64_t realSize = 0;         // 0x30
    std::uint32_t fileFlags = 0;        // 0x38
    std::uint8_t nameLength = 0;        // 0x40, UTF-16 units
    std::uint8_t nameSpace = 0;         // 0x41
    std::string name;                   // from 0x42, shortened to what the value holds
    bool nameComplete = false;          // the whole name lay within the value

    static std::optional<FileNameValue> read(Bytes value);
};

// $STANDARD_INFORMATION value: Windows file times (100 ns since 1601) and the file attribute flags.
struct StandardInformation {
    std::uint64_t created = 0;    // 0x00
    std::uint64_t modified = 0;   // 0x08
    std::uint64_t mftChanged = 0; // 0x10
    std::uint64_t accessed = 0;   // 0x18
    std::uint32_t fileAttributes = 0;  // 0x20
    bool hasFileAttributes = false;

    static std::optional<StandardInformation> read(Bytes value);
};

// $REPARSE_POINT value: what a symbolic link, junction or mount point leads to.
struct ReparsePoint {
    std::uint32_t tag = 0;  // 0x00
    std::string target;     // the print name, else the substitute name without its "\??\" prefix

    static constexpr std::uint32_t kMountPoint = 0xA0000003;
    static constexpr std::uint32_t kSymbolicLink = 0xA000000C;
    // Nullopt for a value too short or of another kind of reparse point (their data is not a path).
    static std::optional<ReparsePoint> read(Bytes value);
};

// ---- inline walk ---------------------------------------------------------------------------------------------

bool parseAttributeHeader(Bytes record, std::uint32_t offset, AttributeHeader& header);

template <typename Visit>
void forEachAttribute(Bytes record, Visit visit) {
    std::uint64_t offset = le16(record, 0x14);
    while (offset + 8 <= record.size()) {
        AttributeHeader header;
        if (!parseAttributeHeader(record, static_cast<std::uint32_t>(offset), header)) return;
        if (!visit(static_cast<const AttributeHeader&>(header))) return;
        offset += header.length;
    }
}

}  // namespace halvard::ntfs_format
