#include "fs/fat/fat_family.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <limits>

#include "common/host_files.h"
#include "image/unstored_skip.h"
#include "image/volume_read.h"

namespace halvard {

namespace {
// Files are copied this much at a time.
constexpr std::uint64_t kCopyChunk = 4 * 1024 * 1024;
// The tree's status line is refreshed once per this many records: each refresh waits for the page.
constexpr std::size_t kFillStatusEvery = 512;
// The advanced finders read the volume this much at a time.
constexpr std::uint64_t kFinderChunk = 10 * 1024 * 1024;
// The entry scans read at least this much at a time, in whole clusters.
constexpr std::uint64_t kScanRead = 1024 * 1024;
}  // namespace

FatFamilyEngine::FatFamilyEngine(DiskReader& reader, VolumeRecord volume)
    : reader_(reader), volume_(std::move(volume)) {
    const std::int64_t start = volume_.startSector;
    volumeBase_ = start > 0 && start <= std::numeric_limits<std::int64_t>::max() / 512 ? start * 512 : 0;
    volumeSize = volumeSizeBytes(volume_);
    if (volumeSize == ~0ULL) volumeSize = 0;
}

bool FatFamilyEngine::attachReader() {
    {
        std::lock_guard lock(readerMutex_);
        reader_.volumeBaseOffset = volumeBase_;
        reader_.seek(0);
    }
    if (treeControl) rootItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
    return true;
}

bool FatFamilyEngine::readVolume(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const {
    std::lock_guard lock(readerMutex_);
    return readFromVolume(reader_, volumeBase_, offset, buffer, length);
}

UnstoredSkip FatFamilyEngine::unstoredSkip(std::uint64_t end) const {
    return UnstoredSkip(
        [this](std::uint64_t offset, std::uint64_t limit) {
            std::lock_guard lock(readerMutex_);
            return reader_.storedRunOnDisk(static_cast<std::uint64_t>(volumeBase_) + offset, limit);
        },
        end);
}

std::uint64_t FatFamilyEngine::readableSize() const {
    std::uint64_t size = volumeSize;
    const std::uint64_t disk = reader_.totalSectors * 512;
    const auto base = static_cast<std::uint64_t>(volumeBase_);
    if (reader_.totalSectors > 0) size = disk > base ? std::min(size, disk - base) : 0;
    return size;
}

std::vector<std::uint64_t> FatFamilyEngine::findSteps(const std::function<bool(Bytes)>& accept,
                                                      std::uint64_t maxCount, bool chunkStatus, bool countStatus) {
    std::vector<std::uint64_t> found;
    reporting.setRange(0, 1000);
    const std::uint64_t size = readableSize();
    std::vector<std::uint8_t> chunk;
    try {
        chunk.resize(kFinderChunk);
    } catch (const std::bad_alloc&) {
        return found;
    }
    // Unstored parts read as zeros, which no test takes.
    UnstoredSkip unstored = unstoredSkip(size);
    for (std::uint64_t offset = 0; offset < size && found.size() < maxCount; offset += kFinderChunk) {
        offset = unstored.next(offset, 512);
        if (offset >= size) break;
        reporting.setPosition(static_cast<std::uint32_t>(offset * 1000 / size));
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kFinderChunk, size - offset));
        std::fill(chunk.begin(), chunk.end(), 0);
        if (!readVolume(offset, chunk.data(), length)) break;
        if (chunkStatus) {
            char text[128];
            std::snprintf(text, sizeof text, "Parsing Disk Currently at position %f of the disk of size %f",
                          static_cast<double>(offset), static_cast<double>(size));
            reporting.setStatus(text);
        }
        for (std::size_t o = 0; o + 512 <= length && found.size() < maxCount; o += 512) {
            if (!accept(Bytes(chunk.data() + o, 512))) continue;
            found.push_back(offset + o);
            if (countStatus) reporting.setStatus("found fat entry  " + std::to_string(found.size()) + " ");
        }
        if (stop.stopNow()) break;
    }
    reporting.setPosition(1000);
    if (unstored.skippedBytes()) reporting.setStatus(unstoredSkipText(unstored.skippedBytes()));
    return found;
}

