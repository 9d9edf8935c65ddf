#pragma once
// The VHD structures, each parsed from a byte span (all integers big-endian): the footer, the dynamic disk header,
// and the walk that decides how an image file is laid out.
//
// A fixed disk is the disk's bytes followed by a 512-byte footer. A dynamic or differencing disk starts with a
// copy of the footer, then the dynamic disk header (where the footer's data offset points), the block allocation
// table (where the header's table offset points) and the blocks, each a sector bitmap followed by the data.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "image/image_file.h"

namespace halvard::vhd {

inline constexpr std::uint64_t kFooterSize = 512;
inline constexpr std::uint64_t kDynamicHeaderSize = 1024;
inline constexpr std::uint64_t kClassicTableOffset = 1536;       // right behind the footer copy and the header
inline constexpr std::uint32_t kClassicBlockSize = 2 * 1024 * 1024;
inline constexpr std::uint32_t kUnallocated = 0xFFFFFFFF;        // BAT entry of a block the file does not hold
inline constexpr std::uint64_t kNoDataOffset = ~0ULL;            // data offset of a fixed disk's footer

enum DiskType : std::uint32_t { kFixed = 2, kDynamic = 3, kDifferencing = 4 };

struct Footer {  // 512 bytes
    bool cookieOk = false;             // "conectix"
    std::uint32_t features = 0;
    std::uint32_t formatVersion = 0;   // 0x00010000
    std::uint64_t dataOffset = 0;      // the dynamic header; all ones for a fixed disk
    std::uint32_t timeStamp = 0;       // seconds since 2000-01-01 UTC
    std::string creatorApplication;    // four characters, e.g. "qemu", "win "
    std::uint32_t creatorVersion = 0;
    std::uint64_t originalSize = 0;
    std::uint64_t currentSize = 0;     // the virtual disk's size in bytes
    std::uint16_t cylinders = 0;
    std::uint8_t heads = 0;
    std::uint8_t sectorsPerTrack = 0;
    std::uint32_t diskType = 0;
    std::uint32_t checksum = 0;
    bool checksumOk = false;
    std::uint8_t uniqueId[16] = {};    // a differencing child records its parent's
    bool isDynamicKind() const { return diskType == kDynamic || diskType == kDifferencing; }
};
Footer parseFooter(Bytes data);

// One's complement of the byte sum of the footer without its checksum field.
std::uint32_t footerChecksum(Bytes data);

struct ParentLocator {  // 24 bytes, eight in the dynamic header
    std::uint32_t platformCode = 0;  // "W2ru", "W2ku", ...
    std::uint32_t dataSpace = 0;
    std::uint32_t dataLength = 0;    // bytes of the path
    std::uint64_t dataOffset = 0;    // where the path lies in the file
};

struct DynamicHeader {  // 1024 bytes
    bool cookieOk = false;             // "cxsparse"
    std::uint64_t tableOffset = 0;     // BAT, bytes from the file start
    std::uint32_t headerVersion = 0;
    std::uint32_t maxTableEntries = 0;
    std::uint32_t blockSize = 0;       // bytes of data per block, without the bitmap
    std::uint8_t parentUniqueId[16] = {};
    std::uint32_t parentTimeStamp = 0;
    std::string parentName;            // UTF-16 big-endian in the file
    ParentLocator locators[8];
};
DynamicHeader parseDynamicHeader(Bytes data);

// Bytes of the sector bitmap in front of each block's data: one bit per sector, in whole sectors.
std::uint64_t bitmapBytes(std::uint64_t blockSize);

// "1.0" for 0x00010000.
std::string versionText(std::uint32_t formatVersion);

// How the file is laid out, as far as the structures tell.
struct Layout {
    Status status;  // why the image cannot be read as a VHD

    Footer footer;
    std::uint64_t footerOffset = 0;  // where the footer in use lies
    std::uint64_t footerLength = 0;  // 512, or 511 in images of some old tools
    bool fixed = false;

    // Fixed disks: the data is the file before the footer.
    std::uint64_t dataLength = 0;

    // Dynamic and differencing disks.
    DynamicHeader header;
    std::uint64_t headerOffset = 0;
    std::uint64_t tableOffset = 0;
    std::uint32_t blockSize = 0;
    std::uint64_t tableEntries = 0;  // as many as the header says and the file holds

    std::vector<std::string> notes;  // fallbacks taken
};

Layout readLayout(const ImageFile& file);

}  // namespace halvard::vhd
