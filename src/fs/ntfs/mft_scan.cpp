// Finding MFT records by their signature when the boot sector does not lead to the MFT: the scan for $MFT with a
// corrupt boot sector, the deep scan that collects every named record, and the advanced mode's $MFT finder.
#include <algorithm>
#include <cstring>

#include "fs/ntfs/ntfs_engine.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "image/unstored_skip.h"

namespace halvard {

using namespace ntfs_format;

namespace {
constexpr std::uint64_t kScanChunk = 10 * 1024 * 1024;
constexpr std::uint64_t kEndWalk = ~0ULL;
constexpr std::uint64_t kSlot = 512;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The three header offsets of a real record all lie in its first sector.
bool plausibleRecordStart(Bytes chunk, std::uint64_t o) {
    return hasSignature(chunk, o, "FILE") && le16(chunk, o + 0x04) < 512 && le16(chunk, o + 0x06) < 512 &&
           le16(chunk, o + 0x14) < 512;
}
}  // namespace

void NtfsEngine::scanVolume(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                      const std::function<std::uint64_t(Bytes, std::uint64_t, std::uint64_t)>& slot) {
    struct SkipReport {
        NtfsEngine& engine;
        const UnstoredSkip& unstored;
        ~SkipReport() {
            if (unstored.skippedBytes()) engine.reporting.setStatus(unstoredSkipText(unstored.skippedBytes()));
        }
    };
    std::vector<std::uint8_t> chunk(kScanChunk);
    std::uint64_t position = 0;
    // What the image does not store reads as zeros, where no record starts.
    UnstoredSkip unstored([this](std::uint64_t offset, std::uint64_t length) { return reader_.storedRun(offset, length); },
                          limit);
    const SkipReport report{*this, unstored};
    for (std::uint64_t number = 0; position < limit; ++number) {
        position = unstored.next(position, kSlot);
        if (position >= limit) return;
        number = std::max(number, position / kScanChunk);
        if (!beforeChunk(number)) return;
        const auto length = static_cast<std::size_t>(std::min(kScanChunk, limit - position));
        // A chunk that starts beyond the virtual disk ends the scan: everything after it lies there too.
        if (!reader_.read(position, chunk.data(), length)) {
            std::vector<std::uint8_t> probe(kSlot);
            if (!reader_.read(position, probe.data(), probe.size()) && allZero(probe)) return;
        }
        const Bytes bytes(chunk.data(), length);
        std::uint64_t o = 0;
        while (o + kSlot <= length) {
            const std::uint64_t advance = slot(bytes, o, position + o);
            if (advance == kEndWalk) return;
            if (advance == 0) break;  // a record runs past the chunk: the next chunk starts with it
            o += advance;
        }
        if (o == 0) o = length;
        position += o;
    }
}

void NtfsEngine::scanRecords(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                             std::vector<std::uint8_t>& record,
                             const std::function<std::uint64_t(Bytes, std::uint64_t, std::uint64_t)>& took) {
    scanVolume(limit, beforeChunk, [&](Bytes chunk, std::uint64_t o, std::uint64_t offset) -> std::uint64_t {
        if (stop.stopNow()) return kEndWalk;
        if (!plausibleRecordStart(chunk, o)) return kSlot;
        if (!takeScannedRecord(chunk, o, offset, record)) return 0;
        return took(chunk, o, offset);
    });
}

std::uint64_t NtfsEngine::inferClusterSize(Bytes mftRecord, std::uint64_t mftRecordOffset, Bytes nextRecord) const {
    // $MFT's first run starts at its own record, and $MFTMirr's at the mirror that holds a copy of it.
    auto match = [&](Bytes record) -> std::uint64_t {
        const std::vector<DataRun> runs = attributeRuns(record, kData);
        if (runs.empty() || runs[0].sparse || runs[0].startCluster <= 0) return 0;
        for (std::uint64_t size = 512; size <= (2ULL << 20); size *= 2)
            if (static_cast<std::uint64_t>(runs[0].startCluster) * size == mftRecordOffset) return size;
        return 0;
    };
    if (const std::uint64_t size = match(mftRecord)) return size;
    bool mirror = false;
    forEachAttribute(nextRecord, [&](const AttributeHeader& h) {
        if (h.type == kFileName && !h.nonResident) {
            const auto fn = FileNameValue::read(h.value(nextRecord));
            mirror = mirror || (fn && fn->name == "$MFTMirr");
        }
        return true;
    });
    return mirror ? match(nextRecord) : 0;
}

void NtfsEngine::copyScannedRecord(Bytes chunk, std::uint64_t o, std::vector<std::uint8_t>& record) const {
    record.assign(recordSize, 0);
    if (o < chunk.size()) {
        const Bytes available = slice(chunk, o, std::min<std::uint64_t>(recordSize, chunk.size() - o));
        std::copy(available.begin(), available.end(), record.begin());
    }
    applyFixups(record);
}

bool NtfsEngine::takeScannedRecord(Bytes chunk, std::uint64_t o, std::uint64_t offset, std::vector<std::uint8_t>& record) {
    adoptRecordSizeFrom(slice(chunk, o, 0x30));
    if (o > 0 && o + recordSize > chunk.size() && offset + recordSize <= volumeSize) return false;
    copyScannedRecord(chunk, o, record);
    appendScannedEntry(record, offset);
    return true;
}

void NtfsEngine::appendScannedEntry(Bytes record, std::uint64_t offset) {
    NtfsEntry entry;
    std::memcpy(entry.signature.data(), record.data(), std::min<std::size_t>(4, record.size()));
    entry.recordOffset = offset;
    entry.ownIndex = entries.size();
    entries.push_back(std::move(entry));
    parseMftRecord(record, entries.size() - 1);
}

namespace {
// Index 0 means "none" in every link, so scans keep a blank entry there and their records start at 1.
void reserveIndexZero(std::vector<NtfsEntry>& entries) {
    if (entries.empty()) entries.emplace_back();
}
}  // namespace

bool NtfsEngine::scanForFirstMft() {
    const std::uint64_t fallbackCluster = bootValid_ && bootClusterSize() ? bootClusterSize() : 4096;
    clusterSize = 4096;
    reporting.setStatus("boot sector corrupt.Scanning for first mft entry...");
    mftRunReady = false;
    entriesFromMap_ = false;
    reserveIndexZero(entries);
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>((volumeSize + kScanChunk - 1) / kScanChunk, 0xFFFFFFFFu)));
    bool found = false;
    std::vector<std::uint8_t> record, next;
    scanVolume(
        volumeSize,
        [&](std::uint64_t number) {
            if (stop.stopNow()) return false;
            if (number % 100 == 0) reporting.setPosition(static_cast<std::uint32_t>(number));
            return true;
        },
        [&](Bytes chunk, std::uint64_t o, std::uint64_t offset) -> std::uint64_t {
            if (!hasSignature(chunk, o, "FILE")) return kSlot;
            if (!takeScannedRecord(chunk, o, offset, record)) return 0;
            const NtfsEntry& e = entries.back();
            // Only $MFT's own record: the mirror's record ($MFTMirr) maps just the mirror.
            if (stopAtFirstMft && e.hasName && e.name == "$MFT") {
                reporting.setStatus("found mft entry.getting its run ...");
                copyScannedRecord(chunk, o + recordSize, next);
                const std::uint64_t inferred = inferClusterSize(record, offset, next);
                const std::uint64_t previous = clusterSize;
                clusterSize = inferred ? inferred : fallbackCluster;
                RunMap map = mftMapFromRecord(record);
                reporting.setStatus("got run ...");
                if (!map.pieces().empty()) {
                    mftRuns = runsFromMapInOrder(map);
                    useMftMap(std::move(map));
                    mftRunReady = true;
                    takeRunFromFirstEntry = false;
                    entries.clear();
                    found = true;
                    return kEndWalk;
                }
                clusterSize = previous;
            }
            return recordSize;
        });
    return found;
}

