#pragma once
// The FAT12/16 and FAT32 engines. They share the entry record, the directory walk (long names, the dot rule, the
// merge of directory slots that name one cluster), the chain lookups and the save; they differ in the boot sector
// they accept and in where the root directory lies: a fixed region on FAT12/16, a cluster chain on FAT32.
#include <map>
#include <optional>
#include <set>

#include "fs/fat/fat_candidates.h"
#include "fs/fat/fat_family.h"

namespace halvard {

namespace fat_slot {
struct LongName;
}

struct FatEntry : FatFamilyRecord {
    std::uint8_t attributes = 0;
    std::uint8_t createTenths = 0;  // creation time's 10 ms units (0..199)
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t clusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t clusterLow = 0;
    std::uint32_t size = 0;

    std::uint32_t firstCluster() const { return static_cast<std::uint32_t>(clusterHigh) << 16 | clusterLow; }
};

// A slot's attribute byte: a directory has 0x10 set (with any of read-only, hidden, system, archive); 0x0F marks a
// long-name slot and 0x08 without 0x10 the volume label.
bool isFatDirectoryAttribute(std::uint8_t attributes);

class FatEngine : public FatRecordsOf<FatEntry> {
public:
    using FatRecordsOf<FatEntry>::FatRecordsOf;

    // Accepts the volume's first sector when it names its maker ("MSDOS", on FAT32 also "BSD") or carries a BIOS
    // parameter block a formatting tool could have written, and it is of this engine's kind.
    bool checkBootSector(std::uint64_t sector = 0);
    // The FAT entry of a cluster; the end mark when the drive was formatted (its chains are gone).
    std::uint32_t nextCluster(std::uint32_t cluster) const;
    // Walks the root directory, loaded before, and every directory below it. Returns the record count.
    std::size_t parseRootDirectory();
    // Boot check, the variant's root loading, the walk, the links and the tree, with the page's status texts.
    bool parseStandard() final;

    bool isFolder(std::size_t index) const override;
    std::unique_ptr<FileContent> openContent(std::size_t index) const override;

    // Size text of a FAT entry.
    static std::string entrySizeText(const FatEntry& entry);

    // ---- the advanced road (fat_advanced.cpp) ----
    // Offsets of the volume's 512-byte steps where a FAT copy begins, at most `limit` (a negative limit ends at
    // the first find).
    std::vector<std::uint64_t> findFatTables(std::int64_t limit);
    // Takes the user's sectors per cluster for every cluster of the road and of later saves.
    void setUserGeometry(std::uint32_t sectorsPerCluster);
    // Takes the FAT at `position` and estimates where the root directory lies.
    void prepareAdvancedScan(std::uint64_t position);
    // Reads the whole volume cluster by cluster and collects the slots that look like directory entries.
    void scanForEntries();
    // Turns the candidates into records under the root placeholder and "ORPHAN ENTRY", walking every directory
    // found. Returns the record count.
    std::size_t buildFromCandidates();

    FatFindings findStructures(std::int64_t limit) override;
    bool parseAdvanced(const FatAdvancedPick& pick) override;

    std::vector<std::uint64_t> foundFats;
    std::vector<std::uint64_t> candidates;   // slot offsets, ascending
    std::set<std::uint64_t> seenPositions;   // slots already taken into records
    std::uint64_t rootStart = 0;             // the root directory's first byte, as the road sees it
    std::uint64_t rootEnd = 0;               // candidates in [rootStart, rootEnd) belong to the root
    std::uint64_t foundCount = 0;
    int userGeometry = 0;
    std::uint32_t userBytesPerSector = 512;
    std::uint32_t userSectorsPerCluster = 0;

protected:
    // Whether a 512-byte step begins a FAT copy of this engine's kind.
    virtual bool isTableStart(Bytes step) const = 0;
    // What a slot is taken for by the entry scan.
    virtual SlotKind candidateKind(Bytes slot, std::uint64_t clusterLimit) const = 0;
    // The FAT's entry width on the advanced road.
    virtual unsigned advancedFatBits() const = 0;
    // FAT12/16 keeps its root directory in a fixed region before cluster 2; FAT32 in clusters.
    virtual std::uint64_t fixedRootBytes() const { return 0; }
    // FAT32 knows its root by the volume label or the recycle-bin folder in it.
    virtual bool looksForRootMarker() const { return false; }

