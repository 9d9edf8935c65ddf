// File content: $DATA descriptions, run lists, attribute lists, LZNT1 units and the writers that put a file's
// bytes on the host.
#include <algorithm>
#include <cstring>
#include <limits>

#include "common/host_files.h"
#include "fs/ntfs/lznt1.h"
#include "fs/ntfs/ntfs_engine.h"

namespace halvard {

using namespace ntfs_format;

namespace {

constexpr std::size_t kCopyChunk = 1024 * 1024;
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
        if (number > ~0ULL / recordSize) return false;
        stream = number * recordSize;
        extension.assign(recordSize, 0);
        if (!readStream(first, stream, extension.data(), extension.size())) return false;
        applyFixups(extension);
        return true;
    };
    return collectFileData(record, 0, fetch).map;
}

std::uint64_t NtfsEngine::entrySize(std::uint64_t index, Bytes record) const {
    if (isSynthetic(index)) return 0;
    const FileData fd = collectFileData(index, record);
    if (!fd.found) return 0;
    if (fd.sizeKnown) return fd.desc.realSize;
    // Without the first piece the size is what the runs cover.
    return saturatingMultiply(fd.map.endVcn(), clusterSize);
}

std::uint64_t NtfsEngine::entrySize(std::uint64_t index) const {
    std::vector<std::uint8_t> record;
    readEntryRecord(index, record);
    if (record.empty()) return 0;
    return entrySize(index, record);
}

// ---- writers ------------------------------------------------------------------------------------------------

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

std::uint64_t NtfsEngine::contentLength(const FileData& data, SaveOutcome& result) const {
    if (!data.sizeKnown) return saturatingMultiply(data.map.endVcn(), clusterSize);
    // A file never holds more than its allocation; a real size beyond it is damage, and trusting it could mean
    // writing terabytes of zeros.
    if (data.desc.realSize > data.desc.allocatedSize) {
        result.damaged = true;
        return data.desc.allocatedSize;
    }
    return data.desc.realSize;
}

bool NtfsEngine::tooMuchInvented(std::uint64_t zeros) const {
    // A run list that makes up more than a volume's worth of clusters is noise, not a file.
    return zeros > (volumeSize ? volumeSize : kMaxInventedWithoutVolume);
}

bool NtfsEngine::padMissingTail(const FileData& data, HostFile& out, std::uint64_t remaining) const {
    // Only when pieces named by an attribute list could not be read: the file then keeps its length. A single
    // record's runs describe the whole attribute, so a size beyond them is not believed.
    return !data.sizeKnown || !data.fromAttributeList || out.writeZeros(remaining);
}

bool NtfsEngine::writeResident(const FileData& data, HostFile& out, SaveOutcome&) const {
    return data.residentValue.empty() || out.write(data.residentValue.data(), data.residentValue.size());
}

