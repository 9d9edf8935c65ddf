// File content: $DATA descriptions, run lists, attribute lists and the layout a file is read by.
#include <algorithm>
#include <cstring>
#include <limits>

#include "common/host_files.h"
#include "fs/ntfs/compressed_content.h"
#include "fs/ntfs/ntfs_engine.h"

namespace halvard {

using namespace ntfs_format;

namespace {

// Compression units are 16 clusters of at most 4 KiB; anything far beyond is not a unit to decode.
constexpr std::uint64_t kMaxCompressionUnit = 16 * 1024 * 1024;
// Zeros a damaged run list may add to one file when the volume's size is unknown.
constexpr std::uint64_t kMaxInventedWithoutVolume = 1ULL << 30;

std::uint64_t vcnCount(const AttributeHeader& h) { return h.lastVcn >= h.firstVcn ? h.lastVcn - h.firstVcn + 1 : 0; }

bool isUnnamedData(const AttributeHeader& h) { return h.type == kData && h.nameLength == 0; }

// The $DATA attribute named `stream` (the unnamed one for an empty name).
bool isStreamData(Bytes record, const AttributeHeader& h, const std::string& stream) {
    if (stream.empty()) return isUnnamedData(h);
    return h.type == kData && h.nameLength != 0 && h.name(record) == stream;
}

void describeNonResident(const AttributeHeader& h, DataDescription& d) {
    d.attributeOffset = h.offset;
    d.dataOffset = h.runListOffset;
    d.dataLength = h.length > h.runListOffset ? h.length - h.runListOffset : 0;
    d.compressionUnitExponent = h.compressionUnitExponent;
    d.firstVcn = h.firstVcn;
    d.lastVcn = h.lastVcn;
    d.allocatedSize = h.allocatedSize;
    d.realSize = h.realSize;
    d.initializedSize = h.initializedSize;
    d.flags = h.flags;
    d.form = 'N';
    if (h.flags & kCompressionMask)
        d.classification = "Compressed";
    else if (h.flags & kEncrypted)
        d.classification = "Encrypted";
    else
        d.classification = "Normal";
}

// The resident value's bytes, cut to the attribute when its length claims more.
Bytes residentBytes(Bytes record, const AttributeHeader& h, bool& damaged) {
    if (h.valueFits) return h.value(record);
    damaged = true;
    if (h.valueOffset >= h.length) return {};
    return slice(record, static_cast<std::uint64_t>(h.offset) + h.valueOffset, h.length - h.valueOffset);
}

}  // namespace

struct NtfsEngine::FileData {
    DataDescription desc;
    bool found = false;      // the record has content to write
    bool sizeKnown = false;  // desc holds the sizes of the attribute's first piece
    std::vector<std::uint8_t> residentValue;
    RunMap map;
    bool damaged = false;
    bool fromAttributeList = false;

    bool resident() const { return desc.form == 'R'; }
    bool compressed() const { return desc.form == 'N' && (desc.flags & kCompressionMask) != 0; }
};

// ---- descriptions and runs ----------------------------------------------------------------------------------

DataDescription NtfsEngine::describeData(Bytes record) {
    DataDescription d;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (!isUnnamedData(h)) return true;  // named streams are not the file's content
        if (h.nonResident) {
            describeNonResident(h, d);
            return false;
        }
        bool damaged = false;
        const Bytes value = residentBytes(record, h, damaged);
        d = DataDescription{};
        d.attributeOffset = h.offset;
        d.dataOffset = h.offset + h.valueOffset;
        d.dataLength = static_cast<std::uint32_t>(value.size());
        d.realSize = value.size();
        d.allocatedSize = value.size();
        d.initializedSize = value.size();
        d.form = 'R';
        return true;
    });
    return d;
}

std::vector<DataRun> NtfsEngine::attributeRuns(Bytes record, std::uint32_t type, std::uint64_t* clusterCount) {
    std::vector<DataRun> runs;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.type != type || !h.nonResident || (type == kData && h.nameLength != 0)) return true;
        const std::uint64_t limit = vcnCount(h);
        if (clusterCount) *clusterCount = limit;
        const RunListDecoding decoded = decodeRunList(h.runList(record), limit);
        runs.insert(runs.end(), decoded.runs.begin(), decoded.runs.end());
        return true;
    });
    return runs;
}

