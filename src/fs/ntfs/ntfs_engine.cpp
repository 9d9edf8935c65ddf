#include "fs/ntfs/ntfs_engine.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>

#include "common/texts.h"
#include "fs/ntfs/ntfs_boot_sector.h"

namespace halvard {

using namespace ntfs_format;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
// Record slots are read this much at a time and parsed from memory.
constexpr std::uint64_t kLoadChunkBytes = 4 * kMiB;
// Records read by number come through a window of the MFT: a wide one while the reads run on from its end (a
// folder whose files were written together), a narrow one after a jump (a folder filled over time has its
// records all over the MFT, and a wide window would be read whole for one record).
constexpr std::uint64_t kRecordWindowBytes = 256 * 1024;
constexpr std::uint64_t kJumpWindowBytes = 4096;
constexpr std::uint64_t kMaxInt64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

}  // namespace

NtfsEngine::NtfsEngine(VolumeRecord volume) : reader_(volume), volume_(std::move(volume)) {}

void NtfsEngine::resetParse() {
    entries.clear();
    mftRuns.clear();
    useMftMap(RunMap());
    entriesFromMap_ = false;
    lastChild_.clear();
    pendingNames_.clear();
    scannedByNumber_.clear();
    deletedExtensions_.clear();
    pendingStreams_.clear();
    streamNames_.clear();
    streamPlacement_.clear();
    rootIndex = 5;
    orphanIndex = -1;
    mftRunReady = false;
    takeRunFromFirstEntry = true;
    rootItem_ = kNoTreeItem;
}

// ---- reading ------------------------------------------------------------------------------------------------

bool NtfsEngine::clusterRangeInVolume(std::int64_t cluster, std::uint64_t count) const {
    if (cluster < 0 || clusterSize == 0) return false;
    std::uint64_t end = 0;
    if (!multiplyFits(static_cast<std::uint64_t>(cluster) + count, clusterSize, end) ||
        static_cast<std::uint64_t>(cluster) + count < count)
        return false;
    if (end > kMaxInt64) return false;
    return volumeSize == 0 || end <= volumeSize;
}

bool NtfsEngine::readMftStream(std::uint64_t streamOffset, std::uint8_t* buffer, std::size_t length) const {
    return readStream(mftMap_, streamOffset, buffer, length);
}

bool NtfsEngine::readStream(const RunMap& map, std::uint64_t streamOffset, std::uint8_t* buffer, std::size_t length) const {
    bool complete = true;
    const std::uint64_t cs = clusterSize ? clusterSize : 4096;
    while (length > 0) {
        const std::uint64_t vcn = streamOffset / cs;
        const std::uint64_t within = streamOffset % cs;
        const RunMap::Piece* piece = map.find(vcn);
        std::uint64_t span = cs - within;
        if (piece) span = saturatingMultiply(piece->vcn + piece->length - vcn, cs) - within;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(span, length));
        if (!piece) {
            std::memset(buffer, 0, n);
            complete = false;
        } else if (piece->sparse) {
            std::memset(buffer, 0, n);
        } else {
            const std::int64_t cluster = piece->lcn + static_cast<std::int64_t>(vcn - piece->vcn);
            const std::uint64_t clusters = (within + n + cs - 1) / cs;
            if (!clusterRangeInVolume(cluster, clusters)) {
                std::memset(buffer, 0, n);
                complete = false;
            } else if (!reader_.read(static_cast<std::uint64_t>(cluster) * cs + within, buffer, n)) {
                complete = false;
            }
        }
        buffer += n;
        length -= n;
        streamOffset += n;
    }
    return complete;
}

std::uint64_t NtfsEngine::mftOffsetOfRecord(std::uint64_t recordNumber) const {
    const std::uint64_t cs = clusterSize ? clusterSize : 4096;
    std::uint64_t stream = 0;
    if (!multiplyFits(recordNumber, recordSize, stream)) return 0;
    const RunMap::Piece* piece = mftMap_.find(stream / cs);
    if (!piece || piece->sparse) return 0;
    const std::int64_t cluster = piece->lcn + static_cast<std::int64_t>(stream / cs - piece->vcn);
    if (cluster < 0) return 0;
    return saturatingMultiply(static_cast<std::uint64_t>(cluster), cs) + stream % cs;
}

bool NtfsEngine::readRecordAt(std::uint64_t offset, std::vector<std::uint8_t>& record) const {
    record.assign(recordSize, 0);
    const bool ok = reader_.read(offset, record.data(), record.size());
    applyFixups(record);
    return ok;
}

bool NtfsEngine::readRecordByNumber(std::uint64_t recordNumber, std::vector<std::uint8_t>& record) const {
    std::uint64_t stream = 0, streamEnd = 0;
    const std::uint64_t cs = clusterSize ? clusterSize : 4096;
    if (mftMap_.pieces().empty() || !multiplyFits(recordNumber, recordSize, stream) ||
        !multiplyFits(mftMap_.endVcn(), cs, streamEnd) || stream >= streamEnd) {
        record.clear();
        return false;
    }
    record.assign(recordSize, 0);
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(windowMutex_);
        RecordWindow& w = recordWindow_;
        if (w.bytes.empty() || stream < w.start || stream + recordSize > w.start + w.bytes.size()) {
            const std::uint64_t end = w.start + w.bytes.size();
            const bool runsOn = !w.bytes.empty() && stream == end;
            const std::uint64_t width = runsOn ? kRecordWindowBytes : std::max(kJumpWindowBytes, recordSize);
            w.start = stream - stream % width;
            w.bytes.resize(static_cast<std::size_t>(std::min(width, streamEnd - w.start)));
            // A window with an unreadable part is not kept: its readable records are read one by one.
            if (!readMftStream(w.start, w.bytes.data(), w.bytes.size())) w.bytes.clear();
        }
        if (stream + recordSize <= w.start + w.bytes.size() && !w.bytes.empty()) {
            std::memcpy(record.data(), w.bytes.data() + (stream - w.start), static_cast<std::size_t>(recordSize));
            ok = true;
        }
    }
    if (!ok) ok = readMftStream(stream, record.data(), record.size());
    applyFixups(record);
    return ok;
}