bool NtfsEngine::writePlain(const FileData& data, HostFile& out, SaveOutcome& result) const {
    const std::uint64_t cs = clusterSize;
    std::uint64_t remaining = contentLength(data, result);
    // Past the initialized size the clusters hold whatever was there before: the file reads as zeros there.
    const std::uint64_t total = remaining;
    const std::uint64_t initialized =
        data.sizeKnown && data.desc.form == 'N' ? std::min(data.desc.initializedSize, total) : total;
    // Holes belong to sparse files only; in any other file a hole is a damaged run list.
    const bool holesAllowed = (data.desc.flags & (kSparse | kCompressionMask)) != 0;
    const std::size_t chunkClusters = static_cast<std::size_t>(std::max<std::uint64_t>(1, kCopyChunk / cs));
    std::vector<std::uint8_t> buffer;
    const auto& pieces = data.map.pieces();
    std::uint64_t invented = 0;  // zeros written where the runs are damaged (holes, missing pieces, outside)
    std::uint64_t vcn = 0;
    while (remaining > 0) {
        const RunMap::Piece* piece = data.map.find(vcn);
        std::uint64_t n = 0;
        if (!piece) {
            // VCNs no run describes: a piece of the attribute is missing.
            auto next = std::upper_bound(pieces.begin(), pieces.end(), vcn,
                                         [](std::uint64_t v, const RunMap::Piece& p) { return v < p.vcn; });
            result.damaged = true;
            if (next == pieces.end()) {
                // The last pieces are missing: keep the file's length as far as its allocation vouches for it.
                if (!padMissingTail(data, out, remaining)) return false;
                remaining = 0;
                break;
            }
            n = std::min(remaining, saturatingMultiply(next->vcn - vcn, cs));
            invented += n;
            if (!out.writeZeros(n)) return false;
        } else {
            const std::uint64_t left = piece->vcn + piece->length - vcn;
            if (piece->sparse) {
                n = std::min(remaining, saturatingMultiply(left, cs));
                if (!holesAllowed) {
                    result.damaged = true;
                    invented += n;
                }
                if (!out.writeZeros(n)) return false;
            } else {
                const std::uint64_t clusters = std::min<std::uint64_t>(left, chunkClusters);
                n = std::min(remaining, clusters * cs);
                const std::uint64_t needed = (n + cs - 1) / cs;
                buffer.resize(static_cast<std::size_t>(needed * cs));
                const std::int64_t cluster = piece->lcn + static_cast<std::int64_t>(vcn - piece->vcn);
                if (!readClusters(cluster, needed, buffer.data())) {
                    result.damaged = true;
                    if (!clusterRangeInVolume(cluster, needed)) invented += needed * cs;
                }
                const std::uint64_t at = total - remaining;
                if (at + n > initialized) {
                    const std::uint64_t from = initialized > at ? initialized - at : 0;
                    std::memset(buffer.data() + from, 0, static_cast<std::size_t>(n - from));
                    result.uninitializedZeros = true;
                }
                if (!out.write(buffer.data(), static_cast<std::size_t>(n))) return false;
            }
        }
        vcn += (n + cs - 1) / cs;
        remaining -= n;
        if (tooMuchInvented(invented)) break;
    }
    if (remaining > 0) result.damaged = true;
    return true;
}

