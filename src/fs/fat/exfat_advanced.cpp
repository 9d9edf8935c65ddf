// The exFAT advanced road: finding FAT copies and cluster heaps, scanning every cluster for whole entry sets, and
// building the records from them, with what no directory claims under "ORPHAN ENTRY".
#include <algorithm>
#include <new>

#include "fs/fat/exfat_engine.h"
#include "fs/fat/fat_candidates.h"

namespace halvard {

namespace {
constexpr std::size_t kEntry = 32;
constexpr const char* kOrphanEntry = "ORPHAN ENTRY";
constexpr int kMaxDepth = 64;
constexpr std::size_t kCandidateRead = 2048;
// A directory walked on this road is read whole, up to this much (131,072 entries): a damaged length must not
// claim the memory of every directory above it in the walk.
constexpr std::uint64_t kMaxWalkedDirectory = 4ULL * 1024 * 1024;
// The first sector of the backup boot region (the main region is sectors 0 to 11).
constexpr std::uint64_t kExfatBackupBootSector = 12;

ExFatEntry syntheticRecord(const ExFatEntry& model, const char* name, std::int32_t index) {
    ExFatEntry e = model;
    e.name = name;
    e.deleted = false;
    // Both are folders, whatever the first candidate was: the orphan folder must open.
    e.attributes = 0x10;
    e.entryType = 0x85;
    e.parentIndex = 0;
    e.ownIndex = index;
    return e;
}
}  // namespace

std::vector<std::uint64_t> ExFatEngine::findFatTables(std::int64_t limit) {
    const std::uint64_t most = limit < 0 ? 1 : static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 1));
    foundFats = findSteps([](Bytes step) { return isExfatTableStart(step); }, most, false);
    return foundFats;
}

std::vector<std::uint64_t> ExFatEngine::findHeapStarts(std::int64_t limit) {
    const std::uint64_t most = limit < 0 ? 1 : static_cast<std::uint64_t>(limit) + 1;
    foundHeaps = findSteps([](Bytes step) { return isExfatHeapStart(step); }, most, false, false);
    return foundHeaps;
}

FatFindings ExFatEngine::findStructures(std::int64_t limit) {
    FatFindings found;
    // The backup boot region starts at sector 12: where the main boot sector is gone, it gives the geometry.
    found.bootValid = checkBootSector() || checkBootSector(kExfatBackupBootSector);
    if (found.bootValid) found.bootClusterValue = ExfatBootSector::read(boot_).sectorsPerClusterShift;
    if (limit < 1) limit = 3;
    found.fats = findFatTables(limit);
    if (stop.stopNow()) return found;
    found.heaps = findHeapStarts(limit);
    // The boot sector knows the heap: its offset goes first.
    if (found.bootValid && !found.heaps.empty()) found.heaps[0] = foundHeaps[0] = geometry_.dataStart;
    return found;
}

void ExFatEngine::setUserGeometry(std::uint32_t shift) {
    ++userGeometry;
    bytesPerSectorShift = 9;
    sectorsPerClusterShift = shift & 0xFF;
}

void ExFatEngine::scanForEntries() {
    candidates.clear();
    labelPosition = 0;
    // Clusters of at most 32 MiB; a larger shift is not a cluster size.
    if (sectorsPerClusterShift > 16) return;
    const std::uint64_t cs = 1ULL << (bytesPerSectorShift + sectorsPerClusterShift);
    std::size_t shown = 0;
    scanClusters(cs, [&](Bytes rest, std::uint64_t offset) {
        const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(cs, rest.size()));
        for (std::size_t o = 0; o + kEntry <= bytes; o += kEntry) {
            const Bytes entry = rest.subspan(o, kEntry);
            if (entry[0] == 0x83) {
                if (isExfatLabel(entry)) labelPosition = offset + o;
                continue;
            }
            if (isExfatSetStart(rest, o)) candidates.push_back(offset + o);
        }
        if (candidates.size() - shown >= 64) {
            shown = candidates.size();
            reporting.setStatus("found Entry " + std::to_string(shown) + " ");
        }
    });
    reporting.setStatus("found Entry " + std::to_string(candidates.size()) + " ");
}

