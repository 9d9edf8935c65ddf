// The FAT12/16 and FAT32 advanced road: finding FAT copies, scanning every cluster for slots that look like
// directory entries, and building the records from them, with what no directory claims under "ORPHAN ENTRY".
#include <algorithm>
#include <cstdio>
#include <new>

#include "fs/fat/fat_engine.h"
#include "fs/fat/fat_slot.h"

namespace halvard {

using namespace fat_slot;

namespace {
inline constexpr const char* kOrphanEntry = "ORPHAN ENTRY";
// Directories nest no deeper than this on the advanced road (a loop of clusters could nest for ever).
constexpr int kMaxDepth = 64;
// Bytes read around a candidate: its sector and the three after it, room for a long name's run.
constexpr std::size_t kCandidateRead = 2048;
// Where mkfs.fat and the other formatting tools put the FAT32 backup boot sector (the field that says so is in the
// boot sector itself).
constexpr std::uint64_t kFat32BackupBootSector = 6;
// Volumes with fewer clusters than this are FAT12.
constexpr std::uint64_t kFat12MaxClusters = 4085;

FatEntry syntheticRecord(const char* name, std::uint8_t attributes, std::int32_t index) {
    FatEntry e;
    e.name = name;
    e.attributes = attributes;
    e.parentIndex = 0;
    e.ownIndex = index;
    return e;
}
}  // namespace

std::vector<std::uint64_t> FatEngine::findFatTables(std::int64_t limit) {
    const std::uint64_t most = limit < 0 ? 1 : static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 1));
    foundFats = findSteps([this](Bytes step) { return isTableStart(step); }, most, kind() == FatKind::Fat32);
    return foundFats;
}

FatFindings FatEngine::findStructures(std::int64_t limit) {
    FatFindings found;
    // A FAT32 volume keeps a copy of its boot sector at sector 6: where the first is gone, the copy gives the
    // geometry, and its cluster size leads the offered ones.
    found.bootValid = checkBootSector() || (kind() == FatKind::Fat32 && checkBootSector(kFat32BackupBootSector));
    bootGeometry_ = found.bootValid;
    if (found.bootValid) found.bootClusterValue = geometry_.sectorsPerCluster;
    found.fats = findFatTables(limit < 1 ? 3 : limit);
    return found;
}

void FatEngine::setUserGeometry(std::uint32_t sectorsPerCluster) {
    ++userGeometry;
    userBytesPerSector = 512;
    userSectorsPerCluster = sectorsPerCluster;
}

void FatEngine::prepareAdvancedScan(std::uint64_t position) {
    geometry_.fatStart = position;
    candidates.clear();
    if (fixedRootBytes() == 0 || bootGeometry_) return;
    // Two FAT copies, each a whole number of sectors (one more when it fills them exactly), and 4 KiB.
    const std::uint64_t clusters = volumeSize / (512ULL * std::max<std::uint32_t>(userSectorsPerCluster, 1));
    const std::uint64_t fatBytes = 2 * clusters;
    const std::uint64_t padded = fatBytes % 512 == 0 ? fatBytes + 512 : (fatBytes + 511) / 512 * 512;
    rootStart = 2 * (padded + 2048);
}

void FatEngine::scanForEntries() {
    candidates.clear();
    foundCount = 0;
    dotVotes_.clear();
    rootMarker_.reset();
    const std::uint64_t cs = 512ULL * userSectorsPerCluster;
    if (cs == 0) return;
    const std::uint64_t clusterLimit = volumeSize / cs;
    std::uint64_t shownCount = 0;
    scanClusters(cs, [&](Bytes rest, std::uint64_t offset) {
        // FAT12/16 tell where the scan is, every 256 clusters rather than every one.
        if (kind() == FatKind::Fat16 && offset % (cs * 256) == 0) {
            char where[96];
            std::snprintf(where, sizeof where, "currently at sector %lld of %lld", static_cast<long long>(offset / 512),
                          static_cast<long long>(volumeSize / 512));
            reporting.setStatus(where);
        }
        const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(cs, rest.size()));
        for (std::size_t o = 0; o + kSlot <= bytes; o += kSlot) {
            const Bytes slot = rest.subspan(o, kSlot);
            const std::uint64_t position = offset + o;
            if (looksForRootMarker() && !rootMarker_ && isFat32RootMarker(slot)) rootMarker_ = position;
            if (slot[0] == '.') {
                // A directory's first cluster starts with "." naming that cluster: cluster 2 lies (c - 2)
                // clusters before it.
                const std::uint32_t c = dotSlotCluster(rest.subspan(o));
                if (c >= 2 && (c - 2ULL) * cs <= position) ++dotVotes_[position - (c - 2ULL) * cs];
                continue;
            }
            if (candidateKind(slot, clusterLimit) == SlotKind::None) continue;
            candidates.push_back(position);
            ++foundCount;
        }
        // One status line per cluster would hold the scan up on the page for every cluster.
        if (foundCount != shownCount && (foundCount - shownCount >= 64 || offset % (cs * 256) == 0)) {
            shownCount = foundCount;
            reporting.setStatus("found file or directory =  " + std::to_string(foundCount) + " ");
        }
    });
    reporting.setStatus("found file or directory =  " + std::to_string(foundCount) + " ");
}

