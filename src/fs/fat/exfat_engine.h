#pragma once
// The exFAT engine ("FAT64" throughout the program): entry sets of a file entry, a stream extension and name
// entries; directories and files along the FAT or, flagged so, in one contiguous piece.
#include <set>

#include "fs/fat/fat_family.h"

namespace halvard {

struct ExFatEntry : FatFamilyRecord {
    std::uint8_t entryType = 0;  // of the file entry: 0x85 live, 0x05 deleted
    std::uint16_t attributes = 0;
    std::uint32_t createStamp = 0;  // DOS date in the high half, DOS time in the low half
    std::uint32_t modifyStamp = 0;
    std::uint32_t accessStamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modify10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifyUtcOffset = 0;
    std::uint8_t accessUtcOffset = 0;
    std::uint8_t streamType = 0;   // 0xC0 live, 0x40 deleted
    std::uint8_t streamFlags = 0;  // bit 0: clusters allocated; bit 1: contiguous, no FAT chain
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;

    bool contiguous() const { return (streamFlags & 0x02) != 0; }
};

// A file entry's 16-bit attributes: 0x10 marks a directory.
inline bool isExfatDirectoryAttribute(std::uint16_t attributes) { return (attributes & 0x10) != 0; }

// Reads the entry set whose file entry lies at `offset` of `bytes` into `e` (fields and name); returns the bytes
// it takes up, or 0 when no set begins there.
std::size_t readExfatEntrySet(Bytes bytes, std::size_t offset, ExFatEntry& e);

class ExFatEngine final : public FatRecordsOf<ExFatEntry> {
public:
    using FatRecordsOf<ExFatEntry>::FatRecordsOf;

    bool parseStandard() override;
    FatKind kind() const override { return FatKind::ExFat; }
    std::string notInFormatText() const override { return "Selected Drive is not in exFat Format"; }

    // Needs "EXFAT" at offset 3 and sector and cluster sizes an exFAT volume can have.
    bool checkBootSector(std::uint64_t sector = 0);
    // Reads the whole root directory along its chain. False when there is no root cluster to read.
    bool loadRootDirectory();
    std::size_t parseRootDirectory();
    std::uint32_t nextCluster(std::uint32_t cluster) const;

    bool isFolder(std::size_t index) const override;
    std::unique_ptr<FileContent> openContent(std::size_t index) const override;

    static std::string entrySizeText(const ExFatEntry& entry);

    // ---- the advanced road (exfat_advanced.cpp) ----
    std::vector<std::uint64_t> findFatTables(std::int64_t limit);
    // Up to `limit` + 1 offsets where an allocation bitmap, and so the cluster heap, may begin.
    std::vector<std::uint64_t> findHeapStarts(std::int64_t limit);
    // Clusters of 512 x 2^shift bytes for the road and later saves.
    void setUserGeometry(std::uint32_t shift);
    // Reads the whole volume cluster by cluster and collects the file entries that begin whole entry sets.
    void scanForEntries();
    // The records of the candidates, the directories they name walked, with the heap and FAT at the given
    // offsets. Returns the record count.
    std::size_t buildFromCandidates(std::uint64_t heapPosition, std::uint64_t fatPosition);

    FatFindings findStructures(std::int64_t limit) override;
    bool parseAdvanced(const FatAdvancedPick& pick) override;

    std::vector<std::uint64_t> foundFats, foundHeaps;
    std::vector<std::uint64_t> candidates;
    std::set<std::uint64_t> seenPositions;
    std::uint64_t labelPosition = 0;
    std::uint64_t rootEnd = 0;
    int userGeometry = 0;
    std::uint32_t bytesPerSectorShift = 9;
    std::uint32_t sectorsPerClusterShift = 0;

protected:
    void addEntryFacts(std::size_t index, FatEntryFacts& facts) const override;
    WalkStep takeNextEntry(DirectoryFrame& frame) override;
    std::optional<DirectoryFrame> openDirectory(std::int32_t index, const DirectoryFrame& parent) override;

private:
    void walkCandidateDirectory(std::int32_t index, int depth);

    // The clusters of an entry's data: contiguous when flagged so (or when the drive was formatted), else along
    // the FAT; at most `maxClusters`.
    ClusterChain dataChain(const ExFatEntry& e, std::uint64_t maxClusters) const;
};

}  // namespace halvard
