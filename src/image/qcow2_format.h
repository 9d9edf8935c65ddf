#pragma once
// The qcow2 on-disk structures: the header (big-endian, versions 2 and 3) with its extensions, L1/L2 entries and
// the internal snapshot table, each read from a byte span.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace halvard::qcow2 {

inline constexpr std::uint32_t kMagic = 0x514649FB;  // "QFI\xfb"
inline constexpr std::uint32_t kMinClusterBits = 9;
inline constexpr std::uint32_t kMaxClusterBits = 21;  // 2 MiB, the largest cluster qcow2 allows
inline constexpr std::uint64_t kMaxVirtualSize = 1ULL << 56;  // host offsets have 56 bits

// Incompatible feature bits.
inline constexpr std::uint64_t kDirty = 1ULL << 0;
inline constexpr std::uint64_t kCorrupt = 1ULL << 1;
inline constexpr std::uint64_t kExternalData = 1ULL << 2;
inline constexpr std::uint64_t kCompressionType = 1ULL << 3;
inline constexpr std::uint64_t kExtendedL2 = 1ULL << 4;
inline constexpr std::uint64_t kKnownIncompatible = (1ULL << 5) - 1;

// L1 and L2 entries.
inline constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ULL;  // bits 9 to 55: a host offset
inline constexpr std::uint64_t kCompressedFlag = 1ULL << 62;
inline constexpr std::uint64_t kCopiedFlag = 1ULL << 63;  // the cluster is used once: it is allocated
inline constexpr std::uint64_t kZeroFlag = 1ULL;  // standard L2 entries of version 3 without extended L2
inline constexpr unsigned kSubclusters = 32;      // per cluster, with extended L2 entries

struct Header {
    std::uint32_t version = 0;
    std::uint64_t backingFileOffset = 0;
    std::uint32_t backingFileSize = 0;
    std::uint32_t clusterBits = 0;
    std::uint64_t size = 0;  // bytes of the virtual disk
    std::uint32_t cryptMethod = 0;  // 0 none, 1 AES, 2 LUKS
    std::uint32_t l1Size = 0;
    std::uint64_t l1TableOffset = 0;
    std::uint64_t refcountTableOffset = 0;
    std::uint32_t refcountTableClusters = 0;
    std::uint32_t snapshotCount = 0;
    std::uint64_t snapshotsOffset = 0;
    std::uint64_t incompatibleFeatures = 0;
    std::uint64_t compatibleFeatures = 0;
    std::uint64_t autoclearFeatures = 0;
    std::uint32_t refcountOrder = 4;
    std::uint32_t headerLength = 72;
    std::uint8_t compressionType = 0;  // 0 deflate, 1 zstd

    // From the header extensions.
    std::string backingFormat;
    std::string externalDataFile;
    bool hasEncryptionHeader = false;
    std::vector<std::pair<unsigned, std::string>> incompatibleFeatureNames;  // bit, name

    std::uint64_t clusterSize() const { return 1ULL << clusterBits; }
    bool extendedL2() const { return (incompatibleFeatures & kExtendedL2) != 0; }
    // 64-bit words per L2 entry, and entries per L2 table.
    unsigned l2EntryWords() const { return extendedL2() ? 2 : 1; }
    std::uint64_t l2Entries() const { return clusterSize() / (8 * l2EntryWords()); }
};

struct ParsedHeader {
    bool ok = false;
    std::string error;  // one line when !ok
    Header header;
};

// Reads the header and its extensions from the file's first cluster (or as much of it as there is). Refuses what
// it cannot read: another magic or version, a cluster size out of range, a header that does not fit.
ParsedHeader parseHeader(Bytes firstCluster);

// "compression type zstd", "external data file", ...: the unknown incompatible features, named by the image's own
// feature table where it names them; empty when every one is known.
std::string unknownIncompatibleFeatures(const Header& header);

// The host offset of a compressed cluster's data and its stored length (rounded to whole 512-byte sectors).
struct CompressedCluster {
    std::uint64_t hostOffset = 0;
    std::uint64_t storedLength = 0;
};
CompressedCluster compressedCluster(std::uint64_t l2Entry, std::uint32_t clusterBits);

struct Snapshot {
    std::string id;
    std::string name;
    std::uint64_t l1TableOffset = 0;
    std::uint32_t l1Size = 0;
    std::uint64_t diskSize = 0;  // 0: the image's own size (older snapshots carry none)
    std::uint32_t dateSeconds = 0;
};

// The snapshot table: `count` entries from `table` (read from the snapshots offset). `ok` is false when an entry
// runs past the bytes given; the entries before it are kept.
struct SnapshotTable {
    bool ok = true;
    std::vector<Snapshot> snapshots;
};
SnapshotTable parseSnapshotTable(Bytes table, std::uint32_t count);

// The most a snapshot table may take (as qemu-img limits it), and the most entries.
inline constexpr std::uint64_t kMaxSnapshotTableBytes = 64ULL << 20;
inline constexpr std::uint32_t kMaxSnapshots = 65536;

}  // namespace halvard::qcow2
