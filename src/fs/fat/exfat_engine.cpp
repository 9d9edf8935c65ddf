#include "fs/fat/exfat_engine.h"

#include <algorithm>

#include "common/texts.h"
#include "common/utf16.h"
#include "fs/fat/fat_names.h"

namespace halvard {

namespace {

constexpr std::size_t kEntry = 32;
// An exFAT directory is at most 256 MiB.
constexpr std::uint64_t kMaxDirectoryBytes = 256ULL * 1024 * 1024;
// A name has at most 255 characters: 17 name entries of 15.
constexpr std::size_t kMaxNameEntries = 17;
constexpr std::size_t kUnitsPerNameEntry = 15;

bool isFileEntry(std::uint8_t type) { return type == 0x85 || type == 0x05; }
bool isStreamEntry(std::uint8_t type) { return type == 0xC0 || type == 0x40; }
bool isNameEntry(std::uint8_t type) { return type == 0xC1 || type == 0x41; }

std::optional<CalendarTime> stampTime(std::uint32_t stamp, std::uint8_t tenMs = 0) {
    return dosCalendarTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp), tenMs / 100);
}

}  // namespace

bool ExFatEngine::checkBootSector(std::uint64_t sector) {
    if (!readBootSector(sector)) {
        reporting.inform("cant read file");
        return false;
    }
    const ExfatBootSector b = ExfatBootSector::read(boot_);
    if (!b.nameExfat || !b.usableGeometry()) return false;
    useGeometry(b.geometry(volumeSize), true);
    return geometry_.clusterSize != 0;
}

std::uint32_t ExFatEngine::nextCluster(std::uint32_t cluster) const {
    if (formattedDriveFlag || !geometry_.validCluster(cluster)) return 0xFFFFFFFF;
    return fat_.entry(cluster);
}

ClusterChain ExFatEngine::dataChain(const ExFatEntry& e, std::uint64_t maxClusters) const {
    ClusterChain::Way way = ClusterChain::Way::Fat;
    if (e.contiguous())
        way = ClusterChain::Way::Contiguous;
    else if (formattedDriveFlag)
        // The FAT is gone: a directory is its first cluster, a file is taken to lie in one piece.
        way = isExfatDirectoryAttribute(e.attributes) ? ClusterChain::Way::FirstOnly : ClusterChain::Way::Contiguous;
    return ClusterChain(fat_, e.firstCluster, way, maxClusters);
}

bool ExFatEngine::loadRootDirectory() {
    root_.clear();
    if (!geometry_.validCluster(geometry_.rootCluster)) return false;
    const std::uint64_t maxClusters = kMaxDirectoryBytes / geometry_.clusterSize;
    root_ = readDirectoryClusters(ClusterChain(fat_, geometry_.rootCluster, ClusterChain::Way::Fat, maxClusters),
                                  kMaxDirectoryBytes);
    return !root_.empty();
}

std::size_t ExFatEngine::parseRootDirectory() {
    entries.clear();
    ExFatEntry placeholder;
    placeholder.name = kDummyEntryName;
    placeholder.entryType = 0x85;
    placeholder.attributes = 0x10;
    entries.push_back(std::move(placeholder));
    walkDirectories();
    return entries.size();
}

bool ExFatEngine::parseStandard() {
    if (!checkBootSector()) return false;
    if (!loadRootDirectory()) {
        reporting.inform("error...");
        reporting.setStatus("Processing done...");
        return false;
    }
    reporting.setStatus("processing file and directory entries...");
    reporting.setStatus("Finding Fat64 File And Directory entries recursively....");
    parseRootDirectory();
    linkEntries(false);
    reporting.setStatus("creating tree Structure...");
    fillTree();
    return true;
}

