#include "image/qcow2_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/table_limit.h"
#include "image/decompress.h"
#include "image/parent_image.h"
#include "image/piece_read.h"

namespace halvard {

namespace {

constexpr std::uint64_t kMaxCachedL2Bytes = 32ULL << 20;

std::string cryptName(std::uint32_t method) {
    switch (method) {
        case 1: return "AES";
        case 2: return "LUKS";
        default: return "method " + std::to_string(method);
    }
}

}  // namespace

Status Qcow2Reader::open(const std::string& path) {
    if (Status opened = openImageFile(path); !opened) return opened;
    snapshots_.clear();
    notes_.clear();
    backingName_.clear();
    l2Cache_.clear();
    l1AtHeader_.clear();
    cachedClusterOffset_ = ~0ULL;

    // The header and its extensions lie in the first cluster.
    auto head = file_.readVector(0, 1U << qcow2::kMaxClusterBits);
    const std::uint32_t clusterBits = be32(head, 20);
    if (clusterBits >= qcow2::kMinClusterBits && clusterBits <= qcow2::kMaxClusterBits)
        head.resize(std::min<std::size_t>(head.size(), std::size_t{1} << clusterBits));
    const qcow2::ParsedHeader parsed = qcow2::parseHeader(head);
    if (!parsed.ok) return fail(parsed.error);
    header_ = parsed.header;
    const qcow2::Header& h = header_;

    if (h.cryptMethod != 0 || h.hasEncryptionHeader)
        return fail("the qcow2 image is encrypted (" + cryptName(h.cryptMethod) +
                    "); reading encrypted images needs its key, which this program does not take");
    if (h.incompatibleFeatures & qcow2::kExternalData)
        return fail("the qcow2 image keeps its data in the external data file \"" + h.externalDataFile +
                    "\", which this program does not read");
    if (const std::string unknown = qcow2::unknownIncompatibleFeatures(h); !unknown.empty())
        return fail("the qcow2 image uses features this program does not know (" + unknown + ")");
    if (h.compressionType > 1)
        return fail("the qcow2 compression type " + std::to_string(h.compressionType) + " is not supported");
    if (h.extendedL2() && h.clusterBits < 14)
        return fail("the qcow2 header is damaged (extended L2 entries with clusters under 16 KiB)");
    if (h.incompatibleFeatures & qcow2::kDirty) notes_.push_back("the image was not closed cleanly (dirty flag)");
    if (h.incompatibleFeatures & qcow2::kCorrupt) notes_.push_back("the image is marked as corrupt by the program that wrote it");
    if (Status read = readSnapshots(); !read) return read;

    std::uint64_t l1Offset = h.l1TableOffset;
    std::uint32_t l1Size = h.l1Size;
    diskBytes_ = h.size;
    if (!overrides_.snapshot.empty()) {
        const auto it = std::find_if(snapshots_.begin(), snapshots_.end(), [this](const qcow2::Snapshot& s) {
            return s.name == overrides_.snapshot || s.id == overrides_.snapshot;
        });
        if (it == snapshots_.end()) {
            std::string names;
            for (const auto& s : snapshots_) names += (names.empty() ? "" : ", ") + s.name;
            return fail("the image has no internal snapshot named \"" + overrides_.snapshot + "\"" +
                        (names.empty() ? std::string(" (it has none)") : " (it has " + names + ")"));
        }
        l1Offset = it->l1TableOffset;
        l1Size = it->l1Size;
        if (it->diskSize) diskBytes_ = it->diskSize;
        notes_.push_back("reading the internal snapshot \"" + it->name + "\" (ID " + it->id + ")");
    }
    if (diskBytes_ == 0) return fail("the qcow2 header gives the disk a size of 0");
    if (diskBytes_ > qcow2::kMaxVirtualSize) return fail("the qcow2 snapshot's disk size is beyond the format's limit");
    if (diskBytes_ % kSectorSize)
        notes_.push_back("the disk size is not a whole number of 512-byte sectors; the last sector ends in zeros");
    totalSectors = diskBytes_ / kSectorSize + (diskBytes_ % kSectorSize != 0);
    if (Status read = readL1(l1Offset, l1Size); !read) return read;
    cachedCluster_.assign(h.clusterSize(), 0);

    if (h.backingFileOffset == 0 || h.backingFileSize == 0) {
        if (!overrides_.parentPath.empty()) notes_.push_back("the image has no backing file; --parent was not used");
        return {};
    }
    const auto name = slice(head, h.backingFileOffset, h.backingFileSize);
    backingName_.assign(name.begin(), name.end());
    return openBacking(path, overrides_.parentPath.empty() ? pathBesideChild(path, backingName_) : overrides_.parentPath);
}

Status Qcow2Reader::readSnapshots() {
    const qcow2::Header& h = header_;
    if (h.snapshotCount == 0) return {};
    if (h.snapshotCount > qcow2::kMaxSnapshots || h.snapshotsOffset >= imageFileSize) {
        notes_.push_back("the snapshot table is damaged (" + std::to_string(h.snapshotCount) + " snapshots at offset " +
                         std::to_string(h.snapshotsOffset) + "); no snapshot is listed");
        return overrides_.snapshot.empty() ? Status() : fail("the qcow2 snapshot table is damaged");
    }
    const std::uint64_t length = std::min(qcow2::kMaxSnapshotTableBytes, imageFileSize - h.snapshotsOffset);
    const auto table = file_.readVector(h.snapshotsOffset, static_cast<std::size_t>(length));
    qcow2::SnapshotTable parsed = qcow2::parseSnapshotTable(table, h.snapshotCount);
    if (!parsed.ok) notes_.push_back("the snapshot table is cut short; " + std::to_string(parsed.snapshots.size()) + " of " +
                                     std::to_string(h.snapshotCount) + " snapshots are listed");
    snapshots_ = std::move(parsed.snapshots);
    return {};
}

Status Qcow2Reader::readL1(std::uint64_t offset, std::uint32_t entries) {
    const qcow2::Header& h = header_;
    const std::uint64_t perTable = h.l2Entries() * h.clusterSize();
    const std::uint64_t needed = diskBytes_ / perTable + (diskBytes_ % perTable != 0);
    if (entries < needed)
        return fail("the qcow2 L1 table is too small for the disk (" + std::to_string(entries) + " entries, " +
                    std::to_string(needed) + " needed)");
    if (offset % h.clusterSize() != 0 || offset >= imageFileSize || needed * 8 > imageFileSize - offset)
        return fail("the qcow2 L1 table lies outside the file");
    if (needed > maxTableEntries(sizeof(std::uint64_t))) return fail("the qcow2 L1 table is too large to be read");
    std::vector<std::uint8_t> raw(needed * 8);
    if (file_.readAt(offset, raw.data(), raw.size()) != raw.size()) return fail("the qcow2 L1 table cannot be read", file_.error());
    blockMap.resize(needed);
    for (std::uint64_t i = 0; i < needed; ++i) {
        const std::uint64_t entry = be64(raw, i * 8);
        blockMap[i] = entry & qcow2::kOffsetMask;
        if (entry != 0 && blockMap[i] == 0) l1AtHeader_.insert(i);
    }
    l1Offset_ = offset;
    l1Bytes_ = needed * 8;
    return {};
}

Status Qcow2Reader::openBacking(const std::string& childPath, const std::string& path) {
    OpenedParent parent = openParentImage(path, chainForParent(childPath), overrides_);
    if (!parent.reader) {
        const bool missing = overrides_.parentPath.empty() && !std::filesystem::exists(path);
        if (missing)
            return parentNotFound({backingName_, {path}, "the backing file " + path + " was not found; name it with --parent"});
        return fail(parent.error);
    }
    adoptParent(std::move(parent.reader), path);
    if (parent_->totalSectors * kSectorSize != diskBytes_) notes_.push_back("the backing file's disk size differs from the image's");
    return {};
}

bool Qcow2Reader::inMetadata(std::uint64_t host, std::uint64_t length) const {
    auto overlaps = [host, length](std::uint64_t start, std::uint64_t bytes) {
        return bytes != 0 && host < start + bytes && start < host + length;
    };
    const std::uint64_t refcountBytes = std::uint64_t{header_.refcountTableClusters} * header_.clusterSize();
    return overlaps(0, header_.clusterSize()) || overlaps(l1Offset_, l1Bytes_) ||
           (header_.refcountTableOffset < imageFileSize && overlaps(header_.refcountTableOffset, refcountBytes));
}

const std::vector<std::uint64_t>* Qcow2Reader::l2Table(std::uint64_t index) const {
    if (const auto it = l2Cache_.find(index); it != l2Cache_.end()) return &it->second;
    const std::uint64_t offset = index < blockMap.size() ? blockMap[index] : 0;
    const std::uint64_t bytes = header_.clusterSize();
    if (offset == 0 || offset % bytes != 0 || offset >= imageFileSize || bytes > imageFileSize - offset ||
        inMetadata(offset, bytes))
        return nullptr;
    if (l2Cache_.size() * bytes >= kMaxCachedL2Bytes) l2Cache_.clear();
    std::vector<std::uint8_t> raw(bytes);
    if (file_.readAt(offset, raw.data(), raw.size()) != raw.size()) return nullptr;
    std::vector<std::uint64_t>& table = l2Cache_[index];
    table.resize(bytes / 8);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = be64(raw, i * 8);
    return &table;
}

Qcow2Reader::Piece Qcow2Reader::resolve(std::uint64_t offset) const {
    Piece piece;
    const std::uint64_t clusterSize = header_.clusterSize();
    const std::uint64_t cluster = offset >> header_.clusterBits;
    const std::uint64_t inCluster = offset & (clusterSize - 1);
    const std::uint64_t l2Entries = header_.l2Entries();
    const std::uint64_t l1Index = cluster / l2Entries;
    const std::uint64_t l2Index = cluster % l2Entries;
    const Piece::Kind hole = parent_ ? Piece::Kind::Backing : Piece::Kind::Zero;
    if (l1Index >= blockMap.size()) return piece;
    if (blockMap[l1Index] == 0) {
        piece.kind = l1AtHeader_.count(l1Index) ? Piece::Kind::Unreadable : hole;
        piece.length = (l2Entries - l2Index) * clusterSize - inCluster;
        return piece;
    }
    const std::vector<std::uint64_t>* table = l2Table(l1Index);
    if (!table) {
        piece.length = clusterSize - inCluster;
        return piece;
    }
    return header_.extendedL2() ? resolveExtended(*table, l2Index, inCluster) : resolveStandard(*table, l2Index, inCluster);
}

Qcow2Reader::Piece Qcow2Reader::compressedPiece(std::uint64_t entry, std::uint64_t inCluster) const {
    const qcow2::CompressedCluster c = qcow2::compressedCluster(entry, header_.clusterBits);
    Piece piece;
    piece.kind = inMetadata(c.hostOffset, c.storedLength) ? Piece::Kind::Unreadable : Piece::Kind::Compressed;
    piece.hostOffset = c.hostOffset;
    piece.storedLength = c.storedLength;
    piece.length = header_.clusterSize() - inCluster;
    return piece;
}

Qcow2Reader::Piece Qcow2Reader::resolveStandard(const std::vector<std::uint64_t>& table,
                                                            std::uint64_t index, std::uint64_t inCluster) const {
    Piece piece;
    const std::uint64_t clusterSize = header_.clusterSize();
    const std::uint64_t entry = table[index];
    if (entry & qcow2::kCompressedFlag) return compressedPiece(entry, inCluster);
    // Version 2 has no zero flag; the bit is then reserved and ignored.
    auto kindOf = [this](std::uint64_t e) {
        if (e & qcow2::kCompressedFlag) return Piece::Kind::Compressed;
        if (header_.version >= 3 && (e & qcow2::kZeroFlag)) return Piece::Kind::Zero;
        if ((e & qcow2::kOffsetMask) == 0) {
            // Marked as allocated without an offset: it names the header as its data.
            if (e & qcow2::kCopiedFlag) return Piece::Kind::Unreadable;
            return parent_ ? Piece::Kind::Backing : Piece::Kind::Zero;
        }
        return inMetadata(e & qcow2::kOffsetMask, header_.clusterSize()) ? Piece::Kind::Unreadable : Piece::Kind::Data;
    };
    piece.kind = kindOf(entry);
    const std::uint64_t host = entry & qcow2::kOffsetMask;
    if (piece.kind == Piece::Kind::Data && host % clusterSize != 0) {
        piece.kind = Piece::Kind::Unreadable;  // a data cluster must start on a cluster boundary
        piece.length = clusterSize - inCluster;
        return piece;
    }
    // Following entries of the same kind (data clusters: back to back in the file) join the piece.
    std::uint64_t clusters = 1;
    while (index + clusters < table.size()) {
        const std::uint64_t next = table[index + clusters];
        if (kindOf(next) != piece.kind) break;
        if (piece.kind == Piece::Kind::Data && (next & qcow2::kOffsetMask) != host + clusters * clusterSize) break;
        ++clusters;
    }
    piece.hostOffset = host + inCluster;
    piece.length = clusters * clusterSize - inCluster;
    return piece;
}

Qcow2Reader::Piece Qcow2Reader::resolveExtended(const std::vector<std::uint64_t>& table,
                                                            std::uint64_t index, std::uint64_t inCluster) const {
    Piece piece;
    const std::uint64_t clusterSize = header_.clusterSize();
    const std::uint64_t entry = table[index * 2];
    const std::uint64_t bitmap = table[index * 2 + 1];
    if (entry & qcow2::kCompressedFlag) return compressedPiece(entry, inCluster);
    const std::uint64_t host = entry & qcow2::kOffsetMask;
    const std::uint64_t subSize = clusterSize / qcow2::kSubclusters;
    auto kindOf = [&](unsigned sub) {
        if (bitmap & (1ULL << (32 + sub))) return Piece::Kind::Zero;
        if (bitmap & (1ULL << sub))
            return host != 0 && host % clusterSize == 0 && !inMetadata(host, clusterSize) ? Piece::Kind::Data
                                                                                          : Piece::Kind::Unreadable;
        return parent_ ? Piece::Kind::Backing : Piece::Kind::Zero;
    };
    const auto first = static_cast<unsigned>(inCluster / subSize);
    piece.kind = kindOf(first);
    unsigned end = first + 1;
    while (end < qcow2::kSubclusters && kindOf(end) == piece.kind) ++end;
    piece.hostOffset = host + inCluster;
    piece.length = end * subSize - inCluster;
    return piece;
}

SectorMapping Qcow2Reader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (sector >= totalSectors) return mapping;
    const auto lock = lockPieces();  // a child reads through this image
    const Piece piece = resolve(sector * kSectorSize);
    // Compressed clusters cannot be read in place: `read` serves them, and nothing maps through this image.
    mapping.state = piece.kind == Piece::Kind::Data || piece.kind == Piece::Kind::Compressed
                        ? SectorMapping::State::Allocated
                        : SectorMapping::State::Unallocated;
    mapping.fileOffset = piece.hostOffset;
    mapping.runSectors = std::max<std::uint64_t>(1, piece.length / kSectorSize);
    return mapping;
}

