#pragma once
// What the FAT12/16, FAT32 and exFAT engines share: the wiring to the page, reading the volume, the FAT, the
// depth-first directory walk with its parent stack, linking the records into a tree, filling the tree's top level,
// and laying out a file's clusters.
//
// Threads: the parse runs on the page's worker and inserts tree items only at its end, when every record is
// complete and linked. From then on the records do not change (but for renameEntry), and facts/openContent may run on
// any thread: reads of the volume and of the FAT are serialised inside the engine.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/sinks.h"
#include "common/texts.h"
#include "common/tree_control.h"
#include "common/worker.h"
#include "fs/engine_wiring.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/fat/fat_table.h"
#include "fs/file_content.h"
#include "fs/volume_reader.h"
#include "image/device.h"
#include "image/unstored_skip.h"
#include "volume/volume_record.h"

namespace halvard {

inline constexpr const char* kDummyEntryName = "DUMMY ENTRY";

// The part of an entry record that places it in the tree. Links are indexes into the engine's record list (-1:
// none), so they stay valid whatever happens to the list's storage.
struct FatFamilyRecord {
    std::string name;  // UTF-8
    bool deleted = false;
    std::int32_t parentIndex = 0;
    std::int32_t ownIndex = 0;
    std::int32_t firstChild = -1;
    std::int32_t nextSibling = -1;
};

// What the file list shows of an entry.
struct FatEntryFacts {
    std::string name;
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;
    std::optional<CalendarTime> created, accessed, modified;  // as stored: the writer's local time
    bool accessDateOnly = false;                              // FAT keeps no last-access time of day
    std::string attributes;
};

// The list's texts of an entry: creation, last access, last write, attributes.
struct FatEntryTexts {
    std::string created, accessed, modified, attributes;
};

// What the advanced road's finders found on a volume: FAT copies and (exFAT) cluster heaps, as byte offsets
// from the volume's start, and the boot sector's cluster size when it could be read.
struct FatFindings {
    std::vector<std::uint64_t> fats, heaps;
    bool bootValid = false;
    std::uint32_t bootClusterValue = 0;  // sectors per cluster (exFAT: its power of two); 0 when unknown
};

// The picks the advanced road parses with.
struct FatAdvancedPick {
    std::uint64_t fatPosition = 0;
    std::uint32_t clusterValue = 0;  // sectors per cluster (exFAT: its power of two)
    std::uint64_t heapPosition = 0;  // exFAT
};

enum class FatKind { Fat16, Fat32, ExFat };

class FatFamilyEngine : public EngineWiring {
public:
    explicit FatFamilyEngine(VolumeRecord volume);
    FatFamilyEngine(const FatFamilyEngine&) = delete;
    FatFamilyEngine& operator=(const FatFamilyEngine&) = delete;
    virtual ~FatFamilyEngine() = default;

    // Set before the parse, with the wiring.
    std::uint8_t formattedDriveFlag = 0;  // the drive was formatted: chains are not trusted
    std::uint64_t volumeSize = 0;         // bytes: the volume record's size text x 1048576

    // Sets the reader's volume base to the volume's start and inserts the tree's top item. Always true.
    bool attachReader();
    // The standard road after attachReader, in the page's order with its status texts. False when the boot
    // sector is not of this engine's kind (then nothing else is read).
    virtual bool parseStandard() = 0;
    // The advanced road: the finders the advanced options page runs (after attachReader), and the parse with the
    // user's picks that the browser page runs on the same engine afterwards.
    virtual FatKind kind() const = 0;
    virtual FatFindings findStructures(std::int64_t limit) = 0;
    virtual bool parseAdvanced(const FatAdvancedPick& pick) = 0;
    // The message shown when the boot sector is refused.
    virtual std::string notInFormatText() const = 0;
    // The message a finished save ends with.
    virtual std::string saveDoneText() const { return "Saving process done"; }

    virtual std::size_t recordCount() const = 0;
    virtual const FatFamilyRecord& record(std::size_t index) const = 0;
    virtual bool isFolder(std::size_t index) const = 0;
    FatEntryFacts facts(std::size_t index) const;
    FatEntryTexts entryText(std::size_t index) const;
    // The entry's content, with its access and modification times.
    virtual std::unique_ptr<FileContent> openContent(std::size_t index) const = 0;

    // Children of record 0 (the root placeholder) and of any other record, along the links.
    std::vector<std::size_t> topLevel() const { return children(0); }
    std::vector<std::size_t> children(std::size_t index) const;
    void renameEntry(std::size_t index, const std::string& name);
    std::string entryName(std::size_t index) const;

    TreeItemId rootItem() const { return rootItem_; }
    const FatGeometry& geometry() const { return geometry_; }
    const std::vector<std::uint8_t>& bootSector() const { return boot_; }

protected:
    // What the walk does with the next entry of a directory.
    struct WalkStep {
        bool end = false;                 // the directory has no further entries
        std::int32_t descendInto = -1;    // a record whose directory is to be walked now
    };
    // One directory being walked: its bytes, where the walk is in them, and the clusters its sub-directory
    // records were merged by.
    struct DirectoryFrame {
        std::int32_t ownIndex = 0;
        std::uint32_t firstCluster = 0;  // 0 for a fixed root region
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
        std::unordered_map<std::uint32_t, std::int32_t> byCluster;
    };

