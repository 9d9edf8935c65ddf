#include "image/vhd_format.h"

#include <algorithm>
#include <bit>

#include "common/table_limit.h"
#include "common/utf16.h"

namespace halvard::vhd {

Footer parseFooter(Bytes data) {
    Footer f;
    if (!fits(data, 0, 85)) return f;  // too short to be a footer (85 bytes are in use)
    f.cookieOk = hasSignature(data, 0, "conectix");
    f.features = be32(data, 8);
    f.formatVersion = be32(data, 12);
    f.dataOffset = be64(data, 16);
    f.timeStamp = be32(data, 24);
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(u8(data, 28 + i));
        f.creatorApplication += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    f.creatorVersion = be32(data, 32);
    f.originalSize = be64(data, 40);
    f.currentSize = be64(data, 48);
    f.cylinders = be16(data, 56);
    f.heads = u8(data, 58);
    f.sectorsPerTrack = u8(data, 59);
    f.diskType = be32(data, 60);
    f.checksum = be32(data, 64);
    f.checksumOk = footerChecksum(data) == f.checksum;
    for (int i = 0; i < 16; ++i) f.uniqueId[i] = u8(data, 68 + i);
    return f;
}

std::uint32_t footerChecksum(Bytes data) {
    std::uint32_t sum = 0;
    const std::size_t end = std::min<std::size_t>(data.size(), kFooterSize);
    for (std::size_t i = 0; i < end; ++i)
        if (i < 64 || i >= 68) sum += data[i];
    return ~sum;
}

DynamicHeader parseDynamicHeader(Bytes data) {
    DynamicHeader h;
    h.cookieOk = hasSignature(data, 0, "cxsparse");
    h.tableOffset = be64(data, 16);
    h.headerVersion = be32(data, 24);
    h.maxTableEntries = be32(data, 28);
    h.blockSize = be32(data, 32);
    for (int i = 0; i < 16; ++i) h.parentUniqueId[i] = u8(data, 40 + i);
    h.parentTimeStamp = be32(data, 56);
    h.parentName = utf16beToUtf8(data, 64, 256, true);
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t at = 576 + 24 * static_cast<std::uint64_t>(i);
        h.locators[i].platformCode = be32(data, at);
        h.locators[i].dataSpace = be32(data, at + 4);
        h.locators[i].dataLength = be32(data, at + 8);
        h.locators[i].dataOffset = be64(data, at + 16);
    }
    return h;
}

std::uint64_t bitmapBytes(std::uint64_t blockSize) {
    const std::uint64_t bitmapBytesExact = (blockSize / 512 + 7) / 8;
    return (bitmapBytesExact + 511) / 512 * 512;
}

std::string versionText(std::uint32_t formatVersion) {
    return std::to_string(formatVersion >> 16) + "." + std::to_string(formatVersion & 0xFFFF);
}