const std::uint8_t* Qcow2Reader::decompressedCluster(std::uint64_t hostOffset, std::uint64_t storedLength) const {
    if (hostOffset == cachedClusterOffset_) return cachedClusterOk_ ? cachedCluster_.data() : nullptr;
    cachedClusterOffset_ = hostOffset;
    cachedClusterOk_ = false;
    if (hostOffset >= imageFileSize) return nullptr;
    // The stored length is rounded up to whole sectors and may run past the end of the file.
    compressedBuffer_.resize(static_cast<std::size_t>(std::min(storedLength, imageFileSize - hostOffset)));
    compressedBuffer_.resize(file_.readAt(hostOffset, compressedBuffer_.data(), compressedBuffer_.size()));
    const auto type = header_.compressionType == 1 ? ClusterCompression::Zstd : ClusterCompression::Deflate;
    cachedClusterOk_ = decompressCluster(type, compressedBuffer_, cachedCluster_).ok;
    return cachedClusterOk_ ? cachedCluster_.data() : nullptr;
}

DiskPiece Qcow2Reader::piece(std::uint64_t offset, bool decode) const {
    DiskPiece out;
    if (offset >= diskBytes_) {  // the tail of a last sector the disk only partly covers
        out.kind = DiskPiece::Kind::Zero;
        out.length = totalSectors * kSectorSize - offset;
        return out;
    }
    const Piece p = resolve(offset);
    out.length = std::min(std::max<std::uint64_t>(p.length, 1), diskBytes_ - offset);
    switch (p.kind) {
        case Piece::Kind::Data:
            out.kind = DiskPiece::Kind::File;
            out.file = &file_;
            out.fileOffset = p.hostOffset;
            break;
        case Piece::Kind::Compressed: {
            out.kind = DiskPiece::Kind::Decoded;
            const std::uint8_t* cluster = decode ? decompressedCluster(p.hostOffset, p.storedLength) : nullptr;
            out.decoded = cluster ? cluster + (offset & (header_.clusterSize() - 1)) : nullptr;
            break;
        }
        case Piece::Kind::Zero: out.kind = DiskPiece::Kind::Zero; break;
        case Piece::Kind::Backing: out.kind = DiskPiece::Kind::Parent; break;
        case Piece::Kind::Unreadable: out.kind = DiskPiece::Kind::Unreadable; break;
    }
    return out;
}