void FatEngine::settleAdvancedGeometry() {
    FatGeometry g = geometry_;
    const std::uint64_t cs = 512ULL * userSectorsPerCluster;
    const std::uint64_t size = readableSize();
    const std::uint64_t rootBytes = fixedRootBytes();
    g.bytesPerSector = userBytesPerSector;
    g.sectorsPerCluster = userSectorsPerCluster;
    g.clusterSize = cs;
    g.fatBits = bootGeometry_ && geometry_.fatBits ? geometry_.fatBits : advancedFatBits();
    if (!bootGeometry_) {
        std::uint64_t best = 0, votes = 0;
        for (const auto& [start, count] : dotVotes_)
            if (count > votes) best = start, votes = count;
        if (votes > 0) {
            g.dataStart = best;
        } else if (rootBytes) {
            if (rootStart == 0 && !candidates.empty()) rootStart = candidates.front() >= 32 ? candidates.front() - 32 : 0;
            g.dataStart = rootStart + rootBytes;
        } else if (rootMarker_) {
            g.dataStart = *rootMarker_;
        } else {
            g.dataStart = !candidates.empty() && candidates.front() >= 32 ? candidates.front() - 32 : 0;
        }
        g.rootCluster = 2;
    }
    if (rootBytes) {
        rootStart = bootGeometry_ ? geometry_.rootStart : (g.dataStart >= rootBytes ? g.dataStart - rootBytes : 0);
        g.rootStart = rootStart;
        g.rootBytes = bootGeometry_ ? geometry_.rootBytes : rootBytes;
        rootEnd = rootStart + g.rootBytes;
    } else {
        rootStart = rootMarker_ && !bootGeometry_ ? *rootMarker_ : g.clusterOffset(g.rootCluster ? g.rootCluster : 2);
        rootEnd = rootStart + cs;
    }
    const std::uint64_t dataClusters = size > g.dataStart && cs ? (size - g.dataStart) / cs : 0;
    // Without a boot sector the cluster count decides the entry width, as it does for a formatting tool: a
    // FAT12 table read as FAT16 would end every directory after its first cluster.
    if (!bootGeometry_ && g.fatBits == 16 && dataClusters < kFat12MaxClusters) g.fatBits = 12;
    const std::uint64_t maxClusters = g.fatBits == 32 ? 0x0FFFFFF7ULL : g.fatBits == 16 ? 0xFFF7ULL : 0xFF7ULL;
    g.clusterLimit = static_cast<std::uint32_t>(std::min(dataClusters + 2, maxClusters));
    const std::uint64_t fatBytes = (static_cast<std::uint64_t>(g.clusterLimit) * g.fatBits + 7) / 8;
    g.fatBytes = size > g.fatStart ? std::min(fatBytes, size - g.fatStart) : 0;
    useGeometry(g, false);
}

std::int32_t FatEngine::addSlotRecord(Bytes slot, const LongName& longName, std::int32_t parent) {
    FatEntry e = slotFields(slot);
    nameEntry(e, slot, longName);
    e.parentIndex = parent;
    e.ownIndex = static_cast<std::int32_t>(entries.size());
    entries.push_back(std::move(e));
    return entries.back().ownIndex;
}

