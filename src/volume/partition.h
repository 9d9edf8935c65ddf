#pragma once
// The volume scanner. The standard scan walks the partition tables (the MBR with its chain of extended boot
// records, or the GPT); the advanced scan reads the whole disk, or a sector range, and tests every sector for a
// boot sector or volume header. Both read the disk's device and append one VolumeRecord per volume, with its
// device on the disk, to the vector they are given.
#include <cstdint>
#include <functional>
#include <vector>

#include "common/bytes.h"
#include "common/sinks.h"
#include "common/worker.h"
#include "image/device.h"
#include "volume/boot_sector.h"
#include "volume/volume_record.h"

namespace halvard {

// The end of the standard scan's progress range.
inline constexpr std::uint32_t kScanProgressEnd = 1000;

class Partition {
public:
    explicit Partition(std::vector<VolumeRecord>& records) : records_(records) {}

    // Wiring, set by the page before a scan.
    Reporting reporting;                    // status texts and progress (0..1000)
    StopFlag stopRequested{0};              // set by Stop; polled between volumes and before each sector
    PauseGate* pauseGate = nullptr;         // the worker's pause gate, when the scan runs on one
    bool gptFlag = false;                   // standard scan: walk the GPT instead of the MBR
    bool volumeSizeFlag = true;             // advanced scan: jump over each volume found
    std::int64_t startSector = 0;           // advanced scan range; 0 = not set
    std::int64_t endSector = 0;
    // Advanced scan: called for each listed volume right after it is appended (the page lists it at once).
    std::function<void(const VolumeRecord&)> onVolumeFound;

    // Returns 0 when done, or an error code when a table sector cannot be read (the records so far stay).
    int standardScan(const DevicePtr& disk);
    // Returns 1 when the run ends normally (end of disk, end sector passed, stop), else an error code.
    int advancedScan(const DevicePtr& disk, std::uint64_t totalSectors);

    // Probes of the sector at `sector` (the exFAT boot sector; the HFS+ header two sectors further on).
    bool exfatProbe(const Device& reader, std::uint64_t sector);
    bool hfsPlusProbe(const Device& reader, std::uint64_t sector);
    // The file-system text of the volume starting at `sector`, by its boot sector, HFS+ header or ext superblock;
    // empty when none is recognised.
    std::string probeFileSystem(const Device& reader, std::uint64_t sector);

private:
    int walkMbr(const Device& reader);
    int walkExtendedChain(const Device& reader, std::uint64_t extendedBase, std::uint64_t lbaScale);
    std::string classifyMbrEntry(const Device& reader, std::uint8_t type, std::uint64_t start, bool logical);
    int walkGpt(const Device& reader, Bytes header, std::uint64_t logicalSectorSize);
    // Lists an NTFS, FAT or exFAT volume found by its boot sector (when its size is at least one sector) with its
    // status text; true when listed.
    bool recordBootSector(const BootSectorFacts& facts, std::int64_t start);
    // Appends a record whose size text is `sizePattern` ("%lld   MB", "%lld  MB", "%lld") of its whole MiB. A
    // volume running past the end of a disk of known size is cut at that end, with a note in the record.
    void append(const std::string& fileSystem, const char* sizePattern, std::int64_t startSector,
                std::uint64_t sectors);
    // Standard scan: lists the volume that starts at sector 0 of a disk without a partition table; true when
    // one was listed.
    bool listBareVolume(const Device& reader);
    bool stopNow() const { return StopPoll(&stopRequested, pauseGate).stopNow(); }
    bool readSectors(const Device& reader, std::uint64_t byteOffset, std::vector<std::uint8_t>& buffer);

    std::vector<VolumeRecord>& records_;
    DevicePtr disk_;
    std::uint64_t diskSectors_ = 0;  // 0 when unknown
    int ntfsCount_ = 0;
};

}  // namespace halvard