namespace {

bool usableBlockSize(std::uint64_t blockSize) {
    return blockSize >= 512 && blockSize <= (1ULL << 28) && std::has_single_bit(blockSize);
}

void readDynamicPart(const ImageFile& file, Layout& layout) {
    const std::uint64_t size = file.size();
    const std::uint64_t stated = layout.footer.dataOffset;
    DynamicHeader header;
    if (stated < size) header = parseDynamicHeader(file.readVector(stated, kDynamicHeaderSize));
    if (header.cookieOk) {
        layout.headerOffset = stated;
    } else {
        header = parseDynamicHeader(file.readVector(kFooterSize, kDynamicHeaderSize));
        if (!header.cookieOk) {
            layout.status = Status::failure("The VHD dynamic disk header (\"cxsparse\") is missing or damaged");
            return;
        }
        layout.headerOffset = kFooterSize;
        layout.notes.push_back("the footer's data offset does not point at the dynamic disk header; the header at 512 was used");
    }
    layout.header = header;

    layout.blockSize = header.blockSize;
    if (!usableBlockSize(header.blockSize)) {
        layout.blockSize = kClassicBlockSize;
        layout.notes.push_back("the dynamic header's block size " + std::to_string(header.blockSize) +
                               " is unusable; 2 MiB blocks were assumed");
    }

    layout.tableOffset = header.tableOffset;
    if (header.tableOffset < kFooterSize || header.tableOffset >= size) {
        layout.tableOffset = kClassicTableOffset;
        layout.notes.push_back("the block table offset " + std::to_string(header.tableOffset) +
                               " lies outside the file; the table at 1536 was used");
    }

    const std::uint64_t needed =
        layout.footer.currentSize / layout.blockSize + (layout.footer.currentSize % layout.blockSize != 0);
    std::uint64_t entries = header.maxTableEntries;
    if (entries == 0 && needed != 0) {
        entries = needed;
        layout.notes.push_back("the dynamic header's table size is 0; the disk size was used instead");
    } else if (entries < needed) {
        layout.notes.push_back("the block table holds " + std::to_string(entries) + " entries but the disk needs " +
                               std::to_string(needed) + "; the rest of the disk cannot be read");
    }
    const std::uint64_t inFile = layout.tableOffset < size ? (size - layout.tableOffset) / 4 : 0;
    if (entries > inFile) {
        layout.notes.push_back("the block table is cut short by the end of the file (" + std::to_string(inFile) +
                               " of " + std::to_string(entries) + " entries)");
        entries = inFile;
    }
    if (entries > maxTableEntries(sizeof(std::uint64_t))) {
        entries = maxTableEntries(sizeof(std::uint64_t));
        layout.notes.push_back("the block table is cut to " + std::to_string(entries) +
                               " entries, the most one table may take in memory");
    }
    layout.tableEntries = entries;
}

}  // namespace

Layout readLayout(const ImageFile& file) {
    Layout layout;
    const std::uint64_t size = file.size();

    const auto head = file.readVector(0, kFooterSize);
    const Footer headFooter = parseFooter(head);
    Footer tailFooter;
    std::uint64_t tailOffset = 0;
    std::uint64_t tailLength = 0;
    if (size >= kFooterSize) {
        auto tail = file.readVector(size - kFooterSize, kFooterSize);
        if (hasSignature(tail, 0, "conectix")) {
            tailOffset = size - kFooterSize;
            tailLength = kFooterSize;
        } else if (hasSignature(tail, 1, "conectix")) {
            tail.erase(tail.begin());
            tailOffset = size - kFooterSize + 1;
            tailLength = kFooterSize - 1;
        }
        if (tailLength) tailFooter = parseFooter(tail);
    }

    auto use = [&](const Footer& footer, std::uint64_t offset, std::uint64_t length) {
        layout.footer = footer;
        layout.footerOffset = offset;
        layout.footerLength = length;
    };

    if (headFooter.cookieOk && headFooter.isDynamicKind()) {
        // The copy at the start and the footer at the end should agree; a valid checksum settles a difference.
        if (tailFooter.cookieOk && tailFooter.isDynamicKind() && tailFooter.checksumOk && !headFooter.checksumOk) {
            use(tailFooter, tailOffset, tailLength);
            layout.notes.push_back("the footer copy at the start has a bad checksum; the footer at the end was used");
        } else {
            use(headFooter, 0, kFooterSize);
        }
    } else if (tailFooter.cookieOk && tailFooter.diskType == kFixed) {
        use(tailFooter, tailOffset, tailLength);
        layout.fixed = true;
        layout.dataLength = tailOffset;
        return layout;
    } else if (tailFooter.cookieOk && tailFooter.isDynamicKind()) {
        use(tailFooter, tailOffset, tailLength);
        layout.notes.push_back("the footer copy at the start is damaged; the footer at the end was used");
    } else if (headFooter.cookieOk || hasSignature(file.readVector(kFooterSize, 8), 0, "cxsparse")) {
        // Neither footer names a known disk type, but the start looks like a dynamic disk: read it as one.
        use(headFooter, 0, kFooterSize);
        layout.notes.push_back("no footer names a known disk type; the image was read as a dynamic disk");
    } else if (tailFooter.cookieOk) {
        layout.footer = tailFooter;
        layout.status = Status::failure("Unsupported VHD disk type " + std::to_string(tailFooter.diskType));
        return layout;
    } else {
        layout.status = Status::failure("Not a VHD image: no footer (\"conectix\") at the start or the end of the file");
        return layout;
    }
    readDynamicPart(file, layout);
    return layout;
}

}  // namespace halvard::vhd