void NtfsEngine::deepScanMft() {
    const std::uint64_t bootCluster = bootClusterSize();
    clusterSize = bootCluster ? bootCluster : 4096;
    mftRunReady = false;
    entriesFromMap_ = false;
    reserveIndexZero(entries);
    const std::uint64_t chunks = (volumeSize + kScanChunk - 1) / kScanChunk;
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(chunks, 0xFFFFFFFFu)));
    bool clusterKnown = bootCluster != 0;
    std::uint64_t named = 0;
    std::vector<std::uint8_t> record, next;
    scanRecords(
        volumeSize,
        [&](std::uint64_t number) {
            reporting.setPosition(static_cast<std::uint32_t>(number));
            return true;
        },
        record,
        [&](Bytes chunk, std::uint64_t o, std::uint64_t offset) -> std::uint64_t {
            NtfsEntry& e = entries.back();
            // Nameless records stay when they may belong to a file: extension records, and base records whose
            // names lie in extension records.
            if (!e.hasName && e.baseRecord == 0 && !e.hasAttributeList) {
                entries.pop_back();
                return recordSize;
            }
            e.orphan = 1;
            if (e.hasName) ++named;
            // One status line per record would hold the worker up on the page for every record found.
            if (named == 1 || named % 1024 == 0)
                reporting.setStatus("MFT ENTRY " + std::to_string(entries.size()) + " Found.Parsing it ..");
            if (!clusterKnown && e.name == "$MFT") {
                copyScannedRecord(chunk, o + recordSize, next);
                if (const std::uint64_t inferred = inferClusterSize(record, offset, next)) {
                    clusterSize = inferred;
                    clusterKnown = true;
                }
            }
            return recordSize;
        });
    reporting.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(chunks, 0xFFFFFFFFu)));
}