void ExFatEngine::walkCandidateDirectory(std::int32_t index, int depth) {
    if (depth > kMaxDepth) return;
    const ExFatEntry dir = entries[index];
    const std::uint64_t cs = geometry_.clusterSize;
    if (!geometry_.validCluster(dir.firstCluster)) return;
    const std::uint64_t length = std::min(std::max(dir.dataLength, dir.validDataLength), kMaxWalkedDirectory);
    const std::uint64_t size = readableSize();
    std::vector<std::uint64_t> clusterOffsets;
    ClusterChain chain = dataChain(dir, std::max<std::uint64_t>(1, (length + cs - 1) / cs));
    for (std::uint32_t c = 0; chain.next(c);) {
        if (geometry_.clusterOffset(c) >= size) break;
        clusterOffsets.push_back(geometry_.clusterOffset(c));
    }
    std::vector<std::uint8_t> bytes(clusterOffsets.size() * static_cast<std::size_t>(cs));
    for (std::size_t k = 0; k < clusterOffsets.size(); ++k)
        reader_.read(clusterOffsets[k], bytes.data() + k * cs, static_cast<std::size_t>(cs));
    const Bytes all(bytes);
    for (std::size_t o = 0; o + kEntry <= all.size();) {
        if (all[o] == 0x00) return;  // the directory ends here
        ExFatEntry e;
        const std::size_t used = readExfatEntrySet(all, o, e);
        if (!used) {
            o += kEntry;
            continue;
        }
        const std::uint64_t position = clusterOffsets[o / cs] + o % cs;
        if (!seenPositions.insert(position).second) {
            // Handled before, with what follows it in this cluster: go on with the next cluster.
            o = (o / cs + 1) * cs;
            continue;
        }
        o += used;
        e.parentIndex = index;
        e.ownIndex = static_cast<std::int32_t>(entries.size());
        entries.push_back(std::move(e));
        if (isExfatCandidateDirectory(entries.back().attributes)) walkCandidateDirectory(entries.back().ownIndex, depth + 1);
    }
}

std::size_t ExFatEngine::buildFromCandidates(std::uint64_t heapPosition, std::uint64_t fatPosition) {
    entries.clear();
    seenPositions.clear();
    const std::uint64_t size = readableSize();
    const std::uint64_t cs = 1ULL << (bytesPerSectorShift + std::min<std::uint32_t>(sectorsPerClusterShift, 16));
    FatGeometry g;
    g.bytesPerSector = 1u << bytesPerSectorShift;
    g.sectorsPerCluster = 1u << std::min<std::uint32_t>(sectorsPerClusterShift, 16);
    g.clusterSize = cs;
    g.fatStart = fatPosition;
    g.dataStart = heapPosition;
    g.fatBits = 32;
    const std::uint64_t clusters = size > heapPosition ? (size - heapPosition) / cs : 0;
    g.clusterLimit = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters + 2, 0xFFFFFFF6ULL));
    g.fatBytes = size > fatPosition ? std::min<std::uint64_t>(4ULL * g.clusterLimit, size - fatPosition) : 0;
    useGeometry(g, true);

    std::vector<std::uint8_t> bytes(kCandidateRead);
    for (const std::uint64_t position : candidates) {
        if (!seenPositions.insert(position).second) continue;
        if (entries.empty()) {
            if (labelPosition == 0) labelPosition = position;
            rootEnd = labelPosition + cs;
        }
        const std::uint64_t sector = position / 512 * 512;
        std::fill(bytes.begin(), bytes.end(), 0);
        reader_.read(sector, bytes.data(), bytes.size());
        ExFatEntry e;
        if (!readExfatEntrySet(Bytes(bytes), static_cast<std::size_t>(position - sector), e)) continue;
        if (entries.empty()) {
            entries.push_back(syntheticRecord(e, kDummyEntryName, 0));
            entries.push_back(syntheticRecord(e, kOrphanEntry, 1));
        }
        // The root's own sets lie in the cluster that starts with the volume label; every other set found on its
        // own has lost its directory.
        e.parentIndex = position >= labelPosition && position < rootEnd ? 0 : 1;
        e.ownIndex = static_cast<std::int32_t>(entries.size());
        entries.push_back(std::move(e));
        if (isExfatCandidateDirectory(entries.back().attributes)) walkCandidateDirectory(entries.back().ownIndex, 0);
    }
    seenPositions.clear();
    return entries.size();
}

bool ExFatEngine::parseAdvanced(const FatAdvancedPick& pick) {
    attachReader();
    setUserGeometry(pick.clusterValue);
    entries.clear();
    scanForEntries();
    reporting.setStatus("Maintaining TreeStructure for Tree Control");
    if (pick.fatPosition == 0 || pick.heapPosition == 0) return true;
    try {
        buildFromCandidates(pick.heapPosition, pick.fatPosition);
    } catch (const std::bad_alloc&) {
        // Keep the records built so far.
    }
    linkEntries(false);
    fillTree();
    return true;
}

}  // namespace halvard