void NtfsEngine::useMftMap(RunMap map) {
    mftMap_ = std::move(map);
    std::lock_guard<std::mutex> lock(windowMutex_);
    recordWindow_ = {};
}

bool NtfsEngine::readEntryRecord(std::uint64_t index, std::vector<std::uint8_t>& record) const {
    if (index >= entries.size() || isSynthetic(index)) {
        record.clear();
        return false;
    }
    index = fileOf(index);
    if (entriesFromMap_) return readRecordByNumber(index, record);
    return readRecordAt(entries[index].recordOffset, record);
}

// ---- boot sector and MFT ------------------------------------------------------------------------------------

bool NtfsEngine::readBootSector() {
    boot_.assign(512, 0);
    reader_.read(0, boot_.data(), boot_.size());
    bootValid_ = NtfsBootSector::read(boot_).signature;
    usedBackupBoot_ = false;
    if (!bootValid_) {
        // NTFS keeps a copy of its boot sector in the volume's last sector.
        const std::uint64_t size = volumeSizeBytes(volume_);
        if (size >= 1024 && size != ~0ULL) {
            std::vector<std::uint8_t> backup(512, 0);
            if (reader_.read(size - 512, backup.data(), backup.size())) {
                const NtfsBootSector b = NtfsBootSector::read(backup);
                if (b.signature && b.clusterSize() != 0) {
                    boot_ = std::move(backup);
                    bootValid_ = true;
                    usedBackupBoot_ = true;
                }
            }
        }
    }
    volumeSize = 0;
    if (bootValid_) {
        const NtfsBootSector b = NtfsBootSector::read(boot_);
        std::uint64_t size = 0;
        if (multiplyFits(b.totalSectors, b.sectorSize(), size)) volumeSize = size;
    }
    if (volumeSize == 0 || volumeSize == ~0ULL) volumeSize = volumeSizeBytes(volume_);
    if (volumeSize == ~0ULL) volumeSize = 0;
    // Never past the end of the virtual disk: a damaged size must not send the scans into the void.
    if (const std::uint64_t disk = reader_.diskBytesFromStart(); disk > 0) volumeSize = std::min(volumeSize, disk);
    takeRecordSizeFromBoot();
    return volumeSize != 0;
}

std::uint64_t NtfsEngine::bootClusterSize() const {
    if (boot_.empty()) return 0;
    return NtfsBootSector::read(boot_).clusterSize();
}

void NtfsEngine::takeRecordSizeFromBoot() {
    recordSize = kDefaultRecordSize;
    recordSizeFromBoot_ = false;
    if (!bootValid_) return;
    const NtfsBootSector b = NtfsBootSector::read(boot_);
    if (const std::uint64_t size = b.recordSize(b.clusterSize()); size != 0) {
        recordSize = size;
        recordSizeFromBoot_ = true;
    }
}

bool NtfsEngine::adoptRecordSizeFrom(Bytes record) {
    if (recordSizeFromBoot_) return false;
    // A record states its own allocated size; the update sequence covers exactly that many 512-byte strides.
    const std::uint64_t allocated = le32(record, 0x1C);
    const std::uint64_t count = le16(record, 0x06);
    if (std::has_single_bit(allocated) && allocated >= 512 && allocated <= 65536 &&
        count == allocated / kFixupStride + 1) {
        recordSize = allocated;
        recordSizeFromBoot_ = true;  // one record decides for the whole scan
        return true;
    }
    return false;
}

void NtfsEngine::insertRootItem() {
    if (treeControl) rootItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
}

bool NtfsEngine::recordLooksLikeMft(Bytes record) const {
    const MftRecordHeader header = MftRecordHeader::read(record);
    if (!header.isFile()) return false;
    if (header.hasRecordNumber && header.recordNumber == 0 && header.baseRecord == 0) return true;
    bool named = false;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.type == kFileName && !h.nonResident) {
            const auto fn = FileNameValue::read(h.value(record));
            if (fn && fn->name == "$MFT") named = true;
        }
        return !named;
    });
    return named;
}

std::vector<DataRun> NtfsEngine::runsFromMapInOrder(const RunMap& map) const {
    std::vector<DataRun> runs;
    std::uint64_t vcn = 0;
    for (const RunMap::Piece& p : map.pieces()) {
        if (p.vcn > vcn) runs.push_back({0, p.vcn - vcn, true});  // a piece that could not be found reads as a hole
        runs.push_back({p.sparse ? 0 : p.lcn, p.length, p.sparse});
        vcn = p.vcn + p.length;
    }
    return runs;
}