    virtual bool isOwnKind(const FatBootSector& boot) const = 0;
    virtual bool fat12Hint() const { return false; }
    // Finds and reads the root directory into root_.
    virtual void prepareRoot() = 0;
    // "Finding Fat16 File And Directory entries recursively...." or the FAT32 text.
    virtual std::string findingText() const = 0;
    // FAT12/16 shows the links' progress (0..1000) and ends with a full 0..100 bar.
    virtual bool showsProgress() const { return false; }

    void addEntryFacts(std::size_t index, FatEntryFacts& facts) const override;
    WalkStep takeNextEntry(DirectoryFrame& frame) override;
    std::optional<DirectoryFrame> openDirectory(std::int32_t index, const DirectoryFrame& parent) override;

    // How clusters after a directory's or a file's first are found: along the FAT, or, when the drive was
    // formatted, not at all for directories and contiguously for files.
    ClusterChain::Way chainWay() const;

private:
    // Where cluster 2 begins: the boot sector's word, else the "." slots the scan met (each names its own
    // cluster, so its offset tells where cluster 2 lies), else the kind's own estimate.
    void settleAdvancedGeometry();
    // Records the entries of a directory found on the advanced road, and, depth first, of those below it.
    void walkCandidateDirectory(std::uint32_t cluster, std::int32_t parent, int depth);
    // A candidate or walked slot as a record with `parent`; returns its index.
    std::int32_t addSlotRecord(Bytes slot, const fat_slot::LongName& longName, std::int32_t parent);

    bool bootGeometry_ = false;                     // checkBootSector took the geometry
    std::map<std::uint64_t, std::uint32_t> dotVotes_;  // where cluster 2 begins, by the "." slots met
    std::optional<std::uint64_t> rootMarker_;        // offset of the first root marker met
};

class Fat16Engine final : public FatEngine {
public:
    // `fat12` when the volume is known as FAT12 (the entry width is still taken from the cluster count when the
    // boot sector gives one).
    explicit Fat16Engine(VolumeRecord volume, bool fat12 = false) : FatEngine(std::move(volume)), fat12_(fat12) {}

    std::string notInFormatText() const override { return "Selected Drive is not in Fat16 Format"; }
    FatKind kind() const override { return FatKind::Fat16; }

    void loadFat();
    void loadRootDirectory();

protected:
    bool isOwnKind(const FatBootSector& boot) const override;
    bool fat12Hint() const override { return fat12_; }
    void prepareRoot() override;
    std::string findingText() const override { return "Finding Fat16 File And Directory entries recursively...."; }
    bool showsProgress() const override { return true; }
    bool isTableStart(Bytes step) const override { return isFat16TableStart(step); }
    SlotKind candidateKind(Bytes slot, std::uint64_t limit) const override { return fat16SlotKind(slot, limit); }
    unsigned advancedFatBits() const override { return fat12_ ? 12 : 16; }
    std::uint64_t fixedRootBytes() const override { return 16384; }

private:
    bool fat12_;
};

class Fat32Engine final : public FatEngine {
public:
    using FatEngine::FatEngine;

    std::string notInFormatText() const override { return "Selected Drive is not in Fat32 Format"; }
    std::string saveDoneText() const override { return "Saving process done."; }
    FatKind kind() const override { return FatKind::Fat32; }

    // Finds the root directory's clusters: along its chain from the boot sector's root cluster, or, when that
    // field is out of range, cluster 2 followed by the clusters the first FAT sector names.
    void countRootClusters();
    void loadRootDirectory();

    std::vector<std::uint32_t> rootClusters;

protected:
    bool isOwnKind(const FatBootSector& boot) const override;
    void prepareRoot() override;
    std::string findingText() const override { return "Finding Fat32 File And Directory entries recursively...."; }
    bool isTableStart(Bytes step) const override { return isFat32TableStart(step); }
    SlotKind candidateKind(Bytes slot, std::uint64_t limit) const override { return fat32SlotKind(slot, limit); }
    unsigned advancedFatBits() const override { return 32; }
    bool looksForRootMarker() const override { return true; }
};

}  // namespace halvard