std::vector<DataRun> NtfsEngine::attributeRuns(std::uint64_t recordOffset, std::uint32_t type) const {
    std::vector<std::uint8_t> record;
    if (!readRecordAt(recordOffset, record)) return {};
    return attributeRuns(record, type);
}

std::vector<std::int64_t> NtfsEngine::clusterNumbers(const RunMap& map, std::uint64_t firstVcn, std::uint64_t count) {
    std::vector<std::int64_t> clusters;
    clusters.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 16)));
    for (std::uint64_t vcn = firstVcn; vcn < firstVcn + count; ++vcn) {
        const RunMap::Piece* piece = map.find(vcn);
        clusters.push_back(!piece || piece->sparse ? -1 : piece->lcn + static_cast<std::int64_t>(vcn - piece->vcn));
    }
    return clusters;
}

NtfsEngine::FileData NtfsEngine::collectFileData(std::uint64_t index, Bytes record) const {
    const std::uint64_t ownNumber = index < entries.size() ? entries[fileOf(index)].recordNumber : index;
    const std::string stream = streamName(index);
    const auto strays = deletedExtensions_.find(ownNumber);
    if (index < entries.size() && entries[index].deleted() && strays != deletedExtensions_.end())
        return collectFileData(record, ownNumber, extensionFetch(), strays->second, stream);
    return collectFileData(record, ownNumber, extensionFetch(), {}, stream);
}

NtfsEngine::FileData NtfsEngine::collectFileData(Bytes record, std::uint64_t ownNumber, const RecordFetch& fetch,
                                     const std::vector<std::uint64_t>& strays, const std::string& stream) const {
    FileData fd;
    // The $DATA attribute's pieces, from wherever the file's attribute list puts them.
    struct Piece {
        std::uint64_t firstVcn;
        RunListDecoding runs;
    };
    std::vector<Piece> pieces;
    bool firstDescribed = false;
    const AttributeWalk walk = forEachFileAttribute(record, ownNumber, fetch, [&](Bytes rec, const AttributeHeader& h) {
        if (!isStreamData(rec, h, stream)) return;
        if (!h.nonResident) {
            if (!pieces.empty() || fd.found) return;
            const Bytes value = residentBytes(rec, h, fd.damaged);
            fd.residentValue.assign(value.begin(), value.end());
            fd.desc.attributeOffset = h.offset;
            fd.desc.dataOffset = h.offset + h.valueOffset;
            fd.desc.dataLength = static_cast<std::uint32_t>(value.size());
            fd.desc.realSize = fd.desc.allocatedSize = fd.desc.initializedSize = value.size();
            fd.desc.form = 'R';
            fd.sizeKnown = fd.found = true;
            return;
        }
        if (fd.resident()) {
            fd = FileData{};  // a non-resident piece outweighs a resident value beside it
        }
        if (h.firstVcn == 0 && !firstDescribed) {
            describeNonResident(h, fd.desc);
            fd.sizeKnown = firstDescribed = true;
        }
        pieces.push_back({h.firstVcn, decodeRunList(h.runList(rec), vcnCount(h))});
        fd.found = true;
    }, strays);
    fd.fromAttributeList = walk.hasList;
    if (walk.damaged) fd.damaged = true;
    if (pieces.empty()) return fd;
    fd.desc.form = 'N';
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.firstVcn < b.firstVcn; });
    if (!walk.hasList && pieces.size() == 1 && pieces[0].firstVcn != 0) {
        // Without an attribute list the record holds the whole attribute, which starts at VCN 0 whatever a
        // damaged header says.
        fd.damaged = true;
        forEachAttribute(record, [&](const AttributeHeader& h) {
            if (!isStreamData(record, h, stream) || !h.nonResident) return true;
            pieces[0] = {0, decodeRunList(h.runList(record), h.lastVcn + 1)};
            return false;
        });
    }
    for (const Piece& p : pieces) {
        if (p.firstVcn < fd.map.endVcn()) {
            fd.damaged = true;  // two pieces claim the same clusters
            continue;
        }
        if (p.runs.damaged) fd.damaged = true;
        fd.map.append(p.runs.runs, p.firstVcn);
    }
    if (!fd.sizeKnown) fd.damaged = true;
    return fd;
}