bool NtfsEngine::takeMftFrom(std::uint64_t offset) {
    std::vector<std::uint8_t> record;
    if (!readRecordAt(offset, record) || !recordLooksLikeMft(record)) return false;
    RunMap map = mftMapFromRecord(record);
    if (map.pieces().empty()) return false;
    mftRuns = runsFromMapInOrder(map);
    useMftMap(std::move(map));
    return true;
}

bool NtfsEngine::locateMft() {
    clusterSize = boot_.empty() ? 4096 : bootClusterSize();
    if (!bootValid_ || clusterSize == 0) {
        clusterSize = 4096;
        return scanForFirstMft();
    }
    mftRunReady = true;
    const NtfsBootSector b = NtfsBootSector::read(boot_);
    reporting.setStatus("boot sector is fine.Getting run of mft entry...");
    std::uint64_t mftOffset = 0, mirrorOffset = 0;
    bool found = multiplyFits(b.mftCluster, clusterSize, mftOffset) && takeMftFrom(mftOffset);
    // The mirror keeps a copy of the first records, $MFT's own among them.
    if (!found && multiplyFits(b.mirrorCluster, clusterSize, mirrorOffset)) found = takeMftFrom(mirrorOffset);
    reporting.setStatus("Got run...");
    takeRunFromFirstEntry = false;
    if (!found) {
        // Neither copy of $MFT's record is readable: find it by its signature instead of listing nothing.
        mftRunReady = false;
        return scanForFirstMft();
    }
    return true;
}

void NtfsEngine::loadMftRecords() {
    if (!mftRunReady || stop.stopNow()) return;
    if (clusterSize == 0) clusterSize = 4096;
    if (takeRunFromFirstEntry && !entries.empty()) {
        reporting.setStatus("getting run of mft...");
        mftRuns = attributeRuns(entries[0].recordOffset, kData);
        reporting.setStatus("got run...");
    }
    entries.clear();
    // Names and streams noted while a scan looked for $MFT belong to the records it dropped.
    pendingNames_.clear();
    pendingStreams_.clear();
    useMftMap(RunMap(mftRuns));
    entriesFromMap_ = true;

    std::uint64_t streamBytes = 0;
    if (!multiplyFits(mftMap_.endVcn(), clusterSize, streamBytes)) streamBytes = ~0ULL;
    // The MFT lies within its volume; a damaged run list must not claim more slots than the volume holds.
    if (volumeSize > 0) streamBytes = std::min(streamBytes, volumeSize);
    const std::uint64_t count = streamBytes / recordSize;
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, kLoadChunkBytes / recordSize);
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
    try {
        // Room for the orphan folder, $MFT's own entry and the further names of hard-linked files, so that adding
        // them does not move every entry; capacity never touched costs no memory.
        const auto slots = static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 22));
        entries.reserve(slots + slots / 8 + 16);
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(perChunk * recordSize));
        const RunMap::Piece* lastPiece = nullptr;
        for (std::uint64_t k = 0; k < count;) {
            if (stop.stopNow()) break;
            const std::uint64_t n = std::min(perChunk, count - k);
            const std::uint64_t stream = k * recordSize;
            const RunMap::Piece* piece = mftMap_.find(stream / clusterSize);
            if (piece && piece != lastPiece) {
                reporting.setStatus("parsing " + std::to_string(piece->lcn) + " cluster of MFT run.");
                lastPiece = piece;
            }
            // A slot that cannot be read stays as an empty entry, so indices keep matching record numbers.
            readMftStream(stream, buffer.data(), static_cast<std::size_t>(n * recordSize));
            for (std::uint64_t j = 0; j < n; ++j) {
                std::uint8_t* slot = buffer.data() + j * recordSize;
                NtfsEntry entry;
                std::memcpy(entry.signature.data(), slot, 4);
                entry.recordOffset = mftOffsetOfRecord(k + j);
                entry.ownIndex = k + j;
                entries.push_back(std::move(entry));
                applyFixupsInPlace(slot, static_cast<std::size_t>(recordSize));
                parseMftRecord(Bytes(slot, static_cast<std::size_t>(recordSize)), k + j);
            }
            k += n;
            reporting.setStatus("parsing MFT entry " + std::to_string(k - 1) + "...");
            reporting.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(k, 0xFFFFFFFFu)));
        }
    } catch (const std::bad_alloc&) {
        // A damaged run list can claim more records than memory holds: keep what was read.
    }
}

bool NtfsEngine::parseMftRecord(std::uint64_t recordOffset, std::uint64_t index) {
    std::vector<std::uint8_t> record;
    const bool ok = readRecordAt(recordOffset, record);
    if (index < entries.size()) parseMftRecord(record, index);
    return ok;
}

