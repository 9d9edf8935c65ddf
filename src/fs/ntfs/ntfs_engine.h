#pragma once
// The NTFS engine: turns a volume into a flat table of MFT entries linked into a directory tree, fills the top of
// the browser's tree, gives each entry's list texts and writes a file's content to the host.
//
// Entries live in one vector. In standard and advanced modes there is one entry per MFT record slot, so an
// entry's index is its MFT record number and parent references index the vector directly. In deep mode (and after
// a scan that did not find $MFT) the index is the discovery order.
//
// Threads: the parse (readBootSector ... buildEntryTree) runs on one worker. Tree items are inserted only at its
// end, when every entry is complete and linked; from then on the entries do not change (but for renameEntry) and
// the reading calls (fileTimes, entrySize, saveEntryContent, readEntryRecord) may run on any thread: every
// access to the reader is serialised inside the engine.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/sinks.h"
#include "common/tree_control.h"
#include "common/worker.h"
#include "fs/file_content.h"
#include "fs/engine_wiring.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/parse_mode.h"
#include "fs/volume_reader.h"
#include "image/device.h"
#include "volume/volume_record.h"

namespace halvard {


inline constexpr const char* kOrphanEntryName = "ORPHAN_ENTRY";

// What the list shows of a file, kept from its record while the MFT is read so that listing a folder need not read
// every child's record again. Kept only where the base record alone tells it (no attribute list, no reparse point).
struct NtfsListFacts {
    std::uint64_t created = 0, modified = 0, accessed = 0;  // Windows file times, when timesKnown
    std::uint64_t size = 0;
    std::uint16_t attributeFlags = 0;  // the file attribute flags the letters are made of
    bool timesKnown = false;
    bool kept = false;
};

struct NtfsEntry {
    std::array<char, 4> signature{};  // first four bytes of the record slot ("FILE" for a valid record)
    std::uint64_t recordOffset = 0;   // of the slot's first byte, from the volume start
    std::string name;                 // UTF-8; meaningful when hasName
    bool hasName = false;             // the record gave a name (possibly empty)
    bool numbered = false;            // the record header states its own MFT record number
    std::int64_t parentIndex = 0;     // parent's entry index (its MFT record number)
    std::uint16_t recordFlags = 0;    // record header flags (bit 0: in use)
    char kind = 0;                    // 'D' directory, 0 file
    std::uint64_t ownIndex = 0;
    std::uint8_t orphan = 0;          // 1 when the entry could not be placed under its parent
    std::int64_t firstChild = 0;      // 0: none
    std::int64_t nextSibling = 0;     // 0 or negative ends the chain
    std::uint64_t recordNumber = 0;   // MFT record number (the index in standard mode)
    // The entry whose record holds the file: itself, or for a file's further names (hard links) the entry of its
    // first name. Every name of a file reads the same record.
    std::uint64_t fileIndex = 0;
    std::uint64_t baseRecord = 0;     // non-zero in extension records: the record of the file they belong to
    std::uint16_t sequence = 0;       // record header sequence number
    bool hasAttributeList = false;    // the file's attributes spill into extension records
    bool copy = false;                // deep mode: the same record was also found where the MFT holds it
    // A named $DATA stream shown as an entry of its own ("file:stream"): 1 + its index among the engine's stream
    // names. 0: the entry is the file itself (its unnamed $DATA).
    std::uint32_t stream = 0;
    NtfsListFacts listFacts;