void FatFamilyEngine::scanClusters(std::uint64_t clusterSize, const std::function<void(Bytes, std::uint64_t)>& visit) {
    const std::uint64_t size = readableSize();
    if (clusterSize == 0 || size == 0) return;
    reporting.setRange(0, 1000);
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kScanRead / clusterSize) * clusterSize;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(perRead));
    std::uint32_t shown = 0;
    // A cluster the image does not store is all zeros: no slot of it looks like an entry.
    UnstoredSkip unstored = unstoredSkip(size);
    for (std::uint64_t offset = 0; offset < size; offset += perRead) {
        offset = unstored.next(offset, clusterSize);
        if (offset >= size) break;
        const std::uint32_t share = static_cast<std::uint32_t>(offset * 1000 / size);
        if (share != shown) reporting.setPosition(shown = share);
        const auto length = static_cast<std::size_t>(std::min(perRead, size - offset));
        std::fill(buffer.begin(), buffer.end(), 0);
        // Past the end of what the disk holds nothing more can be read: the scan ends rather than spin there.
        if (!readVolume(offset, buffer.data(), length)) break;
        for (std::size_t c = 0; c < length; c += static_cast<std::size_t>(clusterSize)) {
            if (stop.stopNow()) return;
            visit(Bytes(buffer.data() + c, length - c), offset + c);
        }
    }
    reporting.setPosition(1000);
    if (unstored.skippedBytes()) reporting.setStatus(unstoredSkipText(unstored.skippedBytes()));
}

bool FatFamilyEngine::readBootSector() {
    boot_.assign(512, 0);
    return readVolume(0, boot_.data(), boot_.size());
}

bool FatFamilyEngine::readClusters(std::uint32_t first, std::uint64_t count, std::uint8_t* buffer) const {
    const std::uint64_t bytes = count * geometry_.clusterSize;
    if (!geometry_.validCluster(first) || first + count > geometry_.clusterLimit) {
        std::memset(buffer, 0, static_cast<std::size_t>(bytes));
        return false;
    }
    return readVolume(geometry_.clusterOffset(first), buffer, static_cast<std::size_t>(bytes));
}

void FatFamilyEngine::useGeometry(const FatGeometry& geometry, bool exfat) {
    geometry_ = geometry;
    fat_.reset([this](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        return readVolume(offset, buffer, length);
    }, geometry.fatStart, geometry.fatBytes, geometry.fatBits, geometry.clusterLimit, exfat);
}

std::vector<std::uint8_t> FatFamilyEngine::readDirectoryClusters(ClusterChain chain, std::uint64_t maxBytes) {
    std::vector<std::uint8_t> bytes;
    const std::uint64_t cs = geometry_.clusterSize;
    std::uint32_t cluster = 0;
    while (bytes.size() + cs <= maxBytes && chain.next(cluster)) {
        if (!readDirClusters.insert(cluster).second) break;
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(cs));
        readClusters(cluster, 1, bytes.data() + at);
    }
    return bytes;
}

void FatFamilyEngine::walkDirectories() {
    std::vector<DirectoryFrame> frames(1);
    frames[0].firstCluster = geometry_.rootCluster;
    frames[0].bytes = std::move(root_);
    root_.clear();
    parentStack.assign(1, 0);
    while (!frames.empty()) {
        if (stop.stopNow()) break;
        const WalkStep step = takeNextEntry(frames.back());
        if (step.end) {
            frames.pop_back();
            parentStack.pop_back();
            continue;
        }
        if (step.descendInto < 0) continue;
        if (auto below = openDirectory(step.descendInto, frames.back())) {
            below->ownIndex = step.descendInto;
            parentStack.push_back(step.descendInto);
            frames.push_back(std::move(*below));
        }
    }
    parentStack.clear();
}

std::int32_t FatFamilyEngine::mergedInto(DirectoryFrame& frame, std::uint32_t cluster, std::string& name,
                                         bool deleted, std::int32_t newIndex) {
    if (!geometry_.validCluster(cluster)) return -1;
    const auto [known, added] = frame.byCluster.emplace(cluster, newIndex);
    if (added) return -1;
    FatFamilyRecord& earlier = mutableRecord(static_cast<std::size_t>(known->second));
    if (!deleted || earlier.deleted) {
        std::lock_guard lock(nameMutex_);
        earlier.name = std::move(name);
        earlier.deleted = deleted;
    }
    return known->second;
}

std::size_t FatFamilyEngine::linkEntries(bool reportProgress) {
    const std::size_t n = recordCount();
    if (reportProgress) reporting.setRange(0, 1000);
    std::vector<std::int32_t> lastChild(n, -1);
    std::uint32_t shown = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (reportProgress) {
            const auto share = static_cast<std::uint32_t>(static_cast<std::uint64_t>(i) * 1000 / n);
            if (share != shown) reporting.setPosition(shown = share);
        }
        FatFamilyRecord& r = mutableRecord(i);
        r.firstChild = r.nextSibling = -1;
        const std::int32_t p = r.parentIndex;
        if (p < 0 || static_cast<std::size_t>(p) >= n || static_cast<std::size_t>(p) == i) continue;
        if (lastChild[p] < 0)
            mutableRecord(p).firstChild = static_cast<std::int32_t>(i);
        else
            mutableRecord(lastChild[p]).nextSibling = static_cast<std::int32_t>(i);
        lastChild[p] = static_cast<std::int32_t>(i);
    }
    if (reportProgress) reporting.setPosition(1000);
    return n;
}