void NtfsEngine::parseMftRecord(Bytes record, std::uint64_t index) {
    if (index >= entries.size()) return;
    NtfsEntry& e = entries[index];
    e.name.clear();
    e.hasName = false;
    e.kind = 0;
    const MftRecordHeader header = MftRecordHeader::read(record);
    e.recordFlags = header.flags;
    e.recordNumber = !entriesFromMap_ && header.hasRecordNumber ? header.recordNumber : index;
    e.numbered = header.hasRecordNumber;
    e.fileIndex = index;
    e.baseRecord = header.baseRecord;
    e.sequence = header.sequenceNumber;
    e.hasAttributeList = false;
    // An extension record is part of its base record's file, never a file of its own. Read along the MFT, its
    // base is always there; a scan decides once it knows which records it found.
    if (header.baseRecord != 0 && entriesFromMap_) return;

    // A record carries one file-name attribute per name: the short DOS name and the long name, and one per hard
    // link.
    std::vector<NtfsName>& names = scratchNames_;
    std::vector<std::string>& streams = scratchStreams_;
    names.clear();
    streams.clear();
    bool reparsePoint = false;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.type == kAttributeList) e.hasAttributeList = true;
        if (h.type == kReparsePoint) reparsePoint = true;
        if (showStreams && h.type == kData && h.nameLength != 0) streams.push_back(h.name(record));
        if (h.type != kFileName || h.nonResident) return true;
        if (auto name = nameOf(h.value(record))) names.push_back(std::move(*name));
        return true;
    });
    e.listFacts = {};
    if (header.baseRecord == 0 && !e.hasAttributeList && !reparsePoint && !names.empty()) keepListFacts(record, e);
    // A file with an attribute list may keep names in extension records: gatherFileNames reads them all at once.
    if (e.hasAttributeList && header.baseRecord == 0) return;
    takeNames(index, names);
    // A record without a name is never listed (a scan even drops it), so neither are its streams.
    if (!names.empty()) noteStreams(index, streams);
}

void NtfsEngine::nameLostExtension(std::uint64_t index) {
    std::vector<std::uint8_t> record;
    if (!readRecordAt(entries[index].recordOffset, record)) return;
    bool data = false;
    std::vector<std::string> streams;
    forEachAttribute(Bytes(record), [&](const AttributeHeader& h) {
        if (h.type != kData) return true;
        if (h.nameLength == 0)
            data = true;
        else if (showStreams)
            streams.push_back(h.name(record));
        return true;
    });
    // Pieces of other attributes (a large folder's index) are no file to save.
    if (!data && streams.empty()) return;
    NtfsEntry& e = entries[index];
    e.name = "MFT_RECORD_" + std::to_string(e.recordNumber);
    e.hasName = true;
    e.parentIndex = -1;
    noteStreams(index, streams);
}

void NtfsEngine::noteStreams(std::uint64_t fileIndex, const std::vector<std::string>& streams) {
    // A non-resident stream may be split into pieces over several records; each piece repeats its name.
    for (auto at = streams.begin(); at != streams.end(); ++at)
        if (std::find(streams.begin(), at, *at) == at) pendingStreams_.emplace_back(fileIndex, *at);
}

std::optional<NtfsName> NtfsEngine::nameOf(Bytes fileNameValue) {
    auto value = FileNameValue::read(fileNameValue);
    // A length of 255 is a legal name only when all 255 characters are there.
    if (!value || (value->nameLength == 0xFF && !value->nameComplete)) return std::nullopt;
    return NtfsName{std::move(value->name), value->parentRecord, (value->fileFlags & kFileNameDirectory) != 0,
                    value->nameSpace};
}

void NtfsEngine::takeNames(std::uint64_t index, const std::vector<NtfsName>& names) {
    NtfsEntry& e = entries[index];
    bool first = true;
    for (const NtfsName& n : names) {
        if (n.folder) e.kind = 'D';
        if (n.nameSpace == kDosNameSpace) {
            // The short name is shown only where the file has no other name in that folder.
            const bool longerThere = std::any_of(names.begin(), names.end(), [&](const NtfsName& o) {
                return o.nameSpace != kDosNameSpace && o.parentRecord == n.parentRecord;
            });
            if (longerThere) continue;
        }
        if (first) {
            e.name = n.name;
            e.hasName = true;
            e.parentIndex = static_cast<std::int64_t>(n.parentRecord);
            first = false;
        } else {
            pendingNames_.emplace_back(index, n);
        }
    }
}

void NtfsEngine::addNameEntry(std::uint64_t fileIndex, const NtfsName& name) {
    NtfsEntry e = entries[fileIndex];
    e.name = name.name;
    e.hasName = true;
    e.parentIndex = static_cast<std::int64_t>(name.parentRecord);
    e.firstChild = 0;
    e.nextSibling = 0;
    e.orphan = 0;
    e.hasAttributeList = false;
    e.ownIndex = entries.size();
    entries.push_back(std::move(e));
}

NtfsEngine::RecordFetch NtfsEngine::extensionFetch() const {
    if (entriesFromMap_)
        return [this](std::uint64_t number, std::vector<std::uint8_t>& record) {
            return readRecordByNumber(number, record);
        };
    return [this](std::uint64_t number, std::vector<std::uint8_t>& record) {
        const auto found = scannedByNumber_.find(number);
        if (found == scannedByNumber_.end()) {
            record.clear();
            return false;
        }
        return readRecordAt(entries[found->second].recordOffset, record);
    };
}