    bool isFolder() const { return kind == 'D'; }
    bool isFileRecord() const { return signature == std::array<char, 4>{'F', 'I', 'L', 'E'}; }
    bool deleted() const { return (recordFlags & ntfs_format::kRecordInUse) == 0; }
};

// One record's unnamed $DATA attribute.
struct DataDescription {
    std::uint32_t attributeOffset = 0;  // of the attribute header within the record
    std::uint32_t dataOffset = 0;       // resident: value offset within the record; non-resident: run-list offset within the attribute
    std::uint32_t dataLength = 0;       // resident: value length; non-resident: attribute length - run-list offset
    std::uint16_t compressionUnitExponent = 0;
    std::uint64_t firstVcn = 0, lastVcn = 0;
    char form = 0;                      // 'N' non-resident, 'R' resident, 0 none
    const char* classification = nullptr;  // "Compressed", "Encrypted", "Normal" or null
    std::uint16_t flags = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t realSize = 0;
    std::uint64_t initializedSize = 0;
};

// Standard-information times (Windows file times) and the attribute letters of one record.
struct NtfsFileTimes {
    bool known = false;  // the record had a $STANDARD_INFORMATION value
    std::uint64_t created = 0, modified = 0, accessed = 0;
    std::uint16_t attributeFlags = 0;
    std::string attributes;  // the letters of attributeFlags
};

// One name of a file: a $FILE_NAME value's name, folder flag and parent record.
struct NtfsName {
    std::string name;
    std::uint64_t parentRecord = 0;
    bool folder = false;
    std::uint8_t nameSpace = 0;
};

class NtfsEngine : public EngineWiring {
public:
    explicit NtfsEngine(VolumeRecord volume);
    NtfsEngine(const NtfsEngine&) = delete;
    NtfsEngine& operator=(const NtfsEngine&) = delete;

    ParseMode parseMode = ParseMode::Standard;

    // Geometry.
    std::uint64_t clusterSize = 0;
    std::uint64_t volumeSize = 0;
    std::uint64_t recordSize = ntfs_format::kDefaultRecordSize;

    std::vector<ntfs_format::DataRun> mftRuns;
    std::vector<NtfsEntry> entries;
    std::vector<NtfsEntry> mftCandidates;
    std::int64_t rootIndex = 5;
    std::int64_t orphanIndex = -1;
    bool mftRunReady = false;
    bool takeRunFromFirstEntry = true;
    bool stopAtFirstMft = true;
    // Named $DATA streams become entries of their own beside their file; off, they stay hidden.
    bool showStreams = false;

    // ---- volume and MFT ----
    // Forgets what an earlier parse found, so that the engine can parse again.
    void resetParse();
    // Sets the reader's volume base to the volume's start; every offset the engine uses is relative to it.
    bool readBootSector();
    void insertRootItem();
    bool locateMft();
    void loadMftRecords();
    void buildEntryTree();
    // Reads the record at `recordOffset` and fills entry `index` from it (name, kind, parent, flags).
    bool parseMftRecord(std::uint64_t recordOffset, std::uint64_t index);
    // Same from a fixed-up record in memory.
    void parseMftRecord(Bytes record, std::uint64_t index);
    void linkToParent(std::uint64_t index);
    void relinkOrphans();
    void insertTopLevelItems();
    void freeEntryNames();
    // Gives files whose names lie in extension records their names, hides the extension records, and adds one
    // entry for each further name of a file (hard links), all reading the file's record.
    void gatherFileNames();

    // The entries under the volume's top item, as insertTopLevelItems walks them.
    std::vector<std::uint64_t> topLevelEntries() const;
    // A folder's children along firstChild / nextSibling, each at most once.
    std::vector<std::uint64_t> childEntries(std::uint64_t folder) const;
    TreeItemId rootItem() const { return rootItem_; }
    bool isSynthetic(std::uint64_t index) const { return orphanIndex >= 0 && index == static_cast<std::uint64_t>(orphanIndex); }
    bool isStream(std::uint64_t index) const { return index < entries.size() && entries[index].stream != 0; }
    // The stream a stream entry reads (its name within the file), empty for every other entry.
    std::string streamName(std::uint64_t index) const;
    // The stream entries placed beside the entry (one of a file's names), in the file's attribute order.
    std::vector<std::uint64_t> streamEntriesOf(std::uint64_t index) const;

    std::string entryName(std::uint64_t index) const;
    // Gives an entry another name (the recycle-bin pass); safe while other threads read names.
    void renameEntry(std::uint64_t index, const std::string& name);

    // ---- records ----
    // The entry's record, fixed up. False (and an empty buffer) when it cannot be located.
    bool readEntryRecord(std::uint64_t index, std::vector<std::uint8_t>& record) const;
    bool readRecordAt(std::uint64_t offset, std::vector<std::uint8_t>& record) const;