RunMap NtfsEngine::mftMapFromRecord(Bytes record) const {
    // A fragmented MFT continues in extension records that its attribute list names; they lie in the part of the
    // MFT that $MFT's own record maps.
    const RunMap first(attributeRuns(record, kData));
    const RecordFetch fetch = [&](std::uint64_t number, std::vector<std::uint8_t>& extension) {
        std::uint64_t stream = 0;
        if (!multiplyFits(number, recordSize, stream)) return false;
        extension.assign(recordSize, 0);
        if (!readStream(first, stream, extension.data(), extension.size())) return false;
        applyFixups(extension);
        return true;
    };
    return collectFileData(record, 0, fetch).map;
}

std::optional<std::uint64_t> NtfsEngine::listedSize(const FileData& data) const {
    if (!data.found) return 0;
    if (data.sizeKnown) return data.desc.realSize;
    return std::nullopt;
}

std::uint64_t NtfsEngine::entrySize(std::uint64_t index, Bytes record) const {
    if (isSynthetic(index)) return 0;
    const FileData fd = collectFileData(index, record);
    if (const auto size = listedSize(fd)) return *size;
    // Without the first piece the size is what the runs cover.
    return saturatingMultiply(fd.map.endVcn(), clusterSize);
}

void NtfsEngine::keepListFacts(Bytes record, NtfsEntry& entry) const {
    entry.listFacts = {};
    const auto size = listedSize(collectFileData(record, entry.recordNumber, extensionFetch()));
    if (!size) return;
    const NtfsFileTimes times = fileTimes(record);
    entry.listFacts.created = times.created;
    entry.listFacts.modified = times.modified;
    entry.listFacts.accessed = times.accessed;
    entry.listFacts.timesKnown = times.known;
    entry.listFacts.attributeFlags = times.attributeFlags;
    entry.listFacts.size = *size;
    entry.listFacts.kept = true;
}

const NtfsListFacts* NtfsEngine::keptListFacts(std::uint64_t index) const {
    if (index >= entries.size() || isSynthetic(index) || isStream(index)) return nullptr;
    const NtfsEntry& file = entries[fileOf(index)];
    if (!file.listFacts.kept) return nullptr;
    if (entries[index].deleted() && deletedExtensions_.count(file.recordNumber) != 0) return nullptr;
    return &file.listFacts;
}

std::uint64_t NtfsEngine::entrySize(std::uint64_t index) const {
    std::vector<std::uint8_t> record;
    readEntryRecord(index, record);
    if (record.empty()) return 0;
    return entrySize(index, record);
}

// ---- content ------------------------------------------------------------------------------------------------

bool NtfsEngine::readClusters(std::int64_t cluster, std::uint64_t clusters, std::uint8_t* buffer) const {
    const std::uint64_t bytes = clusters * clusterSize;
    if (clusterRangeInVolume(cluster, clusters))
        return reader_.read(static_cast<std::uint64_t>(cluster) * clusterSize, buffer, static_cast<std::size_t>(bytes));
    // Partly or wholly outside the volume: read what lies inside, zeros for the rest.
    std::memset(buffer, 0, static_cast<std::size_t>(bytes));
    if (cluster >= 0 && volumeSize > 0) {
        const std::uint64_t volumeClusters = volumeSize / clusterSize;
        if (static_cast<std::uint64_t>(cluster) < volumeClusters) {
            const std::uint64_t inside = std::min(clusters, volumeClusters - static_cast<std::uint64_t>(cluster));
            reader_.read(static_cast<std::uint64_t>(cluster) * clusterSize, buffer,
                       static_cast<std::size_t>(inside * clusterSize));
        }
    }
    return false;
}