void NtfsEngine::dropRecordCopies() {
    // Where the MFT lies, from the $MFT record the scan found.
    RunMap mft;
    std::vector<std::uint8_t> record;
    for (std::uint64_t i = 1; i < entries.size() && mft.pieces().empty(); ++i) {
        const NtfsEntry& e = entries[i];
        if (e.hasName && e.numbered && e.recordNumber == 0 && e.name == "$MFT" && readRecordAt(e.recordOffset, record))
            mft = mftMapFromRecord(record);
    }
    const std::uint64_t cs = clusterSize ? clusterSize : 4096;
    auto inMft = [&](std::uint64_t offset) {
        for (const RunMap::Piece& p : mft.pieces())
            if (!p.sparse && p.lcn >= 0 && offset >= saturatingMultiply(static_cast<std::uint64_t>(p.lcn), cs) &&
                offset < saturatingMultiply(static_cast<std::uint64_t>(p.lcn) + p.length, cs))
                return true;
        return false;
    };
    std::unordered_map<std::uint64_t, std::uint64_t> firstByNumber;
    for (std::uint64_t i = 1; i < entries.size(); ++i) {
        NtfsEntry& e = entries[i];
        if (!e.numbered || !e.hasName || e.baseRecord != 0) continue;
        auto [at, added] = firstByNumber.emplace(e.recordNumber, i);
        if (added) continue;
        NtfsEntry& other = entries[at->second];
        // Only true copies: a stale older record of the same number is a file of its own.
        if (other.name != e.name || other.parentIndex != e.parentIndex || other.recordFlags != e.recordFlags) continue;
        NtfsEntry& dropped = inMft(e.recordOffset) && !inMft(other.recordOffset) ? other : e;
        if (&dropped == &other) at->second = i;
        dropped.copy = true;
        dropped.hasName = false;
    }
}

void NtfsEngine::indexScannedRecords() {
    scannedByNumber_.clear();
    for (std::uint64_t i = 1; i < entries.size(); ++i) {
        const NtfsEntry& e = entries[i];
        if (!e.numbered || !e.isFileRecord() || e.copy) continue;
        auto [at, added] = scannedByNumber_.emplace(e.recordNumber, i);
        // Stale copies of a record lose against the one in use.
        if (!added && entries[at->second].deleted() && !e.deleted()) at->second = i;
    }
}

void NtfsEngine::gatherFileNames() {
    const std::uint64_t count = entries.size();
    if (!entriesFromMap_) {
        dropRecordCopies();
        indexScannedRecords();
        // An extension record whose base record was found is part of that file; one whose base record is gone
        // is all that is left of its file.
        for (std::uint64_t i = 1; i < count; ++i) {
            NtfsEntry& e = entries[i];
            if (e.baseRecord == 0) continue;
            const auto base = scannedByNumber_.find(e.baseRecord);
            if (base != scannedByNumber_.end() && entries[base->second].baseRecord == 0)
                e.hasName = false;
            else if (!e.hasName && !e.copy && e.isFileRecord())
                nameLostExtension(i);
        }
    }
    deletedExtensions_.clear();
    for (std::uint64_t i = 1; i < count; ++i) {
        const NtfsEntry& e = entries[i];
        if (e.baseRecord != 0 && e.deleted() && !e.copy && e.isFileRecord())
            deletedExtensions_[e.baseRecord].push_back(e.recordNumber);
    }
    const RecordFetch fetch = extensionFetch();
    std::vector<std::uint8_t> record;
    std::vector<NtfsName> names;
    std::vector<std::string> streams;
    for (std::uint64_t i = 0; i < count; ++i) {
        NtfsEntry& e = entries[i];
        if (!e.hasAttributeList || e.baseRecord != 0 || stop.stopNow()) continue;
        if (!readEntryRecord(i, record)) continue;
        names.clear();
        streams.clear();
        const auto strays = deletedExtensions_.find(e.recordNumber);
        forEachFileAttribute(
            record, e.recordNumber, fetch,
            [&](Bytes rec, const AttributeHeader& h) {
                if (showStreams && h.type == kData && h.nameLength != 0) streams.push_back(h.name(rec));
                if (h.type != kFileName || h.nonResident) return;
                if (auto name = nameOf(h.value(rec))) names.push_back(std::move(*name));
            },
            e.deleted() && strays != deletedExtensions_.end() ? strays->second : std::vector<std::uint64_t>());
        takeNames(i, names);
        noteStreams(i, streams);
        if (!e.hasName && e.deleted()) {
            // A deleted file whose names went with its extension records keeps its content: it is shown by
            // its record number.
            e.name = "MFT_RECORD_" + std::to_string(e.recordNumber);
            e.hasName = true;
            e.parentIndex = -1;
        }
    }
    // Index 0 ends every child chain, so $MFT (record 0 along the MFT) is shown through an entry of its own.
    if (entriesFromMap_ && count > 0 && entries[0].hasName) {
        pendingNames_.emplace_back(0, NtfsName{entries[0].name, static_cast<std::uint64_t>(entries[0].parentIndex),
                                               entries[0].isFolder(), 0});
        entries[0].hasName = false;
    }
    // Room for the further names and the orphan folder at once: growing the table moves every entry.
    entries.reserve(entries.size() + pendingNames_.size() + 1);
    for (const auto& [fileIndex, name] : pendingNames_)
        if (entries[fileIndex].hasName || fileIndex == 0) addNameEntry(fileIndex, name);
    pendingNames_.clear();
    pendingNames_.shrink_to_fit();
    addStreamEntries();
}

