#include "support/ntfs_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/utf16.h"
#include "support/put_bytes.h"

namespace halvard::testing {

namespace {

std::size_t align8(std::size_t v) { return (v + 7) & ~std::size_t(7); }

ByteVector utf16(const std::string& text) {
    ByteVector out;
    for (std::uint16_t unit : utf8ToUtf16(text)) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

// Bytes needed for a signed value.
unsigned signedBytes(std::int64_t v) {
    for (unsigned n = 1; n < 8; ++n) {
        const std::int64_t lo = -(std::int64_t(1) << (8 * n - 1)), hi = (std::int64_t(1) << (8 * n - 1)) - 1;
        if (v >= lo && v <= hi) return n;
    }
    return 8;
}
unsigned unsignedBytes(std::uint64_t v) {
    unsigned n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    return n;
}

}  // namespace

std::uint64_t fileTime(std::int64_t unixSeconds, std::uint32_t hundredNanos) {
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL + hundredNanos;
}

ByteVector encodeRuns(const std::vector<RunPlan>& runs) {
    ByteVector out;
    std::int64_t previous = 0;
    for (const RunPlan& r : runs) {
        const unsigned l = unsignedBytes(r.length);
        unsigned o = 0;
        std::int64_t delta = 0;
        if (!r.sparse) {
            delta = r.cluster - previous;
            o = signedBytes(delta);
            previous = r.cluster;
        }
        out.push_back(static_cast<std::uint8_t>(l | (o << 4)));
        for (unsigned i = 0; i < l; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
        for (unsigned i = 0; i < o; ++i) out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

ByteVector fileNameValue(std::uint64_t parent, const std::string& name, bool directory, std::uint8_t nameSpace,
                         std::uint64_t allocatedSize) {
    const ByteVector units = utf16(name);
    ByteVector v(0x42 + units.size(), 0);
    putLe64(v, 0x00, parent | (std::uint64_t(1) << 48));
    putLe64(v, 0x28, allocatedSize);
    putLe32(v, 0x38, directory ? 0x10000000u : 0x20u);
    v[0x40] = static_cast<std::uint8_t>(units.size() / 2);
    v[0x41] = nameSpace;
    std::copy(units.begin(), units.end(), v.begin() + 0x42);
    return v;
}

ByteVector standardInformationValue(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed,
                                    std::uint32_t attributes) {
    ByteVector v(0x48, 0);
    putLe64(v, 0x00, created);
    putLe64(v, 0x08, modified);
    putLe64(v, 0x10, modified);
    putLe64(v, 0x18, accessed);
    putLe32(v, 0x20, attributes);
    return v;
}

RecordBuilder::RecordBuilder(std::uint32_t size, std::uint16_t flags) : bytes_(size, 0) {
    std::memcpy(bytes_.data(), "FILE", 4);
    const std::uint16_t count = static_cast<std::uint16_t>(size / 512 + 1);
    putLe16(bytes_, 0x04, 0x30);
    putLe16(bytes_, 0x06, count);
    putLe16(bytes_, 0x10, 1);
    putLe16(bytes_, 0x12, 1);
    used_ = align8(0x30 + 2 * count);
    putLe16(bytes_, 0x14, static_cast<std::uint16_t>(used_));
    putLe16(bytes_, 0x16, flags);
    putLe32(bytes_, 0x1C, size);
}

RecordBuilder& RecordBuilder::raw(const ByteVector& bytes) {
    if (used_ + bytes.size() + 8 > bytes_.size()) throw std::runtime_error("record full");
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += bytes.size();
    return *this;
}

RecordBuilder& RecordBuilder::resident(std::uint32_t type, const ByteVector& value, const std::string& name) {
    const ByteVector nameUnits = utf16(name);
    const std::size_t valueOffset = align8(0x18 + nameUnits.size());
    ByteVector a(align8(valueOffset + value.size()), 0);
    putLe32(a, 0x00, type);
    putLe32(a, 0x04, static_cast<std::uint32_t>(a.size()));
    a[0x09] = static_cast<std::uint8_t>(nameUnits.size() / 2);
    putLe16(a, 0x0A, 0x18);
    putLe16(a, 0x0E, instance_++);
    putLe32(a, 0x10, static_cast<std::uint32_t>(value.size()));
    putLe16(a, 0x14, static_cast<std::uint16_t>(valueOffset));
    std::copy(nameUnits.begin(), nameUnits.end(), a.begin() + 0x18);
    std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(valueOffset));
    return raw(a);
}

RecordBuilder& RecordBuilder::nonResident(std::uint32_t type, const ByteVector& runList, std::uint64_t firstVcn,
                                          std::uint64_t lastVcn, std::uint64_t realSize, std::uint16_t flags,
                                          std::uint8_t compressionExponent, const std::string& name,
                                          std::uint64_t allocatedSize) {
    const ByteVector nameUnits = utf16(name);
    const std::size_t header = compressionExponent ? 0x48 : 0x40;
    const std::size_t runOffset = align8(header + nameUnits.size());
    ByteVector a(align8(runOffset + runList.size()), 0);
    putLe32(a, 0x00, type);
    putLe32(a, 0x04, static_cast<std::uint32_t>(a.size()));
    a[0x08] = 1;
    a[0x09] = static_cast<std::uint8_t>(nameUnits.size() / 2);
    putLe16(a, 0x0A, static_cast<std::uint16_t>(header));
    putLe16(a, 0x0C, flags);
    putLe16(a, 0x0E, instance_++);
    putLe64(a, 0x10, firstVcn);
    putLe64(a, 0x18, lastVcn);
    putLe16(a, 0x20, static_cast<std::uint16_t>(runOffset));
    a[0x22] = compressionExponent;
    putLe64(a, 0x28, allocatedSize ? allocatedSize : (lastVcn + 1 - firstVcn) * 4096);
    putLe64(a, 0x30, realSize);
    putLe64(a, 0x38, realSize);
    std::copy(nameUnits.begin(), nameUnits.end(), a.begin() + static_cast<std::ptrdiff_t>(header));
    std::copy(runList.begin(), runList.end(), a.begin() + static_cast<std::ptrdiff_t>(runOffset));
    return raw(a);
}

RecordBuilder& RecordBuilder::data(const std::vector<RunPlan>& runs, std::uint64_t size, std::uint64_t,
                                   std::uint16_t flags, std::uint8_t compressionExponent) {
    std::uint64_t clusters = 0;
    for (const RunPlan& r : runs) clusters += r.length;
    return nonResident(0x80, encodeRuns(runs), 0, clusters - 1, size, flags, compressionExponent);
}

RecordBuilder& RecordBuilder::standardInformation(std::uint64_t created, std::uint64_t modified,
                                                  std::uint64_t accessed, std::uint32_t attributes) {
    return resident(0x10, standardInformationValue(created, modified, accessed, attributes));
}

RecordBuilder& RecordBuilder::fileName(std::uint64_t parent, const std::string& name, bool directory,
                                       std::uint8_t nameSpace) {
    return resident(0x30, fileNameValue(parent, name, directory, nameSpace));
}

RecordBuilder& RecordBuilder::attributeList(const std::vector<ListEntry>& entries) {
    ByteVector list;
    for (const ListEntry& e : entries) {
        const ByteVector nameUnits = utf16(e.name);
        ByteVector item(align8(0x1A + nameUnits.size()), 0);
        putLe32(item, 0x00, e.type);
        putLe16(item, 0x04, static_cast<std::uint16_t>(item.size()));
        item[0x06] = static_cast<std::uint8_t>(nameUnits.size() / 2);
        item[0x07] = 0x1A;
        putLe64(item, 0x08, e.startVcn);
        putLe64(item, 0x10, e.record | (std::uint64_t(1) << 48));
        std::copy(nameUnits.begin(), nameUnits.end(), item.begin() + 0x1A);
        list.insert(list.end(), item.begin(), item.end());
    }
    return resident(0x20, list);
}

RecordBuilder& RecordBuilder::recordNumber(std::uint32_t number) {
    putLe32(bytes_, 0x2C, number);
    return *this;
}

RecordBuilder& RecordBuilder::baseRecord(std::uint64_t number) {
    putLe64(bytes_, 0x20, number | (std::uint64_t(1) << 48));
    return *this;
}

ByteVector RecordBuilder::plain(std::uint16_t sequence) const {
    ByteVector out = bytes_;
    putLe16(out, 0x30, sequence);
    putLe32(out, used_, 0xFFFFFFFF);
    putLe32(out, 0x18, static_cast<std::uint32_t>(used_ + 8));
    const std::uint16_t count = static_cast<std::uint16_t>(out.size() / 512 + 1);
    for (std::uint16_t k = 1; k < count; ++k) {
        out[0x30 + 2 * k] = out[512 * k - 2];
        out[0x30 + 2 * k + 1] = out[512 * k - 1];
    }
    return out;
}

ByteVector RecordBuilder::build(std::uint16_t sequence) const {
    ByteVector out = plain(sequence);
    const std::uint16_t count = static_cast<std::uint16_t>(out.size() / 512 + 1);
    for (std::uint16_t k = 1; k < count; ++k) putLe16(out, 512 * k - 2, sequence);
    return out;
}

ByteVector compressibleText(std::size_t size) {
    ByteVector text;
    while (text.size() < size) {
        const std::string line = "line " + std::to_string(text.size()) + " of a compressible text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    text.resize(size);
    return text;
}

ByteVector lznt1Compress(const ByteVector& data) {
    ByteVector out;
    for (std::size_t start = 0; start < data.size(); start += 4096) {
        const std::size_t size = std::min<std::size_t>(4096, data.size() - start);
        const std::uint8_t* chunk = data.data() + start;
        ByteVector body;
        std::size_t p = 0;
        while (p < size) {
            const std::size_t flagAt = body.size();
            body.push_back(0);
            for (int bit = 0; bit < 8 && p < size; ++bit) {
                unsigned split = 0;
                for (std::size_t q = p > 0 ? p - 1 : 0; q >= 0x10; q >>= 1) ++split;
                const std::size_t maxLength = (0xFFFu >> split) + 3;
                const std::size_t maxDisplacement = std::size_t(1) << (4 + split);
                std::size_t bestLength = 0, bestDisplacement = 0;
                for (std::size_t d = 1; d <= std::min(p, maxDisplacement); ++d) {
                    std::size_t l = 0;
                    while (l < maxLength && p + l < size && chunk[p + l] == chunk[p + l - d]) ++l;
                    if (l > bestLength) {
                        bestLength = l;
                        bestDisplacement = d;
                    }
                }
                if (bestLength >= 3) {
                    const std::uint16_t token = static_cast<std::uint16_t>(((bestDisplacement - 1) << (12 - split)) |
                                                                           (bestLength - 3));
                    body.push_back(static_cast<std::uint8_t>(token));
                    body.push_back(static_cast<std::uint8_t>(token >> 8));
                    body[flagAt] = static_cast<std::uint8_t>(body[flagAt] | (1u << bit));
                    p += bestLength;
                } else {
                    body.push_back(chunk[p++]);
                }
            }
        }
        if (size == 4096 && body.size() >= 4096) {
            out.push_back(0xFF);
            out.push_back(0x3F);
            out.insert(out.end(), chunk, chunk + size);
        } else {
            const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (body.size() - 1));
            out.push_back(static_cast<std::uint8_t>(header));
            out.push_back(static_cast<std::uint8_t>(header >> 8));
            out.insert(out.end(), body.begin(), body.end());
        }
    }
    return out;
}

MemoryReader::MemoryReader(ByteVector data) : bytes(std::move(data)) {
    blockMap.assign(1, 0);
    totalSectors = bytes.size() / 512;
}

bool MemoryReader::readAt(std::uint64_t from, void* buffer, std::size_t length) const {
    ++reads;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, length);
    std::size_t available = 0;
    if (from < bytes.size()) available = static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes.size() - from));
    if (available) std::memcpy(out, bytes.data() + from, available);
    return available == length;
}

VolumeRecord on(const Device& device, VolumeRecord record) {
    record.device = volumeDevice(DevicePtr(DevicePtr(), &device), record);
    return record;
}

NtfsVolumeBuilder::NtfsVolumeBuilder(std::uint64_t clusterSize_, std::uint64_t clusters_, std::uint32_t recordSize_,
                                     std::uint64_t mftCluster_, std::uint64_t mftRecords_)
    : clusterSize(clusterSize_), clusters(clusters_), recordSize(recordSize_), mftCluster(mftCluster_),
      mftRecords(mftRecords_), image_(clusterSize_ * clusters_, 0) {
    ByteVector& boot = image_;
    boot[0] = 0xEB;
    boot[1] = 0x52;
    boot[2] = 0x90;
    std::memcpy(boot.data() + 3, "NTFS    ", 8);
    putLe16(boot, 0x0B, 512);
    boot[0x0D] = static_cast<std::uint8_t>(clusterSize / 512);
    putLe64(boot, 0x28, image_.size() / 512 - 1);
    const std::uint64_t mftClusters = (mftRecords * recordSize + clusterSize - 1) / clusterSize;
    putLe64(boot, 0x30, mftCluster);
    putLe64(boot, 0x38, mftCluster + mftClusters);
    if (recordSize >= clusterSize) {
        boot[0x40] = static_cast<std::uint8_t>(recordSize / clusterSize);
    } else {
        int shift = 0;
        while ((1u << shift) < recordSize) ++shift;
        boot[0x40] = static_cast<std::uint8_t>(-shift);
    }
    boot[0x1FE] = 0x55;
    boot[0x1FF] = 0xAA;
    // The backup boot sector in the volume's last sector.
    std::copy(boot.begin(), boot.begin() + 512, image_.end() - 512);

    const std::uint64_t now = fileTime(1700000000);
    setRecord(0, RecordBuilder(recordSize)
                     .standardInformation(now, now, now, 0x06)
                     .fileName(5, "$MFT", false, 3)
                     .data({{mftClusters, static_cast<std::int64_t>(mftCluster)}}, mftRecords * recordSize, clusterSize)
                     .recordNumber(0)
                     .build());
    setRecord(5, RecordBuilder(recordSize, 3)
                     .standardInformation(now, now, now, 0x06)
                     .fileName(5, ".", true, 3)
                     .recordNumber(5)
                     .build());
}

void NtfsVolumeBuilder::setRecord(std::uint64_t number, const ByteVector& given) {
    ByteVector onDisk = given;
    if (onDisk.size() >= 0x30 && std::memcmp(onDisk.data(), "FILE", 4) == 0) putLe32(onDisk, 0x2C, static_cast<std::uint32_t>(number));
    putBytes(recordOffset(number), onDisk);
    if (number < 4) {
        const std::uint64_t mftClusters = (mftRecords * recordSize + clusterSize - 1) / clusterSize;
        putBytes((mftCluster + mftClusters) * clusterSize + number * recordSize, onDisk);
    }
}

void NtfsVolumeBuilder::putClusters(std::uint64_t cluster, const ByteVector& bytes) {
    putBytes(cluster * clusterSize, bytes);
}

void NtfsVolumeBuilder::putBytes(std::uint64_t offset, const ByteVector& bytes) {
    if (offset + bytes.size() > image_.size()) throw std::runtime_error("outside the volume");
    std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace halvard::testing
