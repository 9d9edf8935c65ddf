// The advanced scan: every sector of the disk (or of a range) is tested for a boot sector or volume header.
#include <algorithm>
#include <cstdio>

#include "image/unstored_skip.h"
#include "volume/boot_sector.h"
#include "volume/partition.h"

namespace halvard {

namespace {

constexpr std::uint64_t kChunkBytes = 1024 * 1024;
constexpr std::uint64_t kChunkSectors = kChunkBytes / 512;
constexpr std::uint64_t kLargestHfsMiB = 20971519;

}  // namespace

int Partition::advancedScan(const DevicePtr& disk, std::uint64_t totalSectors) {
    disk_ = disk;
    const Device& reader = *disk;
    diskSectors_ = totalSectors;
    ntfsCount_ = 0;
    reporting.setStatus("Scanning partition.....");
    // The flag is not cleared here: a Stop pressed between the worker's start and this point must still count.
    // Every scan has a fresh scanner.
    std::uint64_t current = startSector > 0 ? static_cast<std::uint64_t>(startSector) : 0;
    const bool hasEnd = endSector > 0;
    const auto end = static_cast<std::uint64_t>(endSector);
    reporting.setRange(0, kScanProgressEnd);

    std::vector<std::uint8_t> chunk(kChunkBytes, 0);
    const BootSectorRules rules;  // the NTFS text is required here; FAT16 with 128 sectors per FAT is accepted

    // Tests sector `index` of the chunk; returns the index to test next (behind a volume when skipping) and
    // tells through `hit` whether a boot sector or header was found, listed or not.
    bool hit = false;
    auto testSector = [&](std::uint64_t index) -> std::uint64_t {
        const Bytes sector = slice(chunk, index * 512, 512);
        const std::uint64_t number = current + index;
        std::uint64_t volumeStart = number;
        BootSectorFacts facts;
        bool listed = false;
        if (isHfsPlusHeader(sector)) {
            // The header lies 1024 bytes into its volume.
            facts = hfsPlusFacts(sector);
            if (number < 2) return index + 1;
            hit = true;
            volumeStart = number - 2;
            const std::uint64_t sectors = facts.sizeBytes / 512;
            if (sectors >= 1 && wholeMiB(sectors) <= static_cast<long long>(kLargestHfsMiB)) {
                reporting.setStatus("found HFS+...");
                append("HFS+", "%lld  MB", static_cast<std::int64_t>(volumeStart), sectors);
                listed = true;
            }
            listed = listed || sectors > 0;  // a larger volume is still jumped over
        } else {
            facts = classifyBootSector(sector, rules);
            if (facts.kind != BootKind::None) {
                hit = true;
                listed = recordBootSector(facts, static_cast<std::int64_t>(number));
            } else {
                // An ext superblock lies 1024 bytes into its volume, as the HFS+ header does.
                facts = extFacts(sector);
                if (facts.kind == BootKind::None || number < 2) return index + 1;
                hit = true;
                volumeStart = number - 2;
                reporting.setStatus("found extX...");
                append("extX", "%lld   MB", static_cast<std::int64_t>(volumeStart), facts.extentSectors);
                listed = true;
            }
        }
        // Go on right behind the volume: its first sector after its last one.
        if (volumeSizeFlag && listed && facts.extentSectors > 0) {
            const std::uint64_t behind = volumeStart + std::min(facts.extentSectors, totalSectors);
            if (behind > number) return behind - current;
        }
        return index + 1;
    };

    // What the image does not store reads as zeros, and no sector of zeros is a boot sector or header.
    UnstoredSkip unstored([&reader](std::uint64_t offset, std::uint64_t limit) { return reader.storedRun(offset, limit); },
                          totalSectors * 512);
    bool stopped = false;
    auto showPosition = [&] {
        reporting.setPosition(static_cast<std::uint32_t>(
            std::min<long double>(1.0L, static_cast<long double>(current) / static_cast<long double>(totalSectors)) *
            kScanProgressEnd));
    };
    while (current < totalSectors && !stopped) {
        if (const std::uint64_t stored = unstored.next(current * 512, 512) / 512; stored != current) {
            current = stored;
            showPosition();
            if (current >= totalSectors) break;
        }
        if (hasEnd && end < current) break;
        // An unreadable part (a truncated image) reads as zeros and holds nothing to find; the scan goes on.
        reader.readAt(current * 512, chunk.data(), chunk.size());
        const std::uint64_t limit = std::min<std::uint64_t>(kChunkSectors, totalSectors - current);
        std::uint64_t index = 0;
        while (index < limit) {
            if (stopNow()) {
                stopped = true;
                break;
            }
            hit = false;
            const std::uint64_t next = testSector(index);
            if (hit && stopNow()) {
                index = next;
                stopped = true;
                break;
            }
            index = next;
        }
        current += std::max<std::uint64_t>(index, 1);
        if (!stopped && stopNow()) stopped = true;
        showPosition();
    }
    if (const std::string skipped = unstoredSkipText(unstored.skippedBytes()); !skipped.empty())
        reporting.setStatus(skipped);
    if (stopped) reporting.setStatus("Scanned Partitions");
    return 1;
}

}  // namespace halvard
