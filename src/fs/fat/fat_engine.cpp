#include "fs/fat/fat_engine.h"

#include "fs/fat/fat_names.h"
#include "fs/fat/fat_slot.h"

namespace halvard {

using namespace fat_slot;

bool isFatDirectoryAttribute(std::uint8_t attributes) {
    return attributes != kLongNameAttribute && (attributes & 0x10) != 0 && (attributes & 0x08) == 0;
}

bool FatEngine::checkBootSector(std::uint64_t sector) {
    readBootSector(sector);
    const FatBootSector b = FatBootSector::read(boot_);
    if (!(b.oemMsdos || b.oemBsd || b.plausibleBpb) || !isOwnKind(b) || !b.usableGeometry()) return false;
    useGeometry(b.geometry(volumeSize, fat12Hint()), false);
    return geometry_.clusterSize != 0;
}

ClusterChain::Way FatEngine::chainWay() const {
    return formattedDriveFlag ? ClusterChain::Way::FirstOnly : ClusterChain::Way::Fat;
}

std::uint32_t FatEngine::nextCluster(std::uint32_t cluster) const {
    if (formattedDriveFlag || !geometry_.validCluster(cluster)) return 0xFFFFFFFF;
    return fat_.entry(cluster);
}

std::size_t FatEngine::parseRootDirectory() {
    entries.clear();
    FatEntry placeholder = slotFields(root_);
    placeholder.name = kDummyEntryName;
    entries.push_back(std::move(placeholder));
    walkDirectories();
    return entries.size();
}

bool FatEngine::parseStandard() {
    if (!checkBootSector()) return false;
    prepareRoot();
    reporting.setStatus(findingText());
    parseRootDirectory();
    reporting.setStatus("maintaining tree Structure in vector...");
    linkEntries(showsProgress());
    reporting.setStatus("Creating Tree Structure....");
    fillTree();
    reporting.setStatus("Tree Structure Created.");
    if (showsProgress()) {
        reporting.setRange(0, 100);
        reporting.setPosition(100);
    }
    return true;
}

FatFamilyEngine::WalkStep FatEngine::takeNextEntry(DirectoryFrame& frame) {
    const Bytes bytes(frame.bytes);
    LongName longName;
    while (frame.offset + kSlot <= bytes.size()) {
        const Bytes slot = bytes.subspan(frame.offset, kSlot);
        const std::uint8_t first = slot[0];
        const std::uint8_t attributes = slot[11];
        if (first == 0x00) break;  // the directory ends here
        frame.offset += kSlot;
        if (attributes == kLongNameAttribute) {
            longName.add(slot);
            continue;
        }
        if (first == '.' || isVolumeLabel(attributes)) {
            longName.parts.clear();
            continue;
        }
        FatEntry e = slotFields(slot);
        nameEntry(e, slot, longName);
        e.parentIndex = frame.ownIndex;
        const auto index = static_cast<std::int32_t>(entries.size());
        e.ownIndex = index;
        if (!isFatDirectoryAttribute(attributes)) {
            entries.push_back(std::move(e));
            return {};
        }
        if (mergedInto(frame, e.firstCluster(), e.name, e.deleted, index) >= 0) return {};
        entries.push_back(std::move(e));
        return {false, index};
    }
    return {true, -1};
}

std::optional<FatFamilyEngine::DirectoryFrame> FatEngine::openDirectory(std::int32_t index,
                                                                         const DirectoryFrame& parent) {
    const FatEntry& e = entries[index];
    const std::uint32_t cluster = e.firstCluster();
    if (!geometry_.validCluster(cluster) || readDirClusters.count(cluster)) return std::nullopt;
    std::vector<std::uint8_t> head(static_cast<std::size_t>(geometry_.clusterSize));
    readClusters(cluster, 1, head.data());
    // A directory starts with its "." entry; without it the cluster now holds something else.
    if (head[0] != '.') return std::nullopt;
    if (e.deleted) {
        // The cluster of a deleted directory may since belong to another directory: its "." and ".." must name
        // this directory and the one it was found in.
        const std::uint32_t self = static_cast<std::uint32_t>(le16(head, 20)) << 16 | le16(head, 26);
        const std::uint32_t up = static_cast<std::uint32_t>(le16(head, 52)) << 16 | le16(head, 58);
        const bool upMatches = up == parent.firstCluster || (parent.ownIndex == 0 && up == 0);
        if (self != cluster || u8(head, 32) != '.' || u8(head, 33) != '.' || !upMatches) return std::nullopt;
    }
    DirectoryFrame frame;
    frame.firstCluster = cluster;
    frame.bytes = readDirectoryClusters(ClusterChain(fat_, cluster, chainWay()), kMaxDirectoryBytes);
    return frame;
}

bool FatEngine::isFolder(std::size_t index) const {
    return index < entries.size() && isFatDirectoryAttribute(entries[index].attributes);
}

void FatEngine::addEntryFacts(std::size_t index, FatEntryFacts& f) const {
    const FatEntry& e = entries[index];
    f.size = e.size;
    f.created = dosCalendarTime(e.createDate, e.createTime, e.createTenths / 100);
    f.accessed = dosCalendarTime(e.accessDate, 0);
    f.accessDateOnly = true;
    f.modified = dosCalendarTime(e.writeDate, e.writeTime);
    f.attributes = fatAttributeText(e.attributes);
}

std::string FatEngine::entrySizeText(const FatEntry& entry) { return sizeText(entry.size); }

std::unique_ptr<FileContent> FatEngine::openContent(std::size_t index) const {
    if (index >= entries.size()) return refusedContent("no such entry");
    const FatEntry& e = entries[index];
    // A deleted file's chain is freed: only its first cluster is known to be its own, unless the drive was
    // formatted, when the file is taken to lie in one piece.
    ClusterChain::Way way = ClusterChain::Way::Fat;
    if (formattedDriveFlag)
        way = ClusterChain::Way::Contiguous;
    else if (e.deleted)
        way = ClusterChain::Way::FirstOnly;
    // DOS times are the writer's local time.
    auto seconds = [](const std::optional<CalendarTime>& t) {
        return t ? std::optional<std::int64_t>(hostSecondsFromLocal(*t)) : std::nullopt;
    };
    ContentFacts facts;
    takeTimes(facts, seconds(dosCalendarTime(e.writeDate, e.writeTime)), seconds(dosCalendarTime(e.accessDate, 0)));
    return chainContent(ClusterChain(fat_, e.firstCluster(), way), e.size, 0, std::move(facts));
}

// ---- FAT12/16 ----------------------------------------------------------------------------------------------

bool Fat16Engine::isOwnKind(const FatBootSector& boot) const { return boot.fatSize16 != 0; }

void Fat16Engine::loadFat() { fat_.entry(0); }

void Fat16Engine::loadRootDirectory() {
    root_.assign(static_cast<std::size_t>(geometry_.rootBytes), 0);
    reader_.read(geometry_.rootStart, root_.data(), root_.size());
}

void Fat16Engine::prepareRoot() {
    loadFat();
    loadRootDirectory();
}

// ---- FAT32 -------------------------------------------------------------------------------------------------

bool Fat32Engine::isOwnKind(const FatBootSector& boot) const { return boot.fatSize16 == 0 && boot.fatSize32 != 0; }

void Fat32Engine::countRootClusters() {
    rootClusters.clear();
    const std::uint64_t maxClusters = kMaxDirectoryBytes / geometry_.clusterSize + 1;
    if (geometry_.validCluster(geometry_.rootCluster)) {
        // The root's chain is read even when the drive was formatted: without it there is no root at all.
        ClusterChain chain(fat_, geometry_.rootCluster, ClusterChain::Way::Fat, maxClusters);
        for (std::uint32_t c = 0; chain.next(c);) rootClusters.push_back(c);
        return;
    }
    // A damaged root-cluster field: take the root to start at cluster 2 and to continue where the first FAT
    // sector's entries 2, 3, ... point, up to the entry that ends the first FAT sector's first chain.
    std::uint8_t sector[512];
    reader_.read(geometry_.fatStart, sector, sizeof sector);
    const Bytes fat(sector, sizeof sector);
    std::uint32_t count = 0;
    while (count < 127 && (le32(fat, count * 4) & 0x0FFFFFFF) < 0x0FFFFFF8) ++count;
    if (count < 2) return;
    rootClusters.push_back(2);
    for (std::uint32_t k = 2; k + 1 < count; ++k) {
        const std::uint32_t c = le32(fat, k * 4) & 0x0FFFFFFF;
        if (geometry_.validCluster(c)) rootClusters.push_back(c);
    }
}

void Fat32Engine::loadRootDirectory() {
    root_.clear();
    const std::size_t cs = static_cast<std::size_t>(geometry_.clusterSize);
    for (std::uint32_t c : rootClusters) {
        if (!readDirClusters.insert(c).second) break;
        const std::size_t at = root_.size();
        root_.resize(at + cs);
        readClusters(c, 1, root_.data() + at);
    }
    if (!rootClusters.empty()) geometry_.rootCluster = rootClusters.front();
}

void Fat32Engine::prepareRoot() {
    countRootClusters();
    loadRootDirectory();
}

}  // namespace halvard