Qcow2Reader::ClusterCount Qcow2Reader::countClusters() const {
    ClusterCount count;
    const qcow2::Header& h = header_;
    const std::uint64_t clusterSize = h.clusterSize();
    const std::uint64_t clusters = diskBytes_ / clusterSize + (diskBytes_ % clusterSize != 0);
    const std::uint64_t l2Entries = h.l2Entries();
    const unsigned words = h.l2EntryWords();
    std::set<std::uint64_t> used;  // host clusters of the tables and of the data clusters
    std::uint64_t tablesPastEnd = 0, clustersPastEnd = 0, usedTwice = 0, misaligned = 0, tablesInMetadata = 0,
                  clustersInMetadata = 0, compressedCut = 0;
    auto claim = [&](std::uint64_t hostCluster) {
        if (!used.insert(hostCluster).second) ++usedTwice;
    };
    tablesInMetadata += l1AtHeader_.size();
    for (std::uint64_t i = 0; i < blockMap.size(); ++i) {
        if (blockMap[i] == 0) continue;
        if (inMetadata(blockMap[i], clusterSize)) {
            ++tablesInMetadata;
            continue;
        }
        if (blockMap[i] % clusterSize != 0 || blockMap[i] >= imageFileSize || clusterSize > imageFileSize - blockMap[i]) {
            ++tablesPastEnd;
            continue;
        }
        claim(blockMap[i] / clusterSize);
        const std::vector<std::uint64_t>* table = l2Table(i);
        if (!table) {
            ++tablesPastEnd;
            continue;
        }
        for (std::uint64_t e = 0; e < l2Entries && i * l2Entries + e < clusters; ++e) {
            const std::uint64_t entry = (*table)[e * words];
            const std::uint64_t bitmap = words == 2 ? (*table)[e * words + 1] : 0;
            if (entry & qcow2::kCompressedFlag) {
                const qcow2::CompressedCluster c = qcow2::compressedCluster(entry, h.clusterBits);
                ++count.allocated;
                ++count.compressed;
                if (c.hostOffset >= imageFileSize) ++clustersPastEnd;
                else if (inMetadata(c.hostOffset, c.storedLength)) ++clustersInMetadata;
                // The last sector of a compressed cluster may lie past the end; its data must still decode.
                else if (c.storedLength > imageFileSize - c.hostOffset && !decompressedCluster(c.hostOffset, c.storedLength))
                    ++compressedCut;
                continue;  // compressed clusters share host clusters by design
            }
            const std::uint64_t host = entry & qcow2::kOffsetMask;
            const bool zero = words == 2 ? (bitmap >> 32) == 0xFFFFFFFFULL
                                         : h.version >= 3 && (entry & qcow2::kZeroFlag) != 0;
            if (zero && host == 0) ++count.zero;
            if (host == 0) {
                if (words == 1 && !zero && (entry & qcow2::kCopiedFlag)) ++clustersInMetadata;
                continue;
            }
            ++count.allocated;
            if (host % clusterSize != 0) ++misaligned;
            else if (host >= imageFileSize) ++clustersPastEnd;
            else if (inMetadata(host, clusterSize)) ++clustersInMetadata;
            // Internal snapshots share clusters with the current state on purpose; only one state is walked.
            else claim(host / clusterSize);
        }
    }
    if (tablesPastEnd)
        count.damage.push_back(std::to_string(tablesPastEnd) + " L2 tables lie past the end of the file or off a cluster boundary");
    if (tablesInMetadata)
        count.damage.push_back(std::to_string(tablesInMetadata) +
                               " L1 entries point at the image's own header or tables; their clusters are unreadable");
    if (clustersInMetadata)
        count.damage.push_back(std::to_string(clustersInMetadata) +
                               " clusters point at the image's own header or tables; they are unreadable");
    if (compressedCut)
        count.damage.push_back(std::to_string(compressedCut) +
                               " compressed clusters run past the end of the file and cannot be decoded");
    if (clustersPastEnd) count.damage.push_back(std::to_string(clustersPastEnd) + " clusters lie past the end of the file");
    if (misaligned) count.damage.push_back(std::to_string(misaligned) + " data clusters do not start on a cluster boundary");
    if (usedTwice) count.damage.push_back(std::to_string(usedTwice) + " clusters are used twice");
    return count;
}

}  // namespace halvard
