#pragma once
// NTFS structures for tests, built byte by byte: MFT records with their attributes and update sequence, run lists,
// an LZNT1 compressor, and small volumes held in memory behind a reader.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "image/read_write_interface.h"
#include "support/put_bytes.h"
#include "volume/volume_record.h"

namespace halvard::testing {

// Windows file time of a Unix time.
std::uint64_t fileTime(std::int64_t unixSeconds, std::uint32_t hundredNanos = 0);

struct RunPlan {
    std::uint64_t length;
    std::int64_t cluster;  // absolute start cluster; ignored when sparse
    bool sparse = false;
};
// Encodes runs as a run list with the shortest fields, terminator included.
ByteVector encodeRuns(const std::vector<RunPlan>& runs);

ByteVector fileNameValue(std::uint64_t parent, const std::string& name, bool directory = false,
                         std::uint8_t nameSpace = 1, std::uint64_t allocatedSize = 0);
ByteVector standardInformationValue(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed,
                                    std::uint32_t attributes = 0x20);

class RecordBuilder {
public:
    explicit RecordBuilder(std::uint32_t size = 1024, std::uint16_t flags = 1);

    RecordBuilder& standardInformation(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed,
                                       std::uint32_t attributes = 0x20);
    RecordBuilder& fileName(std::uint64_t parent, const std::string& name, bool directory = false,
                            std::uint8_t nameSpace = 1);
    RecordBuilder& resident(std::uint32_t type, const ByteVector& value, const std::string& name = "");
    RecordBuilder& nonResident(std::uint32_t type, const ByteVector& runList, std::uint64_t firstVcn,
                               std::uint64_t lastVcn, std::uint64_t realSize, std::uint16_t flags = 0,
                               std::uint8_t compressionExponent = 0, const std::string& name = "",
                               std::uint64_t allocatedSize = 0);
    // The unnamed $DATA of `size` bytes in `runs` of `clusterSize` clusters.
    RecordBuilder& data(const std::vector<RunPlan>& runs, std::uint64_t size, std::uint64_t clusterSize,
                        std::uint16_t flags = 0, std::uint8_t compressionExponent = 0);
    // An attribute list with entries (type, record number, starting VCN, name).
    struct ListEntry {
        std::uint32_t type;
        std::uint64_t record;
        std::uint64_t startVcn;
        std::string name;
    };
    RecordBuilder& attributeList(const std::vector<ListEntry>& entries);
    // Appends `bytes` as they are (a hand-made, possibly damaged, attribute).
    RecordBuilder& raw(const ByteVector& bytes);
    RecordBuilder& recordNumber(std::uint32_t number);
    RecordBuilder& baseRecord(std::uint64_t number);

    // The record as it lies on disk: end marker, then the last two bytes of every 512-byte stride moved into the
    // update-sequence array and replaced by the sequence number.
    ByteVector build(std::uint16_t sequence = 0x0001) const;
    // The record as the engine sees it after the fixup.
    ByteVector plain(std::uint16_t sequence = 0x0001) const;
    // Where the next attribute will start (to place a value across a stride end).
    std::uint32_t nextAttributeOffset() const { return static_cast<std::uint32_t>(used_); }

private:
    ByteVector bytes_;
    std::size_t used_;
    std::uint16_t instance_ = 0;
};

// LZNT1 of `data` (greedy matches), in chunks of 4096 bytes; chunks that do not shrink are stored.
ByteVector lznt1Compress(const ByteVector& data);
// `size` bytes of numbered text lines, which LZNT1 shrinks well.
ByteVector compressibleText(std::size_t size);

// A reader over bytes in memory; counts its reads.
class MemoryReader final : public DiskReader {
public:
    explicit MemoryReader(ByteVector bytes);
    Status open(const std::string&) override { return {}; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;

    ByteVector bytes;
    mutable std::atomic<std::uint64_t> reads = 0;

protected:
    SectorMapping mapSector(std::uint64_t) const override { return {}; }
    // Every byte is held (and read by `read`), though nothing is mapped to a file.
    StoredRun storedRunAt(std::uint64_t diskOffset, std::uint64_t) const override {
        return {true, totalSectors * 512 - diskOffset};
    }
};

// `record` read through `device`, which the caller keeps alive for as long as the record is used.
VolumeRecord on(const Device& device, VolumeRecord record = {});

// A small NTFS volume: boot sector, an MFT of `mftRecords` slots at `mftCluster`, the root directory (record 5)
// and $MFT (record 0) made for you; add more records and cluster contents.
class NtfsVolumeBuilder {
public:
    NtfsVolumeBuilder(std::uint64_t clusterSize = 4096, std::uint64_t clusters = 512, std::uint32_t recordSize = 1024,
                      std::uint64_t mftCluster = 16, std::uint64_t mftRecords = 64);

    // Puts a record in its MFT slot (and the mirror for records 0-3), with its number in the header.
    void setRecord(std::uint64_t number, const ByteVector& onDisk);
    void putClusters(std::uint64_t cluster, const ByteVector& bytes);
    void putBytes(std::uint64_t offset, const ByteVector& bytes);
    ByteVector& image() { return image_; }
    std::uint64_t recordOffset(std::uint64_t number) const { return mftCluster * clusterSize + number * recordSize; }

    std::uint64_t clusterSize, clusters, recordSize, mftCluster, mftRecords;

private:
    ByteVector image_;
};

}  // namespace halvard::testing