void NtfsEngine::addStreamEntries() {
    if (pendingStreams_.empty()) return;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> streamsOfFile;
    for (auto& [fileIndex, name] : pendingStreams_) {
        streamNames_.push_back(std::move(name));
        streamsOfFile[fileIndex].push_back(static_cast<std::uint32_t>(streamNames_.size()));
    }
    pendingStreams_.clear();
    pendingStreams_.shrink_to_fit();
    // Every name of a file shows the file's streams, as a directory listing of each name would.
    const std::uint64_t count = entries.size();
    std::uint64_t added = 0;
    for (std::uint64_t i = 0; i < count; ++i)
        if (const auto found = streamsOfFile.find(entries[i].fileIndex); found != streamsOfFile.end() && entries[i].hasName)
            added += found->second.size();
    entries.reserve(count + added + 1);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto found = streamsOfFile.find(entries[i].fileIndex);
        if (found == streamsOfFile.end() || !entries[i].hasName) continue;
        for (std::uint32_t stream : found->second) {
            NtfsEntry s = entries[i];
            s.name = s.name + ":" + streamNames_[stream - 1];
            s.kind = 0;  // a folder's stream is content, not a folder
            s.stream = stream;
            s.firstChild = 0;
            s.nextSibling = 0;
            s.orphan = 0;
            s.hasAttributeList = false;
            s.ownIndex = entries.size();
            streamPlacement_.emplace_back(entries.size(), i);
            entries.push_back(std::move(s));
        }
    }
}

void NtfsEngine::placeStreamEntries() {
    std::uint64_t previousName = ~0ULL, after = 0;
    for (const auto& [stream, name] : streamPlacement_) {
        NtfsEntry& s = entries[stream];
        const NtfsEntry& file = entries[name];
        // The root has no folder to sit in; a name the parse dropped takes its streams along.
        if (static_cast<std::int64_t>(name) == rootIndex || !file.hasName) {
            s.hasName = false;
            continue;
        }
        if (name != previousName) after = name;
        previousName = name;
        s.parentIndex = file.parentIndex;
        s.nextSibling = entries[after].nextSibling;
        entries[after].nextSibling = static_cast<std::int64_t>(stream);
        after = stream;
    }
}

std::string NtfsEngine::streamName(std::uint64_t index) const {
    if (!isStream(index) || entries[index].stream > streamNames_.size()) return {};
    return streamNames_[entries[index].stream - 1];
}

std::vector<std::uint64_t> NtfsEngine::streamEntriesOf(std::uint64_t index) const {
    std::vector<std::uint64_t> out;
    for (const auto& [stream, name] : streamPlacement_)
        if (name == index && entries[stream].hasName) out.push_back(stream);
    return out;
}

// ---- linking ------------------------------------------------------------------------------------------------

void NtfsEngine::linkToParent(std::uint64_t index) {
    const std::uint64_t count = entries.size();
    if (index == 0 || index >= count) return;
    NtfsEntry& e = entries[index];
    const std::int64_t p = e.parentIndex;
    if (p <= 0 || static_cast<std::uint64_t>(p) >= count || static_cast<std::uint64_t>(p) == index) return;
    if (lastChild_.size() != count) lastChild_.assign(count, 0);
    NtfsEntry& parent = entries[static_cast<std::size_t>(p)];
    const auto i = static_cast<std::int64_t>(index);
    e.nextSibling = 0;
    if (parent.firstChild <= 0) {
        parent.firstChild = i;
    } else {
        // Appending at the remembered tail keeps MFT order without walking the chain for each child.
        std::int64_t tail = lastChild_[static_cast<std::size_t>(p)];
        if (tail <= 0) {
            walkChildren(static_cast<std::uint64_t>(p), [&](std::uint64_t child) {
                tail = static_cast<std::int64_t>(child);
                return true;
            });
        }
        if (tail == i) return;
        entries[static_cast<std::size_t>(tail)].nextSibling = i;
    }
    lastChild_[static_cast<std::size_t>(p)] = i;
}

void NtfsEngine::placeEntries() {
    const std::uint64_t count = entries.size();
    lastChild_.assign(count, 0);
    for (std::uint64_t i = 0; i < count; ++i) {
        NtfsEntry& e = entries[i];
        if (!e.hasName || e.stream != 0) continue;  // streams go beside their file once it is placed
        const std::int64_t p = e.parentIndex;
        if (p < 0 || static_cast<std::uint64_t>(p) >= count) {
            e.orphan = 1;
            continue;
        }
        if (static_cast<std::uint64_t>(p) == i) continue;  // the root; anything else is found unreachable later
        // A parent that is not a directory cannot show children, wherever it lies in the MFT.
        if (!entries[static_cast<std::size_t>(p)].isFolder()) {
            e.orphan = 1;
            continue;
        }
        linkToParent(i);
    }
}

void NtfsEngine::pushOrphan(std::uint64_t index) {
    NtfsEntry& folder = entries[static_cast<std::size_t>(orphanIndex)];
    NtfsEntry& e = entries[index];
    e.parentIndex = orphanIndex;
    if (folder.firstChild <= 0) {
        folder.firstChild = static_cast<std::int64_t>(index);
        e.nextSibling = -1;
    } else {
        e.nextSibling = folder.firstChild;
        folder.firstChild = static_cast<std::int64_t>(index);
    }
}

void NtfsEngine::relinkOrphans() {
    const std::uint64_t count = entries.size();
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
    if (orphanIndex < 0) return;
    if (parseMode == ParseMode::Deep) {
        deepRelink();
        return;
    }
    for (std::uint64_t i = 0; i < count; ++i)
        if (entries[i].orphan == 1 && !isSynthetic(i)) pushOrphan(i);
}