bool NtfsEngine::writeCompressed(const FileData& data, HostFile& out, SaveOutcome& result) const {
    const std::uint64_t cs = clusterSize;
    const unsigned exponent = data.desc.compressionUnitExponent;
    if (exponent == 0 || exponent > 16 || (cs << exponent) > kMaxCompressionUnit) return writePlain(data, out, result);
    const std::uint64_t u = 1ULL << exponent;
    const std::size_t unitBytes = static_cast<std::size_t>(u * cs);
    std::vector<std::uint8_t> input(unitBytes), output(unitBytes);
    UncompressContext context;
    if (!ntfs_uncompress_setup(context, input.data(), output.data(), unitBytes)) return false;

    const std::uint64_t realSize = contentLength(data, result);
    const std::uint64_t endVcn = data.map.endVcn();
    std::uint64_t produced = 0;
    std::uint64_t invented = 0;  // zeros written where the runs are damaged
    for (std::uint64_t unitVcn = 0; produced < realSize; unitVcn += u) {
        if (unitVcn >= endVcn) {
            result.damaged = true;  // the runs end before the data does
            if (!padMissingTail(data, out, realSize - produced)) return false;
            produced = realSize;
            break;
        }
        const std::vector<std::int64_t> clusters = clusterNumbers(data.map, unitVcn, u);
        // VCNs that no run describes (a missing piece, not a hole) are damage, unlike sparse units.
        bool described = false;
        for (std::uint64_t k = 0; k < u && !described; ++k) described = data.map.find(unitVcn + k) != nullptr;
        if (!described) {
            result.damaged = true;
            invented += unitBytes;
        }
        std::uint64_t allocated = 0;  // position of the last allocated cluster, 1-based
        for (std::uint64_t k = 0; k < u; ++k)
            if (clusters[k] >= 0) allocated = k + 1;
        const std::uint8_t* unit = nullptr;
        std::memset(input.data(), 0, unitBytes);
        if (allocated == 0) {
            unit = input.data();  // a unit of zeros
        } else {
            for (std::uint64_t k = 0; k < allocated;) {
                if (clusters[k] < 0) {
                    ++k;
                    continue;
                }
                std::uint64_t run = 1;
                while (k + run < allocated && clusters[k + run] == clusters[k] + static_cast<std::int64_t>(run)) ++run;
                if (!readClusters(clusters[k], run, input.data() + k * cs)) {
                    result.damaged = true;
                    if (!clusterRangeInVolume(clusters[k], run)) invented += run * cs;
                }
                k += run;
            }
            // The runs of a unit that ends before its last cluster are cut by the end of the attribute.
            const bool cutByEnd = unitVcn + u > endVcn && allocated == endVcn - unitVcn;
            if (allocated == u) {
                unit = input.data();  // stored as it is: compression did not gain a cluster
            } else {
                ntfs_uncompress_reset(context);
                context.inputLength = static_cast<std::size_t>(allocated * cs);
                if (ntfs_uncompress_compunit(context) != 0) {
                    if (cutByEnd) {
                        unit = input.data();
                    } else {
                        result.damaged = true;
                        unit = output.data();  // what was decoded before the fault, zeros after it
                    }
                } else {
                    unit = output.data();
                }
            }
        }
        const std::uint64_t n = std::min<std::uint64_t>(unitBytes, realSize - produced);
        if (!out.write(unit, static_cast<std::size_t>(n))) return false;
        produced += n;
        if (tooMuchInvented(invented)) break;
    }
    if (produced < realSize) result.damaged = true;
    return true;
}

bool NtfsEngine::AttributeListDataToFile(const FileData& data, HostFile& out, SaveOutcome& result) const {
    return data.compressed() ? writeCompressed(data, out, result) : writePlain(data, out, result);
}

SaveOutcome NtfsEngine::saveEntryContent(std::uint64_t index, const std::string& hostPath) const {
    SaveOutcome result;
    if (index >= entries.size()) {
        result.error = "no such entry";
        return result;
    }
    HostFile out;
    if (!out.create(hostPath)) {
        result.error = out.error();
        result.diskFull = out.diskFull();
        return result;
    }
    std::vector<std::uint8_t> record;
    bool recordRead = true;
    if (!isSynthetic(index)) recordRead = readEntryRecord(index, record);
    bool ok = true;
    // A folder, or an entry without a record, leaves an empty file named like it.
    if (!record.empty() && !entries[index].isFolder()) {
        if (!recordRead) result.damaged = true;
        const FileData data = collectFileData(index, record);
        if (data.damaged) result.damaged = true;
        if (data.found) {
            if (data.resident())
                ok = writeResident(data, out, result);
            else if (data.fromAttributeList)
                ok = AttributeListDataToFile(data, out, result);
            else if (data.compressed())
                ok = writeCompressed(data, out, result);
            else
                ok = writePlain(data, out, result);
        }
    }
    const std::string writeError = ok ? std::string() : out.error();
    const bool closed = out.close();
    result.bytes = out.written();
    if (!ok || !closed) {
        result.error = !writeError.empty() ? writeError : out.error();
        result.diskFull = out.diskFull();
        return result;
    }
    result.written = true;
    if (!record.empty()) {
        const NtfsFileTimes times = fileTimes(record);
        if (times.known) {
            setHostFileTimes(hostPath, unixSecondsFromFileTime(times.accessed),
                             static_cast<std::uint32_t>(times.accessed % 10000000ULL) * 100,
                             unixSecondsFromFileTime(times.modified),
                             static_cast<std::uint32_t>(times.modified % 10000000ULL) * 100);
        }
    }
    return result;
}

}  // namespace halvard
