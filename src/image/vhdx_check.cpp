#include "image/vhdx_check.h"

#include <algorithm>

namespace halvard {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

struct Extent {
    std::uint64_t start = 0, end = 0;
    std::string what;
};

void checkHeadersAndRegions(const ImageFile& file, std::vector<std::string>& found) {
    const std::uint64_t headerAt[2] = {vhdx::kHeader1Offset, vhdx::kHeader2Offset};
    for (int i = 0; i < 2; ++i) {
        const vhdx::Header h = vhdx::parseHeader(file.readVector(headerAt[i], 4096));
        const std::string name = "header " + std::to_string(i + 1);
        if (!h.signatureOk)
            found.push_back(name + " has no \"head\" signature");
        else if (!h.checksumOk)
            found.push_back(name + " (sequence number " + std::to_string(h.sequenceNumber) + ") fails its checksum");
    }
    const std::uint64_t tableAt[2] = {vhdx::kRegionTable1Offset, vhdx::kRegionTable2Offset};
    vhdx::RegionTable tables[2];
    for (int i = 0; i < 2; ++i) {
        tables[i] = vhdx::parseRegionTable(file.readVector(tableAt[i], vhdx::kRegionTableSize));
        const std::string name = "region table " + std::to_string(i + 1);
        if (!tables[i].signatureOk)
            found.push_back(name + " has no \"regi\" signature");
        else if (!tables[i].checksumOk)
            found.push_back(name + " fails its checksum");
        if (tables[i].signatureOk && tables[i].entryCount > vhdx::kMaxRegionEntries)
            found.push_back(name + " claims " + std::to_string(tables[i].entryCount) + " entries (at most " +
                            std::to_string(vhdx::kMaxRegionEntries) + ")");
    }
    if (tables[0].checksumOk && tables[1].checksumOk) {
        const auto same = [](const vhdx::RegionEntry& a, const vhdx::RegionEntry& b) {
            return a.guid == b.guid && a.fileOffset == b.fileOffset && a.length == b.length;
        };
        if (!std::equal(tables[0].entries.begin(), tables[0].entries.end(), tables[1].entries.begin(),
                        tables[1].entries.end(), same))
            found.push_back("the two region tables differ");
    }
}

void checkMetadata(const vhdx::Layout& layout, std::vector<std::string>& found) {
    if (!layout.regionsByGuid) found.push_back("the regions were found by their position, not by their GUIDs");
    if (!layout.metadataByGuid) found.push_back("metadata items were found by their position, not by their GUIDs");
    if (layout.blockSize == 0) found.push_back("metadata: the file parameters item is missing");
    if (layout.virtualDiskSize == 0) found.push_back("metadata: the virtual disk size item is missing");
    if (layout.logicalSectorSize == 0) found.push_back("metadata: the logical sector size item is missing");
    if (layout.physicalSectorSize == 0) found.push_back("metadata: the physical sector size item is missing");
    if (layout.hasParent() && layout.parentLocator.empty())
        found.push_back("metadata: a differencing disk without a parent locator");
}

// The disk's size within the format's limit and in whole logical sectors; the block table inside the file and
// long enough for the disk.
void checkSizeAndTable(const VhdxReader& reader, std::uint64_t fileSize, std::vector<std::string>& found) {
    const vhdx::Layout& layout = reader.layout();
    if (layout.virtualDiskSize > vhdx::kMaxVirtualDiskSize)
        found.push_back("the virtual disk size of " + std::to_string(layout.virtualDiskSize) +
                        " bytes is beyond the format's limit of 64 TiB");
    if (layout.logicalSectorSize && layout.virtualDiskSize % layout.logicalSectorSize)
        found.push_back("the virtual disk size of " + std::to_string(layout.virtualDiskSize) +
                        " bytes is not a whole number of " + std::to_string(layout.logicalSectorSize) +
                        "-byte sectors; the last " + std::to_string(layout.virtualDiskSize % kSectorSize) +
                        " bytes cannot be read");
    if (layout.batLength == 0)
        found.push_back("the block table region has a length of 0");
    else if (layout.batOffset >= fileSize || layout.batLength > fileSize - layout.batOffset)
        found.push_back("the block table region lies past the end of the file");
    const std::uint64_t blockSize = reader.blockSize();
    const std::uint64_t needed = blockSize ? reader.virtualDiskSize() / blockSize + (reader.virtualDiskSize() % blockSize != 0) : 0;
    if (reader.blockMap.size() < needed)
        found.push_back("the block table holds " + std::to_string(reader.blockMap.size()) + " of the " +
                        std::to_string(needed) + " block entries the disk needs; the rest cannot be read");
    if (reader.blocksWithoutPlace())
        found.push_back(std::to_string(reader.blocksWithoutPlace()) +
                        " blocks are marked present at file offset 0 (damaged entries); they cannot be read");
}

void checkLog(const vhdx::LogState& log, std::vector<std::string>& found) {
    if (log.present && log.entries > 0)
        found.push_back("the log holds " + std::to_string(log.entries) + (log.entries == 1 ? " entry" : " entries") +
                        " never written into place (the image was not closed cleanly); " +
                        (log.replayed ? "replayed in memory" : "not replayed, as asked"));
    for (const std::string& problem : log.problems) found.push_back("log: " + problem);
}

// Allocated payload blocks and sector bitmaps must lie in the file, apart from each other and from the headers,
// the log, the block table and the metadata.
void checkBlocks(const VhdxReader& reader, std::vector<std::string>& found) {
    const vhdx::Layout& layout = reader.layout();
    const vhdx::Header& header = layout.currentHeader();
    std::vector<Extent> structures = {{0, kMiB, "the headers"},
                                      {header.logOffset, header.logOffset + header.logLength, "the log"},
                                      {layout.batOffset, layout.batOffset + layout.batLength, "the block table"},
                                      {layout.metadataOffset,
                                       layout.metadataOffset + (layout.metadataLength ? layout.metadataLength : kMiB),
                                       "the metadata"}};
    std::vector<Extent> blocks;
    std::uint64_t block = 0, chunk = 0;
    for (const VhdxReader::BatEntry& e : reader.batEntries()) {
        const std::string what = e.sectorBitmap ? "sector bitmap " + std::to_string(chunk++)
                                                : "block " + std::to_string(block++);
        if (e.fileOffset == 0) continue;
        blocks.push_back({e.fileOffset, e.fileOffset + (e.sectorBitmap ? kMiB : reader.blockSize()), what});
    }
    if (reader.blocksPastEnd())
        found.push_back(std::to_string(reader.blocksPastEnd()) +
                        " blocks lie past the end of the image file (truncated image?); they read as zeros");
    std::sort(blocks.begin(), blocks.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
    std::uint64_t overlaps = 0, overStructures = 0;
    const auto report = [&found](std::uint64_t& count, const std::string& text) {
        if (++count <= 5) found.push_back(text);
    };
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i > 0 && blocks[i].start < blocks[i - 1].end)
            report(overlaps, blocks[i - 1].what + " and " + blocks[i].what + " overlap in the file");
        for (const Extent& s : structures)
            if (s.end > s.start && blocks[i].start < s.end && s.start < blocks[i].end)
                report(overStructures, blocks[i].what + " lies over " + s.what);
    }
    if (overlaps > 5) found.push_back(std::to_string(overlaps) + " overlapping blocks in all");
    if (overStructures > 5) found.push_back(std::to_string(overStructures) + " blocks over the image's structures in all");
}

}  // namespace

std::vector<std::string> checkVhdx(const std::string& path, const VhdxReader& reader) {
    std::vector<std::string> found;
    ImageFile file;
    if (!file.open(path)) return {"the image file cannot be read again: " + file.error()};
    if (!vhdx::hasFileIdentifier(file.readVector(0, 8)))
        found.push_back("the file identifier (\"vhdxfile\") at the start is damaged; the image was told by its headers");
    checkHeadersAndRegions(file, found);
    checkMetadata(reader.layout(), found);
    checkSizeAndTable(reader, file.size(), found);
    checkLog(reader.logState(), found);
    checkBlocks(reader, found);
    for (const std::string& note : reader.parentNotes()) found.push_back(note);
    return found;
}

}  // namespace halvard