void NtfsEngine::deepRelink() {
    // Records written since NTFS 3.1 state their own number, so a record whose parent folder's record was found
    // goes under that folder, and the volume's folders come back as they were; what sat in the root goes straight
    // under the orphan folder. A record whose parent was not found goes where the scan order suggests: a folder
    // to the front of the orphan folder, a file into the folder record found last before it.
    const std::uint64_t count = entries.size();
    std::unordered_map<std::uint64_t, std::uint64_t> folderByNumber;
    for (std::uint64_t i = 0; i < count; ++i) {
        const NtfsEntry& e = entries[i];
        if (isSynthetic(i) || !e.hasName || !e.numbered || !e.isFolder()) continue;
        auto [at, added] = folderByNumber.emplace(e.recordNumber, i);
        // Stale copies of a folder record lose against the one in use.
        if (!added && entries[at->second].deleted() && !e.deleted()) at->second = i;
    }
    lastChild_.assign(count, 0);
    NtfsEntry& folder = entries[static_cast<std::size_t>(orphanIndex)];
    std::int64_t current = orphanIndex;
    std::uint64_t directories = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (isSynthetic(i) || static_cast<std::int64_t>(i) == rootIndex) continue;
        NtfsEntry& e = entries[i];
        const std::int64_t parentRecord = e.parentIndex;
        e.firstChild = 0;
        e.parentIndex = 0;
        e.nextSibling = 0;
        if (!e.hasName || e.stream != 0) continue;
        bool placed = false;
        if (parentRecord >= 0) {
            const auto found = folderByNumber.find(static_cast<std::uint64_t>(parentRecord));
            if (found != folderByNumber.end() && found->second != i) {
                const bool inRoot = static_cast<std::int64_t>(found->second) == rootIndex;
                e.parentIndex = inRoot ? orphanIndex : static_cast<std::int64_t>(found->second);
                linkToParent(i);
                placed = true;
            }
        }
        if (e.isFolder() && directories < 100000) {
            current = static_cast<std::int64_t>(i);
            if (placed) continue;
            e.parentIndex = orphanIndex;
            e.nextSibling = folder.firstChild > 0 ? folder.firstChild : -1;
            folder.firstChild = static_cast<std::int64_t>(i);
            ++directories;
        } else if (!placed) {
            // A file known to have lost its folder (shown by its record number) goes straight under the orphan
            // folder.
            NtfsEntry& holder = entries[static_cast<std::size_t>(parentRecord < 0 ? orphanIndex : current)];
            e.nextSibling = holder.firstChild > 0 ? holder.firstChild : 0;
            holder.firstChild = static_cast<std::int64_t>(i);
        }
    }
}

void NtfsEngine::attachUnreachableEntries() {
    // An entry can be linked under a folder that is itself not in the tree: a folder whose own parent is gone,
    // or two folders naming each other. Each such group is hung under the orphan folder by its topmost folder.
    const std::uint64_t count = entries.size();
    std::vector<std::uint8_t> reachable(count, 0);
    std::vector<std::uint64_t> pending;
    auto markFrom = [&](std::uint64_t start) {
        pending.push_back(start);
        reachable[start] = 1;
        while (!pending.empty()) {
            const std::uint64_t f = pending.back();
            pending.pop_back();
            walkChildren(f, [&](std::uint64_t child) {
                if (reachable[child]) return false;
                reachable[child] = 1;
                if (entries[child].isFolder()) pending.push_back(child);
                return true;
            });
        }
    };
    if (rootIndex >= 0 && static_cast<std::uint64_t>(rootIndex) < count) markFrom(static_cast<std::uint64_t>(rootIndex));
    markFrom(static_cast<std::uint64_t>(orphanIndex));

    std::vector<std::uint64_t> stamp(count, 0);
    for (std::uint64_t i = 1; i < count; ++i) {
        if (reachable[i] || !entries[i].hasName || entries[i].stream != 0) continue;
        std::uint64_t top = i;
        stamp[top] = i;
        while (true) {
            const std::int64_t p = entries[top].parentIndex;
            if (p <= 0 || static_cast<std::uint64_t>(p) >= count) break;
            const auto pi = static_cast<std::uint64_t>(p);
            if (reachable[pi] || stamp[pi] == i || !entries[pi].isFolder() || !entries[pi].hasName) break;
            stamp[pi] = i;
            top = pi;
        }
        // Take it out of its parent's chain first, or hanging it elsewhere would cut that chain.
        const std::int64_t p = entries[top].parentIndex;
        if (p > 0 && static_cast<std::uint64_t>(p) < count && static_cast<std::uint64_t>(p) != top) {
            NtfsEntry& parent = entries[static_cast<std::size_t>(p)];
            const auto t = static_cast<std::int64_t>(top);
            if (parent.firstChild == t) {
                parent.firstChild = std::max<std::int64_t>(entries[top].nextSibling, 0);
            } else {
                walkChildren(static_cast<std::uint64_t>(p), [&](std::uint64_t child) {
                    if (entries[child].nextSibling != t) return true;
                    entries[child].nextSibling = entries[top].nextSibling;
                    return false;
                });
            }
        }
        entries[top].orphan = 1;
        entries[top].nextSibling = 0;
        pushOrphan(top);
        markFrom(top);
    }
}