std::size_t readExfatEntrySet(Bytes bytes, std::size_t offset, ExFatEntry& e) {
    const Bytes file = slice(bytes, offset, kEntry);
    if (file.empty() || !isFileEntry(file[0])) return 0;
    // The set is read by its structure: the stream extension right after the file entry, then the name entries.
    // The secondary count is not trusted; a set without a stream extension names nothing.
    const Bytes stream = slice(bytes, offset + kEntry, kEntry);
    if (stream.empty() || !isStreamEntry(stream[0])) return 0;
    std::size_t end = offset + 2 * kEntry;

    e.entryType = file[0];
    e.deleted = file[0] == 0x05;
    e.attributes = le16(file, 4);
    e.createStamp = le32(file, 8);
    e.modifyStamp = le32(file, 12);
    e.accessStamp = le32(file, 16);
    e.create10ms = u8(file, 20);
    e.modify10ms = u8(file, 21);
    e.createUtcOffset = u8(file, 22);
    e.modifyUtcOffset = u8(file, 23);
    e.accessUtcOffset = u8(file, 24);
    e.streamType = stream[0];
    e.streamFlags = u8(stream, 1);
    e.nameLength = u8(stream, 3);
    e.validDataLength = le64(stream, 8);
    e.firstCluster = le32(stream, 20);
    e.dataLength = le64(stream, 24);

    const std::size_t nameEntries =
        e.nameLength != 0 ? (e.nameLength + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry : kMaxNameEntries;
    std::vector<std::uint16_t> units;
    for (std::size_t k = 0; k < nameEntries && end + kEntry <= bytes.size(); ++k) {
        const Bytes name = bytes.subspan(end, kEntry);
        if (!isNameEntry(name[0])) break;
        for (std::size_t j = 0; j < kUnitsPerNameEntry; ++j) units.push_back(le16(name, 2 + 2 * j));
        end += kEntry;
    }
    if (e.nameLength != 0 && units.size() > e.nameLength) units.resize(e.nameLength);
    if (auto zero = std::find(units.begin(), units.end(), 0); zero != units.end()) units.erase(zero, units.end());
    e.name = utf16ToUtf8(units);
    return end - offset;
}

FatFamilyEngine::WalkStep ExFatEngine::takeNextEntry(DirectoryFrame& frame) {
    const Bytes bytes(frame.bytes);
    while (frame.offset + kEntry <= bytes.size()) {
        ExFatEntry e;
        const std::size_t used = readExfatEntrySet(bytes, frame.offset, e);
        frame.offset += used ? used : kEntry;
        if (!used) continue;
        e.parentIndex = frame.ownIndex;
        const auto index = static_cast<std::int32_t>(entries.size());
        e.ownIndex = index;
        const bool folder = isExfatDirectoryAttribute(e.attributes);
        if (folder && mergedInto(frame, e.firstCluster, e.name, e.deleted, index) >= 0) return {};
        entries.push_back(std::move(e));
        return {false, folder ? index : -1};
    }
    return {true, -1};
}

std::optional<FatFamilyEngine::DirectoryFrame> ExFatEngine::openDirectory(std::int32_t index, const DirectoryFrame&) {
    const ExFatEntry& e = entries[index];
    if (!geometry_.validCluster(e.firstCluster) || readDirClusters.count(e.firstCluster)) return std::nullopt;
    const std::uint64_t cs = geometry_.clusterSize;
    const std::uint64_t length = std::min(e.dataLength != 0 ? e.dataLength : e.validDataLength, kMaxDirectoryBytes);
    DirectoryFrame frame;
    frame.firstCluster = e.firstCluster;
    frame.bytes = readDirectoryClusters(dataChain(e, std::max<std::uint64_t>(1, (length + cs - 1) / cs)),
                                        kMaxDirectoryBytes);
    return frame;
}

bool ExFatEngine::isFolder(std::size_t index) const {
    return index < entries.size() && isExfatDirectoryAttribute(entries[index].attributes);
}

void ExFatEngine::addEntryFacts(std::size_t index, FatEntryFacts& f) const {
    const ExFatEntry& e = entries[index];
    f.size = e.dataLength;
    // A stamp with a valid UTC offset is listed as the instant a saved file gets, in the local zone as elsewhere.
    auto shown = [](std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset) -> std::optional<CalendarTime> {
        const auto t = stampTime(stamp, tenMs);
        if (!t || (utcOffset & 0x80) == 0) return t;
        return localCalendarTime(exfatHostSeconds(*t, utcOffset));
    };
    f.created = shown(e.createStamp, e.create10ms, e.createUtcOffset);
    f.accessed = shown(e.accessStamp, 0, e.accessUtcOffset);
    f.modified = shown(e.modifyStamp, e.modify10ms, e.modifyUtcOffset);
    f.attributes = fatAttributeText(static_cast<std::uint8_t>(e.attributes));
}

std::string ExFatEngine::entrySizeText(const ExFatEntry& entry) { return sizeText(static_cast<std::int64_t>(entry.dataLength)); }

std::unique_ptr<FileContent> ExFatEngine::openContent(std::size_t index) const {
    if (index >= entries.size()) return refusedContent("no such entry");
    const ExFatEntry& e = entries[index];
    const std::uint64_t cs = geometry_.clusterSize;
    // No file is larger than the cluster heap; a damaged length must not make a huge host file.
    const std::uint64_t heapBytes = geometry_.clusterLimit > 2 ? (geometry_.clusterLimit - 2ULL) * cs : 0;
    const std::uint64_t total = std::min(e.dataLength, heapBytes);
    // Past the valid data length a file reads as zeros.
    const std::uint64_t data = std::min(e.validDataLength, total);
    auto seconds = [](std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset) {
        const auto t = stampTime(stamp, tenMs);
        return t ? std::optional<std::int64_t>(exfatHostSeconds(*t, utcOffset)) : std::nullopt;
    };
    ContentFacts facts;
    takeTimes(facts, seconds(e.modifyStamp, e.modify10ms, e.modifyUtcOffset), seconds(e.accessStamp, 0, e.accessUtcOffset));
    return chainContent(dataChain(e, (data + cs - 1) / cs), data, total - data, std::move(facts));
}

}  // namespace halvard