    // ---- file data ----
    static NtfsFileTimes fileTimes(Bytes record);
    // The list's letters for file attribute flags ("-R-H-A", ...).
    static std::string attributeLetters(std::uint16_t flags);
    // Where the record's symbolic link, junction or mount point leads; empty when it is none.
    static std::string reparseTarget(Bytes record);
    NtfsFileTimes fileTimes(std::uint64_t index) const;
    static DataDescription describeData(Bytes record);
    // The runs of the record's first non-resident attribute of `type` (unnamed when `type` is $DATA).
    static std::vector<ntfs_format::DataRun> attributeRuns(Bytes record, std::uint32_t type,
                                                      std::uint64_t* clusterCount = nullptr);
    std::vector<ntfs_format::DataRun> attributeRuns(std::uint64_t recordOffset, std::uint32_t type) const;
    // Cluster numbers of `count` clusters from `firstVcn` on (-1 where nothing is allocated).
    static std::vector<std::int64_t> clusterNumbers(const ntfs_format::RunMap& map, std::uint64_t firstVcn,
                                            std::uint64_t count);
    // Reads a record by its MFT record number (false when it cannot be found).
    using RecordFetch = std::function<bool(std::uint64_t, std::vector<std::uint8_t>&)>;
    using AttributeVisit = std::function<void(Bytes record, const ntfs_format::AttributeHeader&)>;
    struct AttributeWalk {
        bool hasList = false;  // the base record has an attribute list
        bool damaged = false;  // a record the list names could not be read or belongs to another file
    };
    // Visits every attribute of the file whose base record is `base` (number `ownNumber`): the base record's own,
    // then those of each extension record its attribute list names, each record once, fetched through `fetch`.
    // `strays` are further records that name this file as their base although its list does not name them.
    AttributeWalk forEachFileAttribute(Bytes base, std::uint64_t ownNumber, const RecordFetch& fetch,
                                       const AttributeVisit& visit,
                                       const std::vector<std::uint64_t>& strays = {}) const;
    // How this parse finds an extension record by number: through the MFT's runs, or among the scanned records.
    RecordFetch extensionFetch() const;

    // Size as the list shows it: the unnamed $DATA's real size.
    std::uint64_t entrySize(std::uint64_t index) const;
    std::uint64_t entrySize(std::uint64_t index, Bytes record) const;
    // The list facts the parse kept for the entry, or null where its record must be read for them (a stream, a file
    // with an attribute list or a reparse point, a deleted file whose lost extension records may hold its data).
    const NtfsListFacts* keptListFacts(std::uint64_t index) const;
    // The entry's content (a folder's: empty), with its access and modification times.
    std::unique_ptr<FileContent> openNtfsContent(std::uint64_t index) const;

    // ---- searches when the boot sector does not lead to the MFT ----
    bool scanForFirstMft();
    void deepScanMft();
    std::uint64_t findMftEntries(std::uint64_t limit);
    bool takeMftRunFromCandidate(std::uint64_t index);

    const std::vector<std::uint8_t>& bootSector() const { return boot_; }
    bool bootSectorValid() const { return bootValid_; }
    bool usedBackupBootSector() const { return usedBackupBoot_; }

    // Whether the record slots come from the MFT's own runs (record number = index).
    bool entriesFollowMft() const { return entriesFromMap_; }

private:
    struct FileData;

