#include "raw/signature_record.h"

#include <algorithm>

namespace halvard {

namespace {

// Field offsets of a record.
constexpr std::size_t kExtension = 0x00;
constexpr std::size_t kStartOffset = 0x0A;
constexpr std::size_t kExtensionLength = 0x0C;
constexpr std::size_t kStartSignature = 0x0D;
constexpr std::size_t kEndSignature = 0x17;
constexpr std::size_t kStartLength = 0x21;
constexpr std::size_t kEndLength = 0x22;
constexpr std::size_t kRecordIndex = 0x23;
constexpr std::size_t kSizeFieldOffset = 0x24;
constexpr std::size_t kSizeFieldLength = 0x28;
constexpr std::size_t kHeaderSize = 0x2C;
constexpr std::size_t kIncludesHeader = 0x30;
constexpr std::size_t kEndTrailer = 0x31;
constexpr std::size_t kApproxSize = 0x35;
constexpr std::size_t kSkipSize = 0x3D;
constexpr std::size_t kCategory = 0x45;

template <typename T>
void putLittle(SignatureRecordBytes& out, std::size_t offset, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) out[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void putUnits(SignatureRecordBytes& out, std::size_t offset, const std::vector<std::uint16_t>& units,
              std::size_t maxUnits) {
    for (std::size_t i = 0; i < std::min(units.size(), maxUnits); ++i) putLittle(out, offset + 2 * i, units[i]);
}

std::vector<std::uint16_t> getUnits(Bytes bytes, std::size_t offset, std::size_t maxUnits) {
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < maxUnits; ++i) {
        const std::uint16_t unit = le16(bytes, offset + 2 * i);
        if (unit == 0) break;
        units.push_back(unit);
    }
    return units;
}

std::vector<std::uint8_t> getSignature(Bytes bytes, std::size_t offset, std::uint8_t length) {
    const Bytes stored = slice(bytes, offset, std::min<std::size_t>(length, kMaxSignatureLength));
    return {stored.begin(), stored.end()};
}

}  // namespace

SignatureRecordBytes encodeSignatureRecord(const SignatureRecord& r) {
    SignatureRecordBytes out{};
    putUnits(out, kExtension, r.extension, kExtensionUnits);
    putLittle(out, kStartOffset, r.startSignatureOffset);
    out[kExtensionLength] = r.extensionLength;
    const std::size_t startLength = std::min(r.startSignature.size(), kMaxSignatureLength);
    const std::size_t endLength = std::min(r.endSignature.size(), kMaxSignatureLength);
    std::copy_n(r.startSignature.begin(), startLength, out.begin() + kStartSignature);
    std::copy_n(r.endSignature.begin(), endLength, out.begin() + kEndSignature);
    out[kStartLength] = static_cast<std::uint8_t>(startLength);
    out[kEndLength] = static_cast<std::uint8_t>(endLength);
    out[kRecordIndex] = r.recordIndex;
    putLittle(out, kSizeFieldOffset, r.sizeFieldOffset);
    putLittle(out, kSizeFieldLength, r.sizeFieldLength);
    putLittle(out, kHeaderSize, r.headerSize);
    out[kIncludesHeader] = r.sizeIncludesHeader ? 1 : 0;
    putLittle(out, kEndTrailer, r.endTrailerLength);
    putLittle(out, kApproxSize, r.approxFileSize);
    putLittle(out, kSkipSize, r.skipSize);
    putUnits(out, kCategory, r.category, kCategoryUnits);
    return out;
}

DecodedSignatureRecord decodeSignatureRecord(Bytes b) {
    DecodedSignatureRecord decoded;
    SignatureRecord& r = decoded.record;
    r.extension = getUnits(b, kExtension, kExtensionUnits);
    r.startSignatureOffset = static_cast<std::int16_t>(le16(b, kStartOffset));
    r.extensionLength = u8(b, kExtensionLength);
    decoded.startLengthStored = u8(b, kStartLength);
    decoded.endLengthStored = u8(b, kEndLength);
    r.startSignature = getSignature(b, kStartSignature, decoded.startLengthStored);
    r.endSignature = getSignature(b, kEndSignature, decoded.endLengthStored);
    r.recordIndex = u8(b, kRecordIndex);
    r.sizeFieldOffset = static_cast<std::int32_t>(le32(b, kSizeFieldOffset));
    r.sizeFieldLength = static_cast<std::int32_t>(le32(b, kSizeFieldLength));
    r.headerSize = static_cast<std::int32_t>(le32(b, kHeaderSize));
    r.sizeIncludesHeader = u8(b, kIncludesHeader) == 1;
    r.endTrailerLength = static_cast<std::int32_t>(le32(b, kEndTrailer));
    r.approxFileSize = static_cast<std::int64_t>(le64(b, kApproxSize));
    r.skipSize = static_cast<std::int64_t>(le64(b, kSkipSize));
    r.category = getUnits(b, kCategory, kCategoryUnits);
    return decoded;
}

}  // namespace halvard
