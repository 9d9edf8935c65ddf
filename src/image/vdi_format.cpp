#include "image/vdi_format.h"

#include <cstdint>

namespace halvard::vdi {

namespace {

std::string asciiText(Bytes data, std::uint64_t offset, std::uint64_t length) {
    std::string text;
    for (std::uint64_t i = 0; i < length && fits(data, offset + i, 1); ++i) {
        const char c = static_cast<char>(data[offset + i]);
        if (c == '\0' || c == '\n') break;
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

}  // namespace

Header parseHeader(Bytes data) {
    Header h;
    h.text = asciiText(data, 0, 64);
    h.signatureOk = le32(data, 64) == kSignature;
    h.version = le32(data, 68);
    h.headerSize = le32(data, 72);
    h.imageType = le32(data, 76);
    h.imageFlags = le32(data, 80);
    h.description = asciiText(data, 84, 256);
    h.blockMapOffset = le32(data, 340);
    h.dataOffset = le32(data, 344);
    h.cylinders = le32(data, 348);
    h.heads = le32(data, 352);
    h.sectors = le32(data, 356);
    h.sectorSize = le32(data, 360);
    h.diskSize = le64(data, 368);
    h.blockSize = le32(data, 376);
    h.blockExtra = le32(data, 380);
    h.blocks = le32(data, 384);
    h.allocatedBlocks = le32(data, 388);
    h.uuid = Guid::fromBytes(data, 392);
    h.snapshotUuid = Guid::fromBytes(data, 408);
    h.parentUuid = Guid::fromBytes(data, 424);
    h.parentModificationUuid = Guid::fromBytes(data, 440);
    return h;
}

std::string versionText(std::uint32_t version) {
    return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF);
}

std::string checkHeader(const Header& h) {
    // Version 1.0 headers place their fields elsewhere; reading them at these offsets would give nonsense.
    if (h.signatureOk && (h.version >> 16 != 1 || (h.version & 0xFFFF) == 0))
        return "Unsupported VDI version " + versionText(h.version);
    if (h.headerSize == 0 || h.diskSize == 0) return "The VDI header is damaged (header size or disk size is 0)";
    if (h.diskSize > static_cast<std::uint64_t>(INT64_MAX))
        return "The VDI header is damaged (a disk size of " + std::to_string(h.diskSize) + " bytes is beyond any disk)";
    if (h.blockSize < 512 || h.blockSize > kMaxBlockSize || (h.blockSize & (h.blockSize - 1)) != 0)
        return "Unsupported VDI block size " + std::to_string(h.blockSize) +
               " (it must be a power of two from 512 bytes to 256 MiB)";
    if (h.blockExtra > kMaxBlockExtra)
        return "The VDI header is damaged (" + std::to_string(h.blockExtra) + " extra bytes per block)";
    return {};
}

}  // namespace halvard::vdi