std::uint64_t NtfsEngine::findMftEntries(std::uint64_t limit) {
    if (limit < 1) limit = 3;
    const std::uint64_t bootCluster = bootClusterSize();
    clusterSize = bootCluster ? bootCluster : 4096;
    mftRunReady = false;
    entriesFromMap_ = false;
    volumeSize = volumeSizeBytes(volume_);
    if (volumeSize == ~0ULL) volumeSize = 0;
    if (const std::uint64_t disk = reader_.diskBytesFromStart(); disk > 0) volumeSize = std::min(volumeSize, disk);
    if (volumeSize == 0) return 0;
    reserveIndexZero(entries);
    const std::uint64_t chunks = volumeSize / kScanChunk;
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(chunks, 0xFFFFFFFFu)));
    std::vector<std::uint8_t> record;
    scanRecords(
        volumeSize > 1024 ? volumeSize - 1024 : 0,
        [&](std::uint64_t number) {
            if (!mftCandidates.empty() && mftCandidates.size() >= limit) return false;
            if (stop.stopNow()) return false;
            reporting.setPosition(static_cast<std::uint32_t>(number));
            return true;
        },
        record,
        [&](Bytes, std::uint64_t, std::uint64_t) -> std::uint64_t {
            // $MFT is record 0 and $Boot record 7 of one run of records: seven places apart.
            const std::size_t count = entries.size();
            const NtfsEntry& last = entries.back();
            if (count >= 9 && last.hasName && startsWith(last.name, "$Boot")) {
                const NtfsEntry& mft = entries[count - 8];
                if (mft.hasName && startsWith(mft.name, "$MFT") && (mft.name.size() < 5 || mft.name[4] != 'M')) {
                    mftCandidates.push_back(mft);
                    reporting.setStatus("MFT ENTRY " + std::to_string(count) + " Found.Parsing it ...");
                }
            }
            return recordSize;
        });
    reporting.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(chunks, 0xFFFFFFFFu)));
    stopAtFirstMft = false;
    return mftCandidates.size();
}

bool NtfsEngine::takeMftRunFromCandidate(std::uint64_t index) {
    mftRunReady = false;
    if (index >= mftCandidates.size()) return false;
    std::vector<std::uint8_t> record;
    readRecordAt(mftCandidates[index].recordOffset, record);
    RunMap map = mftMapFromRecord(record);
    if (map.pieces().empty()) return false;
    mftRuns = runsFromMapInOrder(map);
    useMftMap(std::move(map));
    mftRunReady = true;
    takeRunFromFirstEntry = false;
    return true;
}

}  // namespace halvard
