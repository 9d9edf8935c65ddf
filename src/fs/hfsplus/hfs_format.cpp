#include "fs/hfsplus/hfs_format.h"

#include <bit>

#include "common/utf16.h"

namespace halvard::hfs_format {

ExtentRecord readExtentRecord(Bytes data, std::uint64_t offset) {
    ExtentRecord r{};
    for (std::uint64_t i = 0; i < r.size(); ++i)
        r[i] = {be32(data, offset + i * 8), be32(data, offset + i * 8 + 4)};
    return r;
}

ForkData ForkData::read(Bytes data, std::uint64_t offset) {
    ForkData f;
    f.logicalSize = be64(data, offset);
    f.totalBlocks = be32(data, offset + 12);
    f.extents = readExtentRecord(data, offset + 16);
    return f;
}

VolumeHeader VolumeHeader::read(Bytes data) {
    VolumeHeader h;
    h.signature = be16(data, 0);
    h.blockSize = be32(data, 0x28);
    h.totalBlocks = be32(data, 0x2C);
    h.extentsFile = ForkData::read(data, 0xC0);
    h.catalogFile = ForkData::read(data, 0x110);
    return h;
}

bool VolumeHeader::blockSizeValid() const { return blockSize >= 512 && std::has_single_bit(blockSize); }

NodeDescriptor NodeDescriptor::read(Bytes node) {
    NodeDescriptor d;
    d.forwardLink = be32(node, 0);
    d.backwardLink = be32(node, 4);
    d.kind = static_cast<std::int8_t>(u8(node, 8));
    d.height = u8(node, 9);
    d.records = be16(node, 10);
    return d;
}

HeaderRecord HeaderRecord::read(Bytes node) {
    HeaderRecord h;
    h.firstLeafNode = be32(node, kNodeDescriptorSize + 10);
    h.nodeSize = be16(node, kNodeDescriptorSize + 18);
    h.totalNodes = be32(node, kNodeDescriptorSize + 22);
    return h;
}

std::vector<std::uint16_t> recordOffsets(Bytes node, std::uint16_t records) {
    std::vector<std::uint16_t> offsets;
    const std::uint64_t tableBytes = 2ULL * records;
    if (node.size() < kNodeDescriptorSize + tableBytes) return offsets;
    const std::uint64_t areaEnd = node.size() - tableBytes;
    for (std::uint64_t i = 0; i < records; ++i) {
        const std::uint16_t offset = be16(node, node.size() - 2 * (i + 1));
        if (offset < kNodeDescriptorSize || offset >= areaEnd) break;
        offsets.push_back(offset);
    }
    return offsets;
}

std::optional<CatalogRecord> readCatalogRecord(Bytes node, std::uint64_t offset) {
    const std::uint64_t keyLength = be16(node, offset);
    // A catalog key is the parent ID, the name length and the name; anything else is not a catalog record.
    const std::uint64_t nameLength = be16(node, offset + 6);
    if (keyLength < 6 || keyLength != 6 + 2 * nameLength || !fits(node, offset, 2 + keyLength + 2)) return std::nullopt;
    CatalogRecord r;
    r.parentId = be32(node, offset + 2);
    if (nameLength >= 1 && nameLength <= 255) r.name = utf16beToUtf8(node, offset + 8, nameLength);
    const std::uint64_t data = offset + 2 + keyLength;
    r.type = be16(node, data);
    if (r.type == kFolderRecord) {
        if (!fits(node, data, 88)) return std::nullopt;
    } else if (r.type == kFileRecord) {
        if (!fits(node, data, 248)) return std::nullopt;
        r.dataFork = ForkData::read(node, data + 0x58);
    } else {
        return std::nullopt;
    }
    r.id = be32(node, data + 0x08);
    r.createDate = be32(node, data + 0x0C);
    r.contentModDate = be32(node, data + 0x10);
    r.attributeModDate = be32(node, data + 0x14);
    r.accessDate = be32(node, data + 0x18);
    r.fileMode = be16(node, data + 0x2A);
    r.special = be32(node, data + 0x2C);
    r.fileType = be32(node, data + 0x30);
    r.creator = be32(node, data + 0x34);
    return r;
}

std::optional<ExtentsRecord> readExtentsRecord(Bytes node, std::uint64_t offset) {
    if (be16(node, offset) != 10 || !fits(node, offset, 12 + 64)) return std::nullopt;
    ExtentsRecord r;
    r.forkType = u8(node, offset + 2);
    r.fileId = be32(node, offset + 4);
    r.startBlock = be32(node, offset + 8);
    r.extents = readExtentRecord(node, offset + 12);
    return r;
}

bool looksLikeLeafNode(Bytes node) {
    if (node.size() < kNodeDescriptorSize + 2) return false;
    const NodeDescriptor d = NodeDescriptor::read(node);
    return d.kind == kLeafNode && d.height != 0 && be16(node, node.size() - 2) == kNodeDescriptorSize &&
           d.records >= 1 && d.records <= 999;
}

}  // namespace halvard::hfs_format
