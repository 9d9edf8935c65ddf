#include "image/vmdk_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/table_limit.h"
#include "image/vmdk_inflate.h"

namespace halvard {

namespace {

constexpr std::uint64_t kFlatMapSectors = 2048;  // one `blockMap` entry per MiB of a flat extent

// The extent file named by a descriptor, next to the descriptor; empty when the name would lead elsewhere.
std::string extentPath(const std::string& descriptorPath, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path relative(name);
    if (name.empty() || relative.is_absolute()) return {};
    for (const auto& part : relative)
        if (part == "..") return {};
    return (fs::path(descriptorPath).parent_path() / relative).string();
}

}  // namespace

bool FileReadSeekVmdk::open(const std::string& path) {
    if (!file_.open(path)) return fail("Invalid handle ...", file_.error());
    imageFileSize = file_.size();
    dataFilePath_ = path;
    blockMap.clear();
    notes_.clear();
    header_ = {};
    descriptor_ = {};
    flat_ = compressed_ = false;
    cachedTableIndex_ = cachedGrainSector_ = ~0ULL;

    const auto head = file_.readVector(0, 512);
    if (le32(head, 0) == vmdk::kMagic) return openSparse();
    if (vmdk::looksLikeDescriptor(head)) return openDescriptorFile(path);
    return fail("Not a VMDK image: no sparse extent header (\"KDMV\") and no descriptor at its start");
}

bool FileReadSeekVmdk::openDescriptorFile(const std::string& path) {
    if (imageFileSize > vmdk::kMaxDescriptorBytes) return fail("The VMDK descriptor file is too large to be one");
    const auto bytes = file_.readVector(0, static_cast<std::size_t>(imageFileSize));
    std::string text(bytes.begin(), bytes.end());
    text.resize(std::min(text.size(), text.find('\0')));
    descriptor_ = vmdk::parseDescriptor(text);
    const auto& extents = descriptor_.extents;
    if (extents.empty()) return fail("The VMDK descriptor lists no extents");
    if (extents.size() > 1)
        return fail("VMDK images split into several extent files are not supported (" +
                    std::to_string(extents.size()) + " extents); convert the image into one file first");
    const vmdk::Extent& extent = extents.front();
    const bool flatKind = extent.type == "FLAT" || extent.type == "VMFS";
    if (!flatKind && extent.type != "SPARSE")
        return fail("VMDK extents of type " + extent.type + " are not supported");
    const std::string dataPath = extentPath(path, extent.fileName);
    if (dataPath.empty())
        return fail("The VMDK extent file name \"" + extent.fileName + "\" does not name a file beside the descriptor");
    if (!file_.open(dataPath)) return fail("Cannot open the VMDK extent file " + dataPath, file_.error());
    dataFilePath_ = dataPath;
    imageFileSize = file_.size();
    notes_.push_back(std::string("the data lies in the ") + (flatKind ? "flat" : "sparse") + " extent file " + dataPath);

    if (!flatKind) {
        const auto head = file_.readVector(0, 512);
        if (le32(head, 0) != vmdk::kMagic)
            return fail("The VMDK extent file " + dataPath + " is not a sparse extent (no \"KDMV\" magic)");
        return openSparse();
    }
    if (extent.sectors == 0) return fail("The VMDK descriptor gives the extent a size of 0");
    if (extent.offset >= imageFileSize / kSectorSize)
        return fail("The VMDK flat extent starts past the end of " + dataPath);
    flat_ = true;
    flatOffset_ = extent.offset * kSectorSize;
    totalSectors = extent.sectors;
    // Only what the file holds is mapped; a disk larger than its extent file reads short.
    const std::uint64_t inFile = (imageFileSize - flatOffset_) / kSectorSize;
    flatSectors_ = std::min(extent.sectors, inFile);
    if (inFile < extent.sectors)
        notes_.push_back("the flat extent file holds " + std::to_string(inFile) + " of the disk's " +
                         std::to_string(extent.sectors) + " sectors; the rest cannot be read");
    const std::uint64_t entries = (flatSectors_ + kFlatMapSectors - 1) / kFlatMapSectors;
    blockMap.reserve(entries);
    for (std::uint64_t i = 0; i < entries; ++i) blockMap.push_back(i * kFlatMapSectors);
    return true;
}

bool FileReadSeekVmdk::openSparse() {
    header_ = vmdk::parseSparseHeader(file_.readVector(0, 512));
    if (!header_.magicOk) return fail("The VMDK sparse extent header is cut short by the end of the file");
    if (header_.gdOffset == vmdk::kGrainDirectoryAtEnd) {
        // Stream-optimised images written in one pass keep the real offsets in a footer: a copy of the header
        // one sector before the end-of-stream marker.
        const vmdk::SparseHeader footer =
            imageFileSize >= 1536 ? vmdk::parseSparseHeader(file_.readVector(imageFileSize - 1024, 512))
                                  : vmdk::SparseHeader{};
        if (!footer.magicOk || footer.gdOffset == vmdk::kGrainDirectoryAtEnd)
            return fail("The VMDK footer that locates the grain directory is missing (is the image cut short?)");
        header_ = footer;
        notes_.push_back("the grain directory was found through the footer at the end of the file");
    }
    const vmdk::SparseHeader& h = header_;
    if (h.version > 3) return fail("Unsupported VMDK version " + std::to_string(h.version));
    if (h.grainSize == 0 || h.grainSize > vmdk::kMaxGrainSize || (h.grainSize & (h.grainSize - 1)) != 0)
        return fail("Unsupported VMDK grain size of " + std::to_string(h.grainSize) + " sectors");
    if (h.numGTEsPerGT == 0 || h.numGTEsPerGT > vmdk::kMaxGrainTableEntries ||
        static_cast<std::uint64_t>(h.numGTEsPerGT) * 4 > imageFileSize)
        return fail("The VMDK header is damaged (" + std::to_string(h.numGTEsPerGT) + " entries per grain table)");
    if (h.capacity == 0) return fail("The VMDK header gives the disk a size of 0");
    compressed_ = h.compressed();
    if (compressed_) {
        if (h.compressAlgorithm != vmdk::kCompressionDeflate)
            return fail("Unsupported VMDK compression algorithm " + std::to_string(h.compressAlgorithm));
        if (h.grainSize > vmdk::kMaxCompressedGrainSize)
            return fail("Unsupported VMDK grain size of " + std::to_string(h.grainSize) +
                        " sectors for compressed grains");
    }

    // The embedded descriptor only describes; the header alone locates the data.
    if (h.descriptorOffset != 0 && h.descriptorSize != 0 && h.descriptorOffset < imageFileSize / kSectorSize) {
        const std::uint64_t bytes = std::min(h.descriptorSize, vmdk::kMaxDescriptorBytes / kSectorSize) * kSectorSize;
        const auto raw = file_.readVector(h.descriptorOffset * kSectorSize, static_cast<std::size_t>(bytes));
        std::string text(raw.begin(), raw.end());
        text.resize(std::min(text.size(), text.find('\0')));
        const vmdk::Descriptor embedded = vmdk::parseDescriptor(text);
        if (!descriptor_.hasCreateType) descriptor_ = embedded;
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        if (!embedded.hasCreateType && !blank) notes_.push_back("the embedded descriptor is damaged (no createType)");
    }

    grainSize_ = h.grainSize;
    entriesPerGrainTable_ = h.numGTEsPerGT;
    sectorsPerGrainTable_ = grainSize_ * entriesPerGrainTable_;
    totalSectors = h.capacity;
    std::uint64_t described = 0;
    for (const auto& extent : descriptor_.extents) described += extent.sectors;
    if (descriptor_.extents.size() == 1 && described != h.capacity)
        notes_.push_back("the descriptor gives the extent " + std::to_string(described) +
                         " sectors; the header's capacity of " + std::to_string(h.capacity) + " sectors was used");

    // The grain directory; its redundant copy when the primary one lies outside the file.
    const std::uint64_t fileSectors = imageFileSize / kSectorSize;
    std::uint64_t directory = h.gdOffset;
    if (directory == 0 || directory >= fileSectors) {
        directory = h.rgdOffset;
        if (directory == 0 || directory >= fileSectors)
            return fail("The VMDK grain directory lies outside the file");
        notes_.push_back("the grain directory lies outside the file; its redundant copy was used");
    }
    std::uint64_t entries = h.capacity / sectorsPerGrainTable_ + (h.capacity % sectorsPerGrainTable_ != 0);
    const std::uint64_t inFile = (imageFileSize - directory * kSectorSize) / 4;
    if (entries > inFile) {
        notes_.push_back("the grain directory is cut short by the end of the file (" + std::to_string(inFile) +
                         " of " + std::to_string(entries) + " entries)");
        entries = inFile;
    }
    if (entries > maxTableEntries(sizeof(std::uint64_t))) {
        entries = maxTableEntries(sizeof(std::uint64_t));
        notes_.push_back("the grain directory is cut to " + std::to_string(entries) +
                         " entries, the most one table may take in memory");
    }
    std::vector<std::uint8_t> raw(entries * 4);
    raw.resize(file_.readAt(directory * kSectorSize, raw.data(), raw.size()));
    blockMap.reserve(raw.size() / 4);
    for (std::uint64_t i = 0; i < raw.size() / 4; ++i) blockMap.push_back(le32(raw, i * 4));
    if (compressed_) cachedGrain_.assign(grainSize_ * kSectorSize, 0);
    return true;
}

const std::vector<std::uint32_t>& FileReadSeekVmdk::grainTable(std::uint64_t index) const {
    if (index == cachedTableIndex_) return cachedTable_;
    cachedTableIndex_ = index;
    cachedTable_.clear();
    const std::uint64_t sector = index < blockMap.size() ? blockMap[index] : 0;
    if (sector == 0) return cachedTable_;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(entriesPerGrainTable_) * 4);
    raw.resize(file_.readAt(sector * kSectorSize, raw.data(), raw.size()));
    cachedTable_.reserve(raw.size() / 4);
    for (std::size_t i = 0; i < raw.size() / 4; ++i) cachedTable_.push_back(le32(raw, i * 4));
    return cachedTable_;
}