    virtual FatFamilyRecord& mutableRecord(std::size_t index) = 0;
    // The size, times and attribute letters of a record.
    virtual void addEntryFacts(std::size_t index, FatEntryFacts& facts) const = 0;
    // Takes the next entry of `frame` into the record list (or merges it) and moves past it.
    virtual WalkStep takeNextEntry(DirectoryFrame& frame) = 0;
    // Reads the directory of record `index`, found in `parent`; nullopt when it is not to be walked.
    virtual std::optional<DirectoryFrame> openDirectory(std::int32_t index, const DirectoryFrame& parent) = 0;

    // Walks the root directory (root_, whose record is 0) and, depth first, every directory below it. The parent
    // stack holds the directories being walked; the walk keeps its own stack rather than recursing, so that a deep
    // tree cannot exhaust the thread's.
    void walkDirectories();
    // For a directory record about to be added as `newIndex`: when an earlier record of the same directory names
    // the same first cluster (a rename leaves the old slot deleted beside the new one), that record takes this
    // name, the live one winning over a deleted one, and its index is returned. Otherwise -1, and the cluster is
    // remembered.
    std::int32_t mergedInto(DirectoryFrame& frame, std::uint32_t cluster, std::string& name, bool deleted,
                            std::int32_t newIndex);
    // Sets firstChild and nextSibling from the parent indexes (record 0 is the root's placeholder, its own
    // parent). With `reportProgress` the page's progress runs 0..1000 over the records.
    std::size_t linkEntries(bool reportProgress);
    // Puts the root's records under the top item: folders expanded, deleted ones in red.
    void fillTree();

    // Jumps over the parts of [0, end) of the volume that the image does not store.
    UnstoredSkip unstoredSkip(std::uint64_t end) const;
    // How far the volume can be read: its size, cut at the end of the virtual disk.
    std::uint64_t readableSize() const;
    // Reads the volume in 10 MiB chunks and collects the offsets of the 512-byte steps `accept` takes (progress
    // 0..1000). Ends when `maxCount` are found (even in the middle of a chunk), at the volume's end, or on the stop
    // flag after a chunk. `chunkStatus` tells the position in the status line for each chunk, `countStatus` the
    // count found so far.
    std::vector<std::uint64_t> findSteps(const std::function<bool(Bytes)>& accept, std::uint64_t maxCount,
                                         bool chunkStatus, bool countStatus = true);
    // Reads the volume from its start in pieces of whole clusters (`clusterSize` bytes, at least 1 MiB a read)
    // and offers each cluster to `visit` with its offset: the bytes from the cluster's start to the end of the
    // piece read, so that what runs on past the cluster can be looked at. Ends at the volume's end, where the disk
    // cannot be read any more, or when the stop flag is set. Progress 0..1000.
    void scanClusters(std::uint64_t clusterSize, const std::function<void(Bytes, std::uint64_t)>& visit);
    // Reads the volume's 512-byte sector `sector` (the boot sector, or a backup of it) into the boot sector buffer.
    bool readBootSector(std::uint64_t sector = 0);
    // Reads a run of clusters; false (and zeros) for the part outside the volume or unreadable.
    bool readClusters(std::uint32_t first, std::uint64_t count, std::uint8_t* buffer) const;
    // Reads the clusters of a directory in chain order, at most `maxBytes`, claiming each in readDirClusters; a
    // cluster already claimed ends it (a loop, or a cluster two directories name).
    std::vector<std::uint8_t> readDirectoryClusters(ClusterChain chain, std::uint64_t maxBytes);
    void useGeometry(const FatGeometry& geometry, bool exfat);

    // `dataBytes` from the chain's clusters (fewer when the chain ends before), then `zeroTail` zero bytes.
    std::unique_ptr<FileContent> chainContent(ClusterChain chain, std::uint64_t dataBytes, std::uint64_t zeroTail,
                                              ContentFacts facts) const;
    // Times for a saved file from the entry's (seconds since 1970); one it lacks takes the other's value.
    static void takeTimes(ContentFacts& facts, std::optional<std::int64_t> modified,
                          std::optional<std::int64_t> accessed);

    VolumeReader reader_;
    VolumeRecord volume_;
    mutable std::mutex nameMutex_;
    std::vector<std::uint8_t> boot_;
    FatGeometry geometry_;
    FatTable fat_;
    std::vector<std::uint8_t> root_;  // the root directory's bytes, loaded by the engine
    std::unordered_set<std::uint32_t> readDirClusters;
    std::vector<std::int32_t> parentStack;
    TreeItemId rootItem_ = kNoTreeItem;
};

// An engine's records, of its own entry type, in one vector.
template <class Entry>
class FatRecordsOf : public FatFamilyEngine {
public:
    using FatFamilyEngine::FatFamilyEngine;

    std::vector<Entry> entries;

    std::size_t recordCount() const override { return entries.size(); }
    const FatFamilyRecord& record(std::size_t index) const override { return entries[index]; }

protected:
    FatFamilyRecord& mutableRecord(std::size_t index) override { return entries[index]; }
};

}  // namespace halvard
