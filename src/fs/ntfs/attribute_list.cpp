// A file's attributes wherever they live: the base record and the extension records its attribute list names.
#include <algorithm>

#include "fs/ntfs/ntfs_engine.h"

namespace halvard {

using namespace ntfs_format;

namespace {
// No attribute list of a real file comes near this; a larger claim is damage.
constexpr std::uint64_t kMaxAttributeList = 16 * 1024 * 1024;
}  // namespace

std::vector<std::uint64_t> NtfsEngine::listedRecords(Bytes record, bool& hasList) const {
    std::vector<std::uint8_t> list;
    hasList = false;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        if (h.type != kAttributeList) return true;
        hasList = true;
        if (!h.nonResident) {
            const Bytes value = h.valueFits ? h.value(record)
                                            : slice(record, static_cast<std::uint64_t>(h.offset) + h.valueOffset,
                                                    h.length > h.valueOffset ? h.length - h.valueOffset : 0);
            list.assign(value.begin(), value.end());
        } else if (clusterSize > 0) {
            const std::uint64_t clusters = h.lastVcn >= h.firstVcn ? h.lastVcn - h.firstVcn + 1 : 0;
            const RunMap map(decodeRunList(h.runList(record), clusters).runs);
            std::uint64_t size = std::min(h.realSize, kMaxAttributeList);
            size = std::min(size, saturatingMultiply(map.endVcn(), clusterSize));
            list.assign(static_cast<std::size_t>(size), 0);
            readStream(map, 0, list.data(), list.size());
        }
        return false;
    });
    std::vector<std::uint64_t> records;
    const Bytes bytes(list);
    for (std::uint64_t offset = 0; fits(bytes, offset, 0x1A);) {
        const std::uint32_t type = le32(bytes, offset);
        const std::uint16_t length = le16(bytes, offset + 0x04);
        if (type == 0 || type == kEndOfAttributes || length < 0x1A || !fits(bytes, offset, length)) break;
        const std::uint64_t number = le64(bytes, offset + 0x10) & 0xFFFFFFFFFFFFULL;
        if (std::find(records.begin(), records.end(), number) == records.end()) records.push_back(number);
        offset += length;
    }
    return records;
}

NtfsEngine::AttributeWalk NtfsEngine::forEachFileAttribute(Bytes base, std::uint64_t ownNumber, const RecordFetch& fetch,
                                               const AttributeVisit& visit,
                                               const std::vector<std::uint64_t>& strays) const {
    AttributeWalk walk;
    forEachAttribute(base, [&](const AttributeHeader& h) {
        visit(base, h);
        return true;
    });
    std::vector<std::uint64_t> records = listedRecords(base, walk.hasList);
    for (std::uint64_t number : strays)
        if (std::find(records.begin(), records.end(), number) == records.end()) records.push_back(number);
    std::vector<std::uint8_t> extension;
    for (std::uint64_t number : records) {
        if (number == ownNumber) continue;
        if (!fetch || !fetch(number, extension)) {
            walk.damaged = true;
            continue;
        }
        const MftRecordHeader header = MftRecordHeader::read(extension);
        // A record that no longer names this file as its base was reused by another file.
        if (!header.isFile() || header.baseRecord != ownNumber) {
            walk.damaged = true;
            continue;
        }
        const Bytes bytes(extension);
        forEachAttribute(bytes, [&](const AttributeHeader& h) {
            visit(bytes, h);
            return true;
        });
    }
    return walk;
}

}  // namespace halvard