void FatEngine::walkCandidateDirectory(std::uint32_t cluster, std::int32_t parent, int depth) {
    if (depth > kMaxDepth) return;
    const std::uint64_t cs = geometry_.clusterSize;
    const std::uint64_t size = readableSize();
    ClusterChain chain(fat_, cluster, chainWay(), kMaxDirectoryBytes / cs);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cs));
    LongName longName;
    bool first = true;
    for (std::uint32_t c = 0; chain.next(c);) {
        const std::uint64_t offset = geometry_.clusterOffset(c);
        if (offset >= size) return;
        reader_.read(offset, bytes.data(), bytes.size());
        const Bytes dir(bytes);
        // A directory's first cluster begins with its "." slot naming it; anything else now holds other data.
        if (first && dotSlotCluster(dir) != cluster) return;
        first = false;
        for (std::size_t o = 0; o + kSlot <= dir.size(); o += kSlot) {
            const Bytes slot = dir.subspan(o, kSlot);
            const std::uint8_t lead = slot[0], attributes = slot[11];
            if (lead == 0x00 || attributes == 0xCD) return;
            // A slot handled before (as a candidate, or by another directory naming this cluster) ends this
            // cluster's walk: what follows was handled with it.
            if (lead != '.' && !seenPositions.insert(offset + o).second) break;
            if (attributes == kLongNameAttribute) {
                longName.add(slot);
                continue;
            }
            if (lead == '.' || isVolumeLabel(attributes)) {
                longName.clear();
                continue;
            }
            const std::int32_t index = addSlotRecord(slot, longName, parent);
            longName.clear();
            if (isFatDirectoryAttribute(attributes))
                walkCandidateDirectory(entries[index].firstCluster(), index, depth + 1);
        }
    }
}

std::size_t FatEngine::buildFromCandidates() {
    entries.clear();
    seenPositions.clear();
    entries.push_back(syntheticRecord(kDummyEntryName, 0x0F, 0));
    entries.push_back(syntheticRecord(kOrphanEntry, 0x10, 1));
    std::vector<std::uint8_t> bytes(kCandidateRead);
    // A long name found as a candidate, waiting for the short slot right after its run.
    LongName pending;
    std::uint64_t pendingFor = ~0ULL;
    for (const std::uint64_t position : candidates) {
        if (!seenPositions.insert(position).second) continue;
        const std::uint64_t sector = position / 512 * 512;
        std::fill(bytes.begin(), bytes.end(), 0);
        reader_.read(sector, bytes.data(), bytes.size());
        const Bytes around(bytes);
        const std::size_t at = static_cast<std::size_t>(position - sector);
        const Bytes slot = around.subspan(at, kSlot);
        if (slot[0] == '.') continue;
        if (slot[11] == kLongNameAttribute) {
            pending.clear();
            std::size_t k = at;
            while (k + kSlot <= around.size() && around[k + 11] == kLongNameAttribute &&
                   pending.parts.size() < kMaxLongNameSlots) {
                pending.add(around.subspan(k, kSlot));
                if (k != at) seenPositions.insert(sector + k);
                k += kSlot;
            }
            pendingFor = k + kSlot <= around.size() && around[k + 11] != 0x00 ? sector + k : ~0ULL;
            continue;
        }
        // A long name belongs only to the slot that ends its run; any other candidate keeps its short name.
        if (pendingFor != position) pending.clear();
        pendingFor = ~0ULL;
        const bool inRoot = position >= rootStart && position < rootEnd;
        const std::int32_t index = addSlotRecord(slot, pending, inRoot ? 0 : 1);
        pending.clear();
        if (isFatDirectoryAttribute(slot[11])) walkCandidateDirectory(entries[index].firstCluster(), index, 0);
    }
    seenPositions.clear();
    return entries.size();
}

bool FatEngine::parseAdvanced(const FatAdvancedPick& pick) {
    if (pick.clusterValue == 0) return false;
    attachReader();
    setUserGeometry(pick.clusterValue);
    entries.clear();
    prepareAdvancedScan(pick.fatPosition);
    scanForEntries();
    settleAdvancedGeometry();
    reporting.setStatus("Maintaining directory Structure in AdvanceScanning");
    try {
        buildFromCandidates();
    } catch (const std::bad_alloc&) {
        // Keep the records built so far.
    }
    reporting.setStatus(kind() == FatKind::Fat32 ? "Maintaining TreeStructure for Tree Control"
                                                 : "Maintaining Tree Structure for Tree Control");
    linkEntries(false);
    fillTree();
    return true;
}

}  // namespace halvard