std::uint64_t NtfsEngine::contentLength(const FileData& data, bool& damaged) const {
    if (!data.sizeKnown) return saturatingMultiply(data.map.endVcn(), clusterSize);
    // A file never holds more than its allocation; a real size beyond it is damage, and trusting it could mean
    // making up terabytes of zeros.
    if (data.desc.realSize > data.desc.allocatedSize) {
        damaged = true;
        return data.desc.allocatedSize;
    }
    return data.desc.realSize;
}

bool NtfsEngine::tooMuchInvented(std::uint64_t zeros) const {
    // A run list that makes up more than a volume's worth of clusters is noise, not a file.
    return zeros > (volumeSize ? volumeSize : kMaxInventedWithoutVolume);
}

bool NtfsEngine::padsMissingTail(const FileData& data) {
    // Only when pieces named by an attribute list could not be read: the file then keeps its length. A single
    // record's runs describe the whole attribute, so a size beyond them is not believed.
    return data.sizeKnown && data.fromAttributeList;
}

std::uint64_t NtfsEngine::clustersInVolume(std::int64_t cluster, std::uint64_t count) const {
    if (clusterRangeInVolume(cluster, count)) return count;
    if (cluster < 0 || volumeSize == 0 || clusterSize == 0) return 0;
    const std::uint64_t volumeClusters = volumeSize / clusterSize;
    const auto first = static_cast<std::uint64_t>(cluster);
    return first < volumeClusters ? std::min(count, volumeClusters - first) : 0;
}

ContentLayout NtfsEngine::plainLayout(const FileData& data, ContentFacts& facts) const {
    ContentLayout layout;
    const std::uint64_t cs = clusterSize;
    if (cs == 0) return layout;
    std::uint64_t remaining = contentLength(data, facts.damaged);
    const std::uint64_t total = remaining;
    // Past the initialized size the clusters hold whatever was there before: the file reads as zeros there.
    const std::uint64_t initialized =
        data.sizeKnown && data.desc.form == 'N' ? std::min(data.desc.initializedSize, total) : total;
    // Holes belong to sparse files only; in any other file a hole is a damaged run list.
    const bool holesAllowed = (data.desc.flags & (kSparse | kCompressionMask)) != 0;
    const auto& pieces = data.map.pieces();
    std::uint64_t invented = 0;  // zeros made up where the runs are damaged (holes, missing pieces, outside)
    // Made-up zeros stop at the budget: the file ends there.
    auto addMissing = [&](std::uint64_t n) {
        facts.damaged = true;
        const std::uint64_t budget = volumeSize ? volumeSize : kMaxInventedWithoutVolume;
        const std::uint64_t allowed = std::min(n, budget - std::min(budget, invented));
        invented += n;
        layout.missing(allowed);
        remaining -= allowed;
        return allowed == n;
    };
    std::uint64_t vcn = 0;
    while (remaining > 0) {
        const RunMap::Piece* piece = data.map.find(vcn);
        std::uint64_t n = 0;
        if (!piece) {
            // VCNs no run describes: a piece of the attribute is missing.
            auto next = std::upper_bound(pieces.begin(), pieces.end(), vcn,
                                         [](std::uint64_t v, const RunMap::Piece& p) { return v < p.vcn; });
            if (next == pieces.end()) {
                // The last pieces are missing: keep the file's length as far as its allocation vouches for it.
                facts.damaged = true;
                if (padsMissingTail(data)) {
                    layout.missing(remaining);
                    remaining = 0;
                }
                break;
            }
            n = std::min(remaining, saturatingMultiply(next->vcn - vcn, cs));
            if (!addMissing(n)) break;
        } else {
            const std::uint64_t left = piece->vcn + piece->length - vcn;
            n = std::min(remaining, saturatingMultiply(left, cs));
            if (piece->sparse) {
                if (!holesAllowed) {
                    if (!addMissing(n)) break;
                } else {
                    layout.zeros(n);
                    remaining -= n;
                }
            } else {
                const std::int64_t cluster = piece->lcn + static_cast<std::int64_t>(vcn - piece->vcn);
                const std::uint64_t at = total - remaining;
                const std::uint64_t inside = std::min(n, clustersInVolume(cluster, (n + cs - 1) / cs) * cs);
                // The initialized part is read, the rest of what lies inside reads as zeros.
                const std::uint64_t readable = initialized > at ? std::min(inside, initialized - at) : 0;
                if (readable > 0) layout.stored(readable, static_cast<std::uint64_t>(cluster) * cs);
                if (readable < inside) {
                    layout.zeros(inside - readable);
                    facts.uninitializedZeros = true;
                }
                remaining -= inside;
                if (inside < n && !addMissing(n - inside)) break;
            }
        }
        vcn += (n + cs - 1) / cs;
    }
    if (remaining > 0) facts.damaged = true;
    return layout;
}