    // The record numbers an attribute list names, in list order, each once.
    std::vector<std::uint64_t> listedRecords(Bytes record, bool& hasList) const;
    // Names from a file's $FILE_NAME attributes, as the tree shows them: every long (Win32, POSIX) name, and a
    // DOS name only where the file has no other name in that folder.
    static std::optional<NtfsName> nameOf(Bytes fileNameValue);
    // Names the entry by the first of `names` the tree shows (every long name, a DOS name only where the file has
    // no other name in that folder); the others wait in pendingNames_.
    void takeNames(std::uint64_t index, const std::vector<NtfsName>& names);
    void addNameEntry(std::uint64_t fileIndex, const NtfsName& name);
    // Deep mode: names an extension record whose base record was not found by its record number, when it holds
    // $DATA, so that what it holds is shown under the orphan folder.
    void nameLostExtension(std::uint64_t index);
    // Notes the file's named $DATA streams (each name once) for addStreamEntries.
    void noteStreams(std::uint64_t fileIndex, const std::vector<std::string>& streams);
    // One entry per named stream beside each name of its file, once every name has its entry.
    void addStreamEntries();
    // Links each stream entry right after its file's entry, wherever linking put that entry.
    void placeStreamEntries();
    void indexScannedRecords();
    // Deep mode: a record found twice (in the MFT and in its mirror) is shown once, from the MFT.
    void dropRecordCopies();
    // Visits a folder's children along firstChild / nextSibling, at most as many steps as there are entries (a
    // damaged chain may loop); `visit(index)` returns false to stop. The next link is read before each visit, so
    // a visit may relink the child it is given.
    template <typename Visit>
    void walkChildren(std::uint64_t folder, Visit visit) const {
        const std::uint64_t count = entries.size();
        if (folder >= count) return;
        std::int64_t c = entries[folder].firstChild;
        for (std::uint64_t steps = 0; c > 0 && static_cast<std::uint64_t>(c) < count && steps < count; ++steps) {
            const auto child = static_cast<std::uint64_t>(c);
            c = entries[child].nextSibling;
            if (!visit(child)) return;
        }
    }
    std::uint64_t fileOf(std::uint64_t index) const {
        return index < entries.size() ? entries[index].fileIndex : index;
    }

    bool clusterRangeInVolume(std::int64_t cluster, std::uint64_t count) const;
    bool readMftStream(std::uint64_t streamOffset, std::uint8_t* buffer, std::size_t length) const;
    // Reads bytes of an attribute's content by its run map: holes read as zeros; false where clusters could not be
    // read or lie outside the volume (zeros there too).
    bool readStream(const ntfs_format::RunMap& map, std::uint64_t streamOffset, std::uint8_t* buffer,
                    std::size_t length) const;
    bool readRecordByNumber(std::uint64_t recordNumber, std::vector<std::uint8_t>& record) const;
    void useMftMap(ntfs_format::RunMap map);
    std::uint64_t mftOffsetOfRecord(std::uint64_t recordNumber) const;

    // Geometry from the boot buffer; 0 when it gives none.
    std::uint64_t bootClusterSize() const;
    void takeRecordSizeFromBoot();

    // $MFT's own runs, following its attribute list when the MFT is too fragmented for one record.
    ntfs_format::RunMap mftMapFromRecord(Bytes record) const;
    std::vector<ntfs_format::DataRun> runsFromMapInOrder(const ntfs_format::RunMap& map) const;
    bool recordLooksLikeMft(Bytes record) const;
    bool takeMftFrom(std::uint64_t offset);
    std::uint64_t inferClusterSize(Bytes mftRecord, std::uint64_t mftRecordOffset, Bytes nextRecord) const;
    bool adoptRecordSizeFrom(Bytes record);

    // Reads [0, limit) of the volume in 10 MiB chunks and offers every 512-byte slot to `slot`, which answers how
    // far to move on (0: start the next chunk at this slot; ~0: end the walk). `beforeChunk` false ends it too.
    // Parts the image does not store are jumped over (they hold no record); the status says how much at the end.
    void scanVolume(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                    const std::function<std::uint64_t(Bytes, std::uint64_t, std::uint64_t)>& slot);
    // The same over plausible records only: each is taken into `entries` (and copied into `record`) before `took`
    // is asked how far to move on.
    void scanRecords(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                     std::vector<std::uint8_t>& record,
                     const std::function<std::uint64_t(Bytes, std::uint64_t, std::uint64_t)>& took);
    // The record at `o` of a scanned chunk, zero-filled past the chunk's end, with its fixups undone.
    void copyScannedRecord(Bytes chunk, std::uint64_t o, std::vector<std::uint8_t>& record) const;
    // Takes the record at `o` into `entries`; false when it runs past the chunk but not past the volume (the walk
    // then starts the next chunk with it).
    bool takeScannedRecord(Bytes chunk, std::uint64_t o, std::uint64_t offset, std::vector<std::uint8_t>& record);
    void appendScannedEntry(Bytes record, std::uint64_t offset);
    void placeEntries();
    void deepRelink();
    void attachUnreachableEntries();
    void pushOrphan(std::uint64_t index);

