#include "fs/ntfs/mft_record.h"

#include <cstring>

#include "common/utf16.h"

namespace halvard::ntfs_format {

namespace {
constexpr std::uint32_t kResidentHeaderLength = 0x18;
constexpr std::uint32_t kNonResidentHeaderLength = 0x40;
}  // namespace

bool applyFixupsInPlace(std::uint8_t* record, std::size_t size) {
    const Bytes bytes(record, size);
    const std::uint64_t arrayOffset = le16(bytes, 0x04);
    const std::uint64_t count = le16(bytes, 0x06);
    if (count < 2) return true;  // nothing protected
    if (!fits(bytes, arrayOffset, count * 2)) return false;
    for (std::uint64_t k = 1; k < count; ++k) {
        const std::uint64_t end = k * kFixupStride;
        if (end > size) break;
        record[end - 2] = record[arrayOffset + 2 * k];
        record[end - 1] = record[arrayOffset + 2 * k + 1];
    }
    return true;
}

bool applyFixups(std::vector<std::uint8_t>& record) { return applyFixupsInPlace(record.data(), record.size()); }

MftRecordHeader MftRecordHeader::read(Bytes record) {
    MftRecordHeader h;
    if (record.size() >= 4) std::memcpy(h.signature, record.data(), 4);
    h.updateSequenceOffset = le16(record, 0x04);
    h.updateSequenceCount = le16(record, 0x06);
    h.sequenceNumber = le16(record, 0x10);
    h.firstAttributeOffset = le16(record, 0x14);
    h.flags = le16(record, 0x16);
    h.baseRecord = le64(record, 0x20) & 0xFFFFFFFFFFFFULL;
    // Records written since NTFS 3.1 keep their own number at 0x2C and start the sequence array at 0x30.
    h.hasRecordNumber = h.updateSequenceOffset >= 0x30 && fits(record, 0x2C, 4);
    if (h.hasRecordNumber) h.recordNumber = le32(record, 0x2C);
    return h;
}

bool parseAttributeHeader(Bytes record, std::uint32_t offset, AttributeHeader& h) {
    h.type = le32(record, offset);
    if (h.type == kEndOfAttributes || !fits(record, offset, 16)) return false;
    h.offset = offset;
    h.length = le32(record, offset + 0x04);
    h.nonResident = u8(record, offset + 0x08) != 0;
    const std::uint32_t minimum = h.nonResident ? kNonResidentHeaderLength : kResidentHeaderLength;
    if (h.length < minimum || !fits(record, offset, h.length)) return false;
    h.nameLength = u8(record, offset + 0x09);
    h.nameOffset = le16(record, offset + 0x0A);
    h.flags = le16(record, offset + 0x0C);
    if (h.nonResident) {
        h.firstVcn = le64(record, offset + 0x10);
        h.lastVcn = le64(record, offset + 0x18);
        h.runListOffset = le16(record, offset + 0x20);
        h.compressionUnitExponent = le16(record, offset + 0x22);
        h.allocatedSize = le64(record, offset + 0x28);
        h.realSize = le64(record, offset + 0x30);
        h.initializedSize = le64(record, offset + 0x38);
    } else {
        h.valueLength = le32(record, offset + 0x10);
        h.valueOffset = le16(record, offset + 0x14);
        h.valueFits = static_cast<std::uint64_t>(h.valueOffset) + h.valueLength <= h.length;
    }
    return true;
}

Bytes AttributeHeader::value(Bytes record) const {
    if (nonResident || !valueFits) return {};
    return slice(record, static_cast<std::uint64_t>(offset) + valueOffset, valueLength);
}

Bytes AttributeHeader::runList(Bytes record) const {
    if (!nonResident || runListOffset >= length) return {};
    return slice(record, static_cast<std::uint64_t>(offset) + runListOffset, length - runListOffset);
}

std::string AttributeHeader::name(Bytes record) const {
    if (nameLength == 0) return {};
    const Bytes attribute = slice(record, offset, length);
    if (!fits(attribute, nameOffset, 2ULL * nameLength)) return {};
    return utf16leToUtf8(attribute, nameOffset, nameLength);
}

std::vector<AttributeHeader> readAttributeHeaders(Bytes record) {
    std::vector<AttributeHeader> headers;
    forEachAttribute(record, [&](const AttributeHeader& h) {
        headers.push_back(h);
        return true;
    });
    return headers;
}

std::optional<FileNameValue> FileNameValue::read(Bytes value) {
    if (value.size() < 0x42) return std::nullopt;
    FileNameValue v;
    v.parentRecord = le64(value, 0x00) & 0xFFFFFFFFFFFFULL;
    v.parentSequence = le16(value, 0x06);
    v.allocatedSize = le64(value, 0x28);
    v.realSize = le64(value, 0x30);
    v.fileFlags = le32(value, 0x38);
    v.nameLength = u8(value, 0x40);
    v.nameSpace = u8(value, 0x41);
    const std::uint64_t available = (value.size() - 0x42) / 2;
    v.nameComplete = v.nameLength <= available;
    v.name = utf16leToUtf8(value, 0x42, v.nameComplete ? v.nameLength : available);
    return v;
}

std::optional<StandardInformation> StandardInformation::read(Bytes value) {
    if (value.size() < 0x20) return std::nullopt;
    StandardInformation s;
    s.created = le64(value, 0x00);
    s.modified = le64(value, 0x08);
    s.mftChanged = le64(value, 0x10);
    s.accessed = le64(value, 0x18);
    s.hasFileAttributes = fits(value, 0x20, 4);
    s.fileAttributes = le32(value, 0x20);
    return s;
}

std::optional<ReparsePoint> ReparsePoint::read(Bytes value) {
    ReparsePoint r;
    r.tag = le32(value, 0x00);
    if (!fits(value, 0, 0x10) || (r.tag != kMountPoint && r.tag != kSymbolicLink)) return std::nullopt;
    // Offsets count from the path buffer, which a symbolic link's flags field moves 4 bytes further.
    const std::uint64_t buffer = r.tag == kSymbolicLink ? 0x14 : 0x10;
    auto path = [&](std::uint64_t field) -> std::string {
        const std::uint64_t offset = buffer + le16(value, field), length = le16(value, field + 2);
        if (length == 0 || !fits(value, offset, length)) return {};
        return utf16leToUtf8(value, offset, length / 2);
    };
    r.target = path(0x0C);
    if (r.target.empty()) {
        r.target = path(0x08);
        if (r.target.rfind("\\\?\?\\", 0) == 0) r.target.erase(0, 4);
    }
    return r;
}

}  // namespace halvard::ntfs_format