void NtfsEngine::buildEntryTree() {
    gatherFileNames();
    const std::uint64_t count = entries.size();
    // Linking runs even after a stop, so that what was read is shown.
    if (parseMode != ParseMode::Deep) placeEntries();

    NtfsEntry orphan;
    orphan.signature = {'F', 'I', 'L', 'E'};
    orphan.name = kOrphanEntryName;
    orphan.hasName = true;
    orphan.kind = 'D';
    orphan.recordFlags = kRecordInUse;
    orphan.ownIndex = count;
    orphan.recordNumber = count;
    entries.push_back(orphan);
    orphanIndex = static_cast<std::int64_t>(count);

    rootIndex = -1;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (entries[i].hasName && entries[i].name == ".") {
            rootIndex = static_cast<std::int64_t>(i);
            break;
        }
    }
    if (rootIndex >= 0) {
        NtfsEntry& o = entries[static_cast<std::size_t>(orphanIndex)];
        o.parentIndex = rootIndex;
        o.nextSibling = 0;
        // The orphan folder goes last among the root's children.
        std::int64_t last = 0;
        walkChildren(static_cast<std::uint64_t>(rootIndex), [&](std::uint64_t child) {
            last = static_cast<std::int64_t>(child);
            return true;
        });
        if (last > 0) entries[static_cast<std::size_t>(last)].nextSibling = orphanIndex;
    }
    relinkOrphans();
    attachUnreachableEntries();
    placeStreamEntries();
    lastChild_.clear();
    lastChild_.shrink_to_fit();
    insertTopLevelItems();
}

std::vector<std::uint64_t> NtfsEngine::childEntries(std::uint64_t folder) const {
    std::vector<std::uint64_t> out;
    const std::uint64_t count = entries.size();
    if (folder >= count) return out;
    std::unordered_set<std::uint64_t> seen;
    walkChildren(folder, [&](std::uint64_t child) {
        if (!seen.insert(child).second) return false;
        out.push_back(child);
        return true;
    });
    return out;
}

std::vector<std::uint64_t> NtfsEngine::topLevelEntries() const {
    std::vector<std::uint64_t> out;
    bool orphanSeen = false;
    if (parseMode != ParseMode::Deep && rootIndex >= 0) {
        for (std::uint64_t c : childEntries(static_cast<std::uint64_t>(rootIndex))) {
            if (isSynthetic(c)) orphanSeen = true;
            out.push_back(c);
        }
    }
    // The orphan folder is shown even without a root: on a damaged volume it may hold everything found.
    if (!orphanSeen && orphanIndex >= 0 && static_cast<std::uint64_t>(orphanIndex) < entries.size())
        out.push_back(static_cast<std::uint64_t>(orphanIndex));
    return out;
}

void NtfsEngine::insertTopLevelItems() {
    if (!treeControl) return;
    for (std::uint64_t index : topLevelEntries()) {
        const NtfsEntry& e = entries[index];
        treeControl->insertItem(rootItem_, e.name, e.isFolder() ? TreeIcon::Folder : TreeIcon::File,
                                e.deleted() ? TreeColour::Deleted : TreeColour::Normal, index);
    }
    treeControl->expandItem(rootItem_);
}

void NtfsEngine::freeEntryNames() {
    std::lock_guard lock(nameMutex_);
    for (NtfsEntry& e : entries) {
        if (isSynthetic(e.ownIndex)) continue;
        e.name.clear();
        e.name.shrink_to_fit();
        e.hasName = false;
    }
}

std::string NtfsEngine::entryName(std::uint64_t index) const {
    if (index >= entries.size()) return {};
    std::lock_guard lock(nameMutex_);
    return entries[index].name;
}

void NtfsEngine::renameEntry(std::uint64_t index, const std::string& name) {
    if (index >= entries.size()) return;
    std::lock_guard lock(nameMutex_);
    entries[index].name = name;
    entries[index].hasName = true;
}

// ---- list texts ---------------------------------------------------------------------------------------------

std::string NtfsEngine::attributeLetters(std::uint16_t flags) {
    static const std::vector<AttributeCode> kCodes = {
        {0x0001, "-R"}, {0x0002, "-H"}, {0x0200, "-S"}, {0x0020, "-A"}, {0x0800, "-C"}, {0x4000, "-E"}};
    return attributeText(flags, kCodes);
}

NtfsFileTimes NtfsEngine::fileTimes(Bytes record) {
    NtfsFileTimes times;
    std::uint32_t nameFlags = 0, standardFlags = 0;
    bool haveStandardFlags = false;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.nonResident) return true;
        if (h.type == kStandardInformation) {
            if (const auto si = StandardInformation::read(h.value(record))) {
                times.known = true;
                times.created = si->created;
                times.modified = si->modified;
                times.accessed = si->accessed;
                if (si->hasFileAttributes) {
                    standardFlags = si->fileAttributes;
                    haveStandardFlags = true;
                }
            }
        } else if (h.type == kFileName) {
            if (const auto fn = FileNameValue::read(h.value(record))) nameFlags = fn->fileFlags;
        }
        return true;
    });
    // The standard information holds the live attribute flags; the file-name copy is refreshed only on renames.
    times.attributeFlags = static_cast<std::uint16_t>((haveStandardFlags ? standardFlags : nameFlags) & 0xFFFF);
    times.attributes = attributeLetters(times.attributeFlags);
    return times;
}

std::string NtfsEngine::reparseTarget(Bytes record) {
    std::string target;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.type != kReparsePoint || h.nonResident) return true;
        if (const auto point = ReparsePoint::read(h.value(record))) target = point->target;
        return false;
    });
    return target;
}

NtfsFileTimes NtfsEngine::fileTimes(std::uint64_t index) const {
    std::vector<std::uint8_t> record;
    readEntryRecord(index, record);
    if (record.empty()) return {};
    return fileTimes(record);
}

}  // namespace halvard