std::vector<std::size_t> FatFamilyEngine::children(std::size_t index) const {
    std::vector<std::size_t> out;
    const std::size_t n = recordCount();
    if (index >= n) return out;
    // Links only point forward (a record's children come after it), so the chain cannot loop; the bound is a
    // second guard.
    for (std::int32_t c = record(index).firstChild; c > 0 && static_cast<std::size_t>(c) < n && out.size() < n;
         c = record(c).nextSibling)
        out.push_back(static_cast<std::size_t>(c));
    return out;
}

FatEntryFacts FatFamilyEngine::facts(std::size_t index) const {
    FatEntryFacts f;
    if (index >= recordCount()) return f;
    f.name = entryName(index);
    f.folder = isFolder(index);
    f.deleted = record(index).deleted;
    addEntryFacts(index, f);
    return f;
}

FatEntryTexts FatFamilyEngine::entryText(std::size_t index) const {
    const FatEntryFacts f = facts(index);
    FatEntryTexts t;
    if (f.created) t.created = timeText(*f.created);
    if (f.accessed) t.accessed = f.accessDateOnly ? dateText(*f.accessed) : timeText(*f.accessed);
    if (f.modified) t.modified = timeText(*f.modified);
    t.attributes = f.attributes;
    return t;
}

std::string FatFamilyEngine::entryName(std::size_t index) const {
    if (index >= recordCount()) return {};
    std::lock_guard lock(nameMutex_);
    return record(index).name;
}

void FatFamilyEngine::renameEntry(std::size_t index, const std::string& name) {
    if (index >= recordCount()) return;
    std::lock_guard lock(nameMutex_);
    mutableRecord(index).name = name;
}

void FatFamilyEngine::fillTree() {
    if (!treeControl) return;
    const std::vector<std::size_t> top = topLevel();
    for (std::size_t k = 0; k < top.size(); ++k) {
        const std::size_t i = top[k];
        if (k % kFillStatusEvery == 0 || k + 1 == top.size())
            reporting.setStatus("filling entry =" + std::to_string(i) + " in tree ");
        const FatFamilyRecord& r = record(i);
        const TreeColour colour = r.deleted ? TreeColour::Deleted : TreeColour::Normal;
        if (isFolder(i)) {
            const TreeItemId item = treeControl->insertItem(rootItem_, r.name, TreeIcon::Folder, colour, i);
            treeControl->expandItem(item);
        } else {
            treeControl->insertItem(rootItem_, r.name, TreeIcon::File, colour, i);
        }
    }
    treeControl->expandItem(rootItem_);
}

FatSaveResult FatFamilyEngine::writeFile(const std::string& hostPath, ClusterChain chain, std::uint64_t dataBytes,
                                         std::uint64_t zeroTail, const FatHostTimes& times) const {
    FatSaveResult result;
    HostFile out;
    if (!out.create(hostPath)) {
        result.error = out.error();
        result.diskFull = out.diskFull();
        return result;
    }
    const std::uint64_t cs = geometry_.clusterSize;
    const std::uint64_t runMax = std::max<std::uint64_t>(1, kCopyChunk / std::max<std::uint64_t>(cs, 1));
    std::vector<std::uint8_t> buffer;
    std::uint64_t remaining = dataBytes;
    bool ok = true;
    std::uint32_t cluster = 0;
    bool pending = cs != 0 && remaining > 0 && chain.next(cluster);
    // Clusters that follow each other on the disk are read together.
    while (ok && pending && remaining > 0) {
        const std::uint32_t first = cluster;
        std::uint64_t count = 1;
        pending = false;
        while (count < runMax && count * cs < remaining) {
            if (!chain.next(cluster)) break;
            if (cluster != first + count) {
                pending = true;
                break;
            }
            ++count;
        }
        if (!pending && count * cs < remaining) pending = chain.next(cluster);
        buffer.resize(static_cast<std::size_t>(count * cs));
        if (!readClusters(first, count, buffer.data())) result.damaged = true;
        const std::uint64_t n = std::min<std::uint64_t>(remaining, count * cs);
        ok = out.write(buffer.data(), static_cast<std::size_t>(n));
        remaining -= n;
    }
    if (remaining > 0) result.damaged = true;
    if (ok) ok = out.writeZeros(zeroTail);
    result.bytes = out.written();
    if (!out.close()) ok = false;
    if (!ok) {
        result.error = out.error();
        result.diskFull = out.diskFull();
        return result;
    }
    if (times.set) setHostFileTimes(hostPath, times.accessed, 0, times.modified, 0);
    result.written = true;
    return result;
}

}  // namespace halvard
