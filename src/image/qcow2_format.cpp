#include "image/qcow2_format.h"

#include <algorithm>

namespace halvard::qcow2 {

namespace {

constexpr std::uint32_t kExtensionEnd = 0;
constexpr std::uint32_t kExtensionBackingFormat = 0xE2792ACA;
constexpr std::uint32_t kExtensionFeatureNames = 0x6803F857;
constexpr std::uint32_t kExtensionEncryption = 0x0537BE77;
constexpr std::uint32_t kExtensionDataFile = 0x44415441;

std::string text(Bytes data, std::uint64_t offset, std::uint64_t length) {
    const Bytes bytes = slice(data, offset, length);
    std::string out(bytes.begin(), bytes.end());
    out.resize(std::min(out.size(), out.find('\0')));
    return out;
}

// The extensions follow the header up to an end marker; each is padded to 8 bytes.
bool readExtensions(Bytes data, std::uint64_t offset, Header& h, std::string& error) {
    while (true) {
        if (!fits(data, offset, 8)) {
            error = "the qcow2 header extensions run past the first cluster";
            return false;
        }
        const std::uint32_t type = be32(data, offset);
        const std::uint32_t length = be32(data, offset + 4);
        if (type == kExtensionEnd) return true;
        const std::uint64_t body = offset + 8;
        if (!fits(data, body, length)) {
            error = "a qcow2 header extension runs past the first cluster";
            return false;
        }
        switch (type) {
            case kExtensionBackingFormat: h.backingFormat = text(data, body, length); break;
            case kExtensionDataFile: h.externalDataFile = text(data, body, length); break;
            case kExtensionEncryption: h.hasEncryptionHeader = true; break;
            case kExtensionFeatureNames:
                // 48-byte entries: type (0 = incompatible), bit number, 46 bytes of name.
                for (std::uint64_t e = 0; e + 48 <= length; e += 48)
                    if (data[body + e] == 0) h.incompatibleFeatureNames.emplace_back(data[body + e + 1], text(data, body + e + 2, 46));
                break;
            default: break;  // other extensions (bitmaps, ...) do not change what the disk holds
        }
        offset = body + ((static_cast<std::uint64_t>(length) + 7) & ~7ULL);
    }
}

}  // namespace

ParsedHeader parseHeader(Bytes data) {
    ParsedHeader parsed;
    Header& h = parsed.header;
    auto refuse = [&parsed](const std::string& why) {
        parsed.error = why;
        return parsed;
    };
    if (!fits(data, 0, 72) || be32(data, 0) != kMagic) return refuse("not a qcow2 image (no \"QFI\\xfb\" magic)");
    h.version = be32(data, 4);
    if (h.version != 2 && h.version != 3) return refuse("qcow2 version " + std::to_string(h.version) + " is not supported");
    h.backingFileOffset = be64(data, 8);
    h.backingFileSize = be32(data, 16);
    h.clusterBits = be32(data, 20);
    h.size = be64(data, 24);
    h.cryptMethod = be32(data, 32);
    h.l1Size = be32(data, 36);
    h.l1TableOffset = be64(data, 40);
    h.refcountTableOffset = be64(data, 48);
    h.refcountTableClusters = be32(data, 56);
    h.snapshotCount = be32(data, 60);
    h.snapshotsOffset = be64(data, 64);
    if (h.clusterBits < kMinClusterBits || h.clusterBits > kMaxClusterBits)
        return refuse("the qcow2 cluster size of 2^" + std::to_string(h.clusterBits) + " bytes is out of range");
    if (h.size > kMaxVirtualSize) return refuse("the qcow2 header's disk size of " + std::to_string(h.size) + " bytes is beyond the format's limit");
    if (h.version == 3) {
        if (!fits(data, 0, 104)) return refuse("the qcow2 version 3 header is cut short");
        h.incompatibleFeatures = be64(data, 72);
        h.compatibleFeatures = be64(data, 80);
        h.autoclearFeatures = be64(data, 88);
        h.refcountOrder = be32(data, 96);
        h.headerLength = be32(data, 100);
        if (h.headerLength < 104 || h.headerLength % 8 != 0 || !fits(data, 0, h.headerLength))
            return refuse("the qcow2 header length of " + std::to_string(h.headerLength) + " bytes is damaged");
        if (h.headerLength > 104) h.compressionType = data[104];
        if (!(h.incompatibleFeatures & kCompressionType)) h.compressionType = 0;
    }
    std::string error;
    if (!readExtensions(data, h.headerLength, h, error)) return refuse(error);
    if (h.backingFileOffset != 0 && h.backingFileSize != 0) {
        if (h.backingFileSize > 1023 || !fits(data, h.backingFileOffset, h.backingFileSize))
            return refuse("the qcow2 backing file name lies outside the first cluster");
    }
    parsed.ok = true;
    return parsed;
}

std::string unknownIncompatibleFeatures(const Header& header) {
    std::string names;
    for (unsigned bit = 0; bit < 64; ++bit) {
        const std::uint64_t mask = 1ULL << bit;
        if (!(header.incompatibleFeatures & mask) || (mask & kKnownIncompatible)) continue;
        std::string name = "feature bit " + std::to_string(bit);
        for (const auto& [named, text] : header.incompatibleFeatureNames)
            if (named == bit && !text.empty()) name = text;
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

CompressedCluster compressedCluster(std::uint64_t entry, std::uint32_t clusterBits) {
    // The offset takes the low bits, the count of further 512-byte sectors the bits above it, up to bit 61.
    const unsigned shift = 62 - (clusterBits - 8);
    const std::uint64_t sectorsMask = (1ULL << (clusterBits - 8)) - 1;
    CompressedCluster cluster;
    cluster.hostOffset = entry & ((1ULL << shift) - 1);
    const std::uint64_t sectors = ((entry >> shift) & sectorsMask) + 1;
    cluster.storedLength = sectors * 512 - (cluster.hostOffset & 511);
    return cluster;
}

SnapshotTable parseSnapshotTable(Bytes table, std::uint32_t count) {
    SnapshotTable result;
    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!fits(table, offset, 40)) {
            result.ok = false;
            break;
        }
        Snapshot s;
        s.l1TableOffset = be64(table, offset);
        s.l1Size = be32(table, offset + 8);
        const std::uint16_t idSize = be16(table, offset + 12);
        const std::uint16_t nameSize = be16(table, offset + 14);
        s.dateSeconds = be32(table, offset + 16);
        const std::uint32_t extraSize = be32(table, offset + 36);
        const std::uint64_t extra = offset + 40;
        const std::uint64_t end = extra + extraSize + idSize + nameSize;
        if (!fits(table, extra, static_cast<std::uint64_t>(extraSize) + idSize + nameSize)) {
            result.ok = false;
            break;
        }
        if (extraSize >= 16) s.diskSize = be64(table, extra + 8);
        s.id = text(table, extra + extraSize, idSize);
        s.name = text(table, extra + extraSize + idSize, nameSize);
        result.snapshots.push_back(std::move(s));
        offset = (end + 7) & ~7ULL;
    }
    return result;
}

}  // namespace halvard::qcow2