SectorMapping FileReadSeekVmdk::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (flat_) {
        if (sector >= flatSectors_) return mapping;
        mapping.state = SectorMapping::State::Allocated;
        mapping.fileOffset = flatOffset_ + sector * kSectorSize;
        mapping.runSectors = flatSectors_ - sector;
        return mapping;
    }
    if (sectorsPerGrainTable_ == 0) return mapping;
    const std::uint64_t index = sector / sectorsPerGrainTable_;
    if (index >= blockMap.size()) return mapping;
    const std::uint64_t inTable = sector % sectorsPerGrainTable_;
    const std::uint64_t grain = inTable / grainSize_;
    const std::uint64_t within = inTable % grainSize_;
    if (blockMap[index] == 0) {
        mapping.state = SectorMapping::State::Unallocated;
        mapping.runSectors = sectorsPerGrainTable_ - inTable;
        return mapping;
    }
    const std::vector<std::uint32_t>& table = grainTable(index);
    if (grain >= table.size()) {  // the table is cut short by the end of the file
        mapping.runSectors = grainSize_ - within;
        return mapping;
    }
    const std::uint64_t entry = table[grain];
    std::uint64_t runGrains = 1;
    if (entry < 2) {  // 0: not allocated, 1: a zero grain
        mapping.state = SectorMapping::State::Unallocated;
        while (grain + runGrains < table.size() && table[grain + runGrains] < 2) ++runGrains;
    } else if (compressed_) {
        mapping.state = SectorMapping::State::Allocated;
        mapping.fileOffset = entry * kSectorSize;  // the grain's marker; `read` decompresses
    } else {
        // Entries are 32-bit and runs stay within one table, so nothing here comes near 2^64.
        mapping.state = SectorMapping::State::Allocated;
        mapping.fileOffset = (entry + within) * kSectorSize;
        while (grain + runGrains < table.size() && table[grain + runGrains] == entry + runGrains * grainSize_)
            ++runGrains;
    }
    mapping.runSectors = runGrains * grainSize_ - within;
    return mapping;
}

