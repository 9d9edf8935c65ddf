#include "fs/fat/fat_family.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/unstored_skip.h"

namespace halvard {

namespace {
// The tree's status line is refreshed once per this many records: each refresh waits for the page.
constexpr std::size_t kFillStatusEvery = 512;
// The advanced finders read the volume this much at a time.
constexpr std::uint64_t kFinderChunk = 10 * 1024 * 1024;
// The entry scans read at least this much at a time, in whole clusters.
constexpr std::uint64_t kScanRead = 1024 * 1024;
}  // namespace

FatFamilyEngine::FatFamilyEngine(VolumeRecord volume)
    : reader_(volume), volume_(std::move(volume)) {
    volumeSize = volumeSizeBytes(volume_);
    if (volumeSize == ~0ULL) volumeSize = 0;
}

bool FatFamilyEngine::attachReader() {
    if (treeControl) rootItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
    return true;
}

UnstoredSkip FatFamilyEngine::unstoredSkip(std::uint64_t end) const {
    return UnstoredSkip(
        [this](std::uint64_t offset, std::uint64_t limit) { return reader_.storedRun(offset, limit); },
        end);
}

std::uint64_t FatFamilyEngine::readableSize() const {
    std::uint64_t size = volumeSize;
    // 0: the disk's size is unknown (or the volume starts past its end, where every read fails anyway).
    const std::uint64_t disk = reader_.diskBytesFromStart();
    if (disk > 0) size = std::min(size, disk);
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
        if (!reader_.read(offset, chunk.data(), length)) break;
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
        if (!reader_.read(offset, buffer.data(), length)) break;
        for (std::size_t c = 0; c < length; c += static_cast<std::size_t>(clusterSize)) {
            if (stop.stopNow()) return;
            visit(Bytes(buffer.data() + c, length - c), offset + c);
        }
    }
    reporting.setPosition(1000);
    if (unstored.skippedBytes()) reporting.setStatus(unstoredSkipText(unstored.skippedBytes()));
}

bool FatFamilyEngine::readBootSector(std::uint64_t sector) {
    boot_.assign(512, 0);
    return reader_.read(sector * 512, boot_.data(), boot_.size());
}

bool FatFamilyEngine::readClusters(std::uint32_t first, std::uint64_t count, std::uint8_t* buffer) const {
    const std::uint64_t bytes = count * geometry_.clusterSize;
    if (!geometry_.validCluster(first) || first + count > geometry_.clusterLimit) {
        std::memset(buffer, 0, static_cast<std::size_t>(bytes));
        return false;
    }
    return reader_.read(geometry_.clusterOffset(first), buffer, static_cast<std::size_t>(bytes));
}

void FatFamilyEngine::useGeometry(const FatGeometry& geometry, bool exfat) {
    geometry_ = geometry;
    fat_.reset([this](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        return reader_.read(offset, buffer, length);
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

std::unique_ptr<FileContent> FatFamilyEngine::chainContent(ClusterChain chain, std::uint64_t dataBytes,
                                                           std::uint64_t zeroTail, ContentFacts facts) const {
    ContentLayout layout;
    const std::uint64_t cs = geometry_.clusterSize;
    std::uint64_t remaining = dataBytes;
    std::uint32_t cluster = 0;
    while (cs != 0 && remaining > 0 && chain.next(cluster)) {
        const std::uint64_t n = std::min(remaining, cs);
        if (geometry_.validCluster(cluster) && cluster < geometry_.clusterLimit) {
            layout.stored(n, geometry_.clusterOffset(cluster));
        } else {
            layout.missing(n);
            facts.damaged = true;
        }
        remaining -= n;
    }
    // A chain that ends early gives a shorter file.
    if (remaining > 0) facts.damaged = true;
    layout.zeros(zeroTail);
    return layoutContent([this](std::uint64_t offset, void* buffer, std::size_t length) {
        return reader_.read(offset, buffer, length);
    }, std::move(layout), std::move(facts));
}

void FatFamilyEngine::takeTimes(ContentFacts& facts, std::optional<std::int64_t> modified,
                                std::optional<std::int64_t> accessed) {
    if (modified) facts.modified = ContentTime{*modified, 0};
    if (accessed) facts.accessed = ContentTime{*accessed, 0};
}

}  // namespace halvard