    // The file's content as its attributes describe it: the unnamed $DATA's pieces (a stream entry's: its named
    // $DATA's) in VCN order (or its resident
    // value), gathered through the attribute list, extension records read through `fetch`.
    // `stream` names the $DATA attribute to read; empty: the unnamed one.
    FileData collectFileData(Bytes record, std::uint64_t ownNumber, const RecordFetch& fetch,
                             const std::vector<std::uint64_t>& strays = {}, const std::string& stream = {}) const;
    FileData collectFileData(std::uint64_t index, Bytes record) const;
    // Bytes a non-resident file has (its real size, cut to its allocation).
    std::uint64_t contentLength(const FileData& data, bool& damaged) const;
    bool tooMuchInvented(std::uint64_t zeros) const;
    // The size the list shows for the file data found; nullopt where it depends on a cluster size a deep scan may
    // still change.
    std::optional<std::uint64_t> listedSize(const FileData& data) const;
    // Keeps what the list shows of a base record that holds all of its file's attributes.
    void keepListFacts(Bytes record, NtfsEntry& entry) const;
    // Whether a file whose last run pieces are missing keeps its length (zeros for them).
    static bool padsMissingTail(const FileData& data);
    // How many of `count` clusters from `cluster` on lie inside the volume, counted from the first.
    std::uint64_t clustersInVolume(std::int64_t cluster, std::uint64_t count) const;
    // An uncompressed file's parts: runs, holes, zeros past the initialized size, missing pieces.
    ContentLayout plainLayout(const FileData& data, ContentFacts& facts) const;
    // A compressed file's length: cut where its made-up units outgrow the volume.
    std::uint64_t compressedLength(const FileData& data, unsigned exponent, ContentFacts& facts) const;
    // Reads `clusters` clusters from `cluster` on, zeros where they lie outside the volume. False when any did.
    bool readClusters(std::int64_t cluster, std::uint64_t clusters, std::uint8_t* buffer) const;

    VolumeReader reader_;
    VolumeRecord volume_;
    mutable std::mutex nameMutex_;

    std::vector<std::uint8_t> boot_;
    bool bootValid_ = false;
    bool usedBackupBoot_ = false;
    bool recordSizeFromBoot_ = false;

    ntfs_format::RunMap mftMap_;  // VCN -> LCN of the MFT ($DATA of record 0); set through useMftMap
    // The stretch of the MFT that the last record read by number came from: lists read the records of a folder's
    // children one by one, and those mostly lie side by side. Guarded by windowMutex_ (lists and saves may read
    // from different threads).
    struct RecordWindow {
        std::uint64_t start = 0;
        std::vector<std::uint8_t> bytes;  // empty: nothing held
    };
    mutable RecordWindow recordWindow_;
    mutable std::mutex windowMutex_;
    bool entriesFromMap_ = false;
    std::vector<std::int64_t> lastChild_;  // tail of each parent's child chain while linking
    // Further names of files, gathered while records are parsed and added as entries after them.
    std::vector<std::pair<std::uint64_t, NtfsName>> pendingNames_;
    std::vector<NtfsName> scratchNames_;
    std::vector<std::string> scratchStreams_;
    // Named streams of files (file entry, stream name), gathered while records are parsed.
    std::vector<std::pair<std::uint64_t, std::string>> pendingStreams_;
    std::vector<std::string> streamNames_;  // what NtfsEntry::stream counts from 1
    // (stream entry, the name entry it sits beside), grouped by name entry in attribute order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> streamPlacement_;
    // Scanned records by the number they state (deep mode), for finding extension records.
    std::unordered_map<std::uint64_t, std::uint64_t> scannedByNumber_;
    // Record numbers of the deleted extension records that name each deleted base record: deleting a file may
    // drop them from its attribute list while they still hold its data.
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> deletedExtensions_;
    TreeItemId rootItem_ = kNoTreeItem;
};

}  // namespace halvard