const std::uint8_t* FileReadSeekVmdk::compressedGrain(std::uint64_t sector) const {
    if (sector == cachedGrainSector_) return cachedGrainOk_ ? cachedGrain_.data() : nullptr;
    cachedGrainSector_ = sector;
    cachedGrainOk_ = false;
    const auto markerBytes = file_.readVector(sector * kSectorSize, vmdk::kMarkerSize);
    if (markerBytes.size() < vmdk::kMarkerSize) return nullptr;
    const vmdk::GrainMarker marker = vmdk::parseGrainMarker(markerBytes);
    // Deflate can grow incompressible data a little, never to twice its size.
    const std::uint64_t limit = 2 * cachedGrain_.size() + 1024;
    if (marker.size == 0 || marker.size > limit) return nullptr;
    const auto compressed = file_.readVector(sector * kSectorSize + vmdk::kMarkerSize, marker.size);
    if (compressed.size() < marker.size) return nullptr;
    const vmdk::InflateResult result = vmdk::inflate(compressed, cachedGrain_);
    if (!result.ok) return nullptr;
    // A short grain (the disk's last) ends in zeros.
    std::memset(cachedGrain_.data() + result.produced, 0, cachedGrain_.size() - result.produced);
    cachedGrainOk_ = true;
    return cachedGrain_.data();
}