std::uint64_t NtfsEngine::compressedLength(const FileData& data, unsigned exponent, ContentFacts& facts) const {
    const std::uint64_t cs = clusterSize;
    const std::uint64_t u = 1ULL << exponent;
    const std::uint64_t unitBytes = u * cs;
    const std::uint64_t realSize = contentLength(data, facts.damaged);
    const std::uint64_t endVcn = data.map.endVcn();
    std::uint64_t produced = 0;
    std::uint64_t invented = 0;  // zeros made up where the runs are damaged
    for (std::uint64_t unitVcn = 0; produced < realSize; unitVcn += u) {
        if (unitVcn >= endVcn) {
            facts.damaged = true;  // the runs end before the data does
            return padsMissingTail(data) ? realSize : produced;
        }
        bool described = false;
        for (std::uint64_t k = 0; k < u && !described; ++k) described = data.map.find(unitVcn + k) != nullptr;
        if (!described) {
            facts.damaged = true;
            invented += unitBytes;
        }
        const std::vector<std::int64_t> clusters = clusterNumbers(data.map, unitVcn, u);
        for (std::uint64_t k = 0; k < u; ++k) {
            if (clusters[k] >= 0 && !clusterRangeInVolume(clusters[k], 1)) {
                facts.damaged = true;
                invented += cs;
            }
        }
        produced += std::min(unitBytes, realSize - produced);
        if (tooMuchInvented(invented)) break;
    }
    if (produced < realSize) facts.damaged = true;
    return produced;
}

std::unique_ptr<FileContent> NtfsEngine::openNtfsContent(std::uint64_t index) const {
    if (index >= entries.size()) return refusedContent("no such entry");
    ContentFacts facts;
    std::vector<std::uint8_t> record;
    bool recordRead = true;
    if (!isSynthetic(index)) recordRead = readEntryRecord(index, record);
    if (!record.empty()) {
        const NtfsFileTimes times = fileTimes(record);
        if (times.known) {
            facts.accessed = ContentTime{unixSecondsFromFileTime(times.accessed),
                                         static_cast<std::uint32_t>(times.accessed % 10000000ULL) * 100};
            facts.modified = ContentTime{unixSecondsFromFileTime(times.modified),
                                         static_cast<std::uint32_t>(times.modified % 10000000ULL) * 100};
        }
    }
    // A folder, or an entry without a record, is an empty file named like it.
    if (record.empty() || entries[index].isFolder()) return memoryContent({}, std::move(facts));
    if (!recordRead) facts.damaged = true;
    FileData data = collectFileData(index, record);
    if (data.damaged) facts.damaged = true;
    if (!data.found) return memoryContent({}, std::move(facts));
    if (data.resident()) return memoryContent(std::move(data.residentValue), std::move(facts));
    const unsigned exponent = data.desc.compressionUnitExponent;
    const bool decodable = exponent != 0 && exponent <= 16 && (clusterSize << exponent) <= kMaxCompressionUnit;
    if (data.compressed() && decodable) {
        const std::uint64_t size = compressedLength(data, exponent, facts);
        auto content = std::make_unique<CompressedContent>(
            std::move(data.map), clusterSize, exponent, size,
            [this](std::int64_t cluster, std::uint64_t count, std::uint8_t* buffer) {
                return readClusters(cluster, count, buffer);
            });
        content->facts = std::move(facts);
        return content;
    }
    ContentLayout layout = plainLayout(data, facts);
    return layoutContent([this](std::uint64_t offset, void* buffer, std::size_t length) {
        return reader_.read(offset, buffer, length);
    }, std::move(layout), std::move(facts));
}

}  // namespace halvard