// Compressed grains cannot be read in place, so this serves them from the decompressed grain; everything else
// goes the common way.
bool FileReadSeekVmdk::read(void* buffer, std::size_t length) {
    if (!compressed_) return readWriteInterface::read(buffer, length);
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool complete = true;
    std::int64_t position = currentPosition_;
    std::size_t done = 0;
    while (done < length) {
        std::int64_t virtualOffset = 0;
        std::size_t chunk = std::min<std::size_t>(length - done, kSectorSize);
        const bool wraps = __builtin_add_overflow(position, volumeBaseOffset, &virtualOffset) ||
                           position > INT64_MAX - static_cast<std::int64_t>(length - done);
        if (wraps) {  // the request runs past the largest offset there is
            std::memset(out + done, 0, length - done);
            complete = false;
            break;
        }
        if (virtualOffset < 0 || blockMap.empty()) {
            std::memset(out + done, 0, chunk);
            complete = false;
        } else {
            const auto v = static_cast<std::uint64_t>(virtualOffset);
            const std::uint64_t sector = v / kSectorSize;
            const SectorMapping mapping = mapSector(sector);
            const std::uint64_t runBytes = std::max<std::uint64_t>(mapping.runSectors, 1) * kSectorSize - v % kSectorSize;
            chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, runBytes));
            if (mapping.state == SectorMapping::State::Allocated) {
                const std::uint8_t* grain = compressedGrain(mapping.fileOffset / kSectorSize);
                if (grain) {
                    const std::uint64_t inGrain = (sector % grainSize_) * kSectorSize + v % kSectorSize;
                    std::memcpy(out + done, grain + inGrain, chunk);
                } else {
                    std::memset(out + done, 0, chunk);
                    complete = false;
                }
            } else {
                std::memset(out + done, 0, chunk);
                if (mapping.state == SectorMapping::State::BeyondMap) complete = false;
            }
        }
        done += chunk;
        position += static_cast<std::int64_t>(chunk);
    }
    currentPosition_ = position;
    std::int64_t next = 0;
    if (!__builtin_add_overflow(position, volumeBaseOffset, &next) && next >= 0 && !blockMap.empty()) {
        const SectorMapping mapping = mapSector(static_cast<std::uint64_t>(next) / kSectorSize);
        if (mapping.state != SectorMapping::State::BeyondMap)
            lastBlockAllocated = mapping.state == SectorMapping::State::Allocated;
    }
    return complete;
}

FileReadSeekVmdk::GrainCount FileReadSeekVmdk::countGrains() const {
    GrainCount count;
    if (flat_ || sectorsPerGrainTable_ == 0) return count;
    // Real tables each take their own room in the file; a directory whose tables claim far more than the file
    // could hold is damaged, and the walk stops rather than reading the same bytes over and over.
    const std::uint64_t budget = 2 * imageFileSize + (1 << 20);
    std::uint64_t spent = 0;
    const std::uint64_t grains = totalSectors / grainSize_ + (totalSectors % grainSize_ != 0);
    for (std::uint64_t index = 0; index < blockMap.size(); ++index) {
        if (blockMap[index] == 0) continue;
        spent += static_cast<std::uint64_t>(entriesPerGrainTable_) * 4;
        if (spent > budget) {
            count.complete = false;
            break;
        }
        const std::vector<std::uint32_t>& table = grainTable(index);
        if (table.size() < entriesPerGrainTable_) count.complete = false;
        for (std::uint64_t g = 0; g < table.size() && index * entriesPerGrainTable_ + g < grains; ++g) {
            if (table[g] == 1) ++count.zero;
            if (table[g] < 2) continue;
            ++count.allocated;
            if (static_cast<std::uint64_t>(table[g]) * kSectorSize >= imageFileSize) ++count.pastEnd;
        }
    }
    return count;
}

}  // namespace halvard
