// The standard scan: the MBR with its extended boot record chain, or the GPT.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>

#include "common/utf16.h"
#include "volume/boot_sector.h"
#include "volume/partition.h"

namespace halvard {

namespace {

constexpr std::size_t kMbrTable = 446;
constexpr unsigned kMaxExtendedRecords = 50;
constexpr const char* kReservedPartitionName = "Microsoft reserved partition";

struct MbrEntry {
    std::uint8_t type = 0;
    std::uint32_t firstSector = 0;
    std::uint32_t sectorCount = 0;
};

MbrEntry mbrEntry(Bytes sector, int index) {
    const std::size_t at = kMbrTable + 16 * static_cast<std::size_t>(index);
    return {u8(sector, at + 4), le32(sector, at + 8), le32(sector, at + 12)};
}

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool hasBootSignature(Bytes sector) { return u8(sector, 510) == 0x55 && u8(sector, 511) == 0xAA; }

// The GUID as it is written: the first three fields are stored little-endian.
std::string guidText(Bytes guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", le32(guid, 0), le16(guid, 4),
                  le16(guid, 6), u8(guid, 8), u8(guid, 9), u8(guid, 10), u8(guid, 11), u8(guid, 12), u8(guid, 13),
                  u8(guid, 14), u8(guid, 15));
    return text;
}

// The name of a GPT partition type, for a volume whose file system is not recognised.
std::string gptTypeName(Bytes typeGuid) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Basic data"},
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
        {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
        {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
        {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
        {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
        {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
        {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
        {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+"},
        {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
        {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    };
    const std::string text = guidText(typeGuid);
    for (const auto& [guid, name] : kNames)
        if (text == guid) return name;
    return "Unknown";
}

std::string format(const char* pattern, long long value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

}  // namespace

bool Partition::readSectors(const Device& reader, std::uint64_t byteOffset, std::vector<std::uint8_t>& buffer) {
    return reader.readAt(byteOffset, buffer.data(), buffer.size());
}

void Partition::append(const std::string& fileSystem, const char* sizePattern, std::int64_t startSector,
                       std::uint64_t sectors) {
    VolumeRecord record;
    // A table entry or header can claim any size; only the disk's sectors can be read (starts past the end are
    // not listed by the callers).
    if (diskSectors_ != 0 && startSector >= 0 && static_cast<std::uint64_t>(startSector) < diskSectors_ &&
        sectors > diskSectors_ - static_cast<std::uint64_t>(startSector)) {
        record.note = cutAtDiskEndNote(sectors, diskSectors_, startSector);
        reporting.setStatus("Volume " + std::to_string(records_.size()) + " " + record.note);
        sectors = diskSectors_ - static_cast<std::uint64_t>(startSector);
    }
    record.fileSystem = fileSystem;
    record.volumeName = std::to_string(records_.size());
    record.sizeText = format(sizePattern, wholeMiB(sectors));
    record.startSector = startSector;
    record.sectorCount = sectors;
    record.device = volumeDevice(disk_, record);
    records_.push_back(record);
    if (onVolumeFound) onVolumeFound(records_.back());
}

bool Partition::exfatProbe(const Device& reader, std::uint64_t sector) {
    std::vector<std::uint8_t> buffer(512);
    return readSectors(reader, sector * 512, buffer) && isExfatBootSector(buffer);
}

bool Partition::hfsPlusProbe(const Device& reader, std::uint64_t sector) {
    std::vector<std::uint8_t> buffer(512);
    return readSectors(reader, (sector + 2) * 512, buffer) && isHfsPlusHeader(buffer);
}

std::string Partition::probeFileSystem(const Device& reader, std::uint64_t sector) {
    std::vector<std::uint8_t> head(2048);
    if (!readSectors(reader, sector * 512, head)) return {};
    const BootSectorFacts facts = classifyBootSector(head);
    switch (facts.kind) {
        case BootKind::Ntfs:
            return "NTFS";
        case BootKind::Fat16:
            return facts.fat12 ? "FAT12" : "FAT16";
        case BootKind::Fat32:
            return "FAT32";
        case BootKind::Exfat:
            return "FAT64";
        default:
            break;
    }
    const Bytes bytes(head);
    if (isHfsPlusHeader(bytes.subspan(1024))) return "HFS+";
    if (isExtSuperblock(bytes.subspan(1024))) return "extX";
    return {};
}

// The file-system text of a primary or logical MBR slot, by its type (and, for the types that do not settle it,
// by a look at the volume), with the status text of the find.
std::string Partition::classifyMbrEntry(const Device& reader, std::uint8_t type, std::uint64_t start,
                                        bool logical) {
    switch (type) {
        case 0x01:
            return "FAT12";
        case 0x04:
        case 0x06:
        case 0x0E:
            reporting.setStatus("found FAT 16...");
            return probeFileSystem(reader, start) == "FAT12" ? "FAT12" : "FAT16";
        case 0x07:
            if (exfatProbe(reader, start)) {
                reporting.setStatus("found FAT64...");
                return "FAT64";
            }
            reporting.setStatus(logical ? std::string("found NTFS...") : format("found NTFS %lld...", ++ntfsCount_));
            return "NTFS";
        case 0x0B:
        case 0x0C:
            reporting.setStatus("found FAT 32...");
            return "FAT32";
        case 0x42:
            if (!logical) {
                reporting.setStatus("NTFS...");
                return "NTFS";
            }
            break;
        case 0x83: {
            reporting.setStatus(logical ? "found extx..." : "found ext2...");
            const std::string found = probeFileSystem(reader, start);
            return found.empty() ? "extX" : found;
        }
        default: {
            // HFS+ partitions carry types the table does not know (0xAF); their header tells, as other volumes'
            // boot sectors or superblocks do.
            const std::string found = probeFileSystem(reader, start);
            if (found == "HFS+") reporting.setStatus("found HFS+...");
            if (!found.empty()) return found;
            break;
        }
    }
    reporting.setStatus("found UNKNOWN...");
    return "Unknown";
}

bool Partition::recordBootSector(const BootSectorFacts& facts, std::int64_t start) {
    // NTFS's extent holds the backup boot sector behind the counted sectors: the same size the table gives.
    const std::uint64_t sectors = facts.extentSectors;
    switch (facts.kind) {
        case BootKind::Ntfs:
            if (sectors == 0) return false;
            reporting.setStatus(format("found NTFS %lld...", ++ntfsCount_));
            append("NTFS", "%lld   MB", start, sectors);
            return true;
        case BootKind::Fat32:
            reporting.setStatus("found FAT 32...");
            if (sectors > 0) append("FAT32", "%lld  MB", start, sectors);
            return sectors > 0;
        case BootKind::Fat16:
            reporting.setStatus("found FAT 16...");
            if (sectors > 0) append(facts.fat12 ? "FAT12" : "FAT16", "%lld  MB", start, sectors);
            return sectors > 0;
        case BootKind::Exfat:
            reporting.setStatus("found FAT 64...");
            if (sectors > 0) append("FAT64", "%lld  MB", start, sectors);
            return sectors > 0;
        case BootKind::FatOther:
            reporting.setStatus("found unknown...");
            return false;
        default:
            return false;
    }
}

int Partition::standardScan(const DevicePtr& disk) {
    disk_ = disk;
    const Device& reader = *disk;
    diskSectors_ = sectorsOf(reader);
    ntfsCount_ = 0;
    const std::uint64_t sectorSize = reader.logicalSectorSize();
    std::vector<std::uint8_t> head(2 * sectorSize);
    int result;
    if (readSectors(reader, 0, head) && gptFlag) {
        const Bytes header = Bytes(head).subspan(sectorSize);
        if (hasSignature(header, 0, "EFI PART")) {
            result = walkGpt(reader, header, sectorSize);
        } else {
            reporting.setStatus("No GPT header found; reading the MBR...");
            result = listBareVolume(reader) ? 0 : walkMbr(reader);
        }
    } else {
        result = listBareVolume(reader) ? 0 : walkMbr(reader);
    }
    reporting.setPosition(kScanProgressEnd);
    return result;
}

bool Partition::listBareVolume(const Device& reader) {
    std::vector<std::uint8_t> head(2048);
    if (!readSectors(reader, 0, head)) return false;
    const BootSectorFacts facts = bareVolumeFacts(head, diskSectors_);
    switch (facts.kind) {
        case BootKind::Ntfs:
        case BootKind::Fat16:
        case BootKind::Fat32:
        case BootKind::Exfat:
            if (!recordBootSector(facts, 0)) return false;
            break;
        case BootKind::Ext:
            reporting.setStatus("found extX...");
            append("extX", "%lld   MB", 0, facts.extentSectors);
            break;
        case BootKind::HfsPlus:
            reporting.setStatus("found HFS+...");
            append("HFS+", "%lld  MB", 0, facts.extentSectors);
            break;
        default:
            return false;
    }
    reporting.setStatus("No partition table: the disk is one volume, from sector 0.");
    return true;
}

// Records primaries in table order, then the logical volumes of the extended chain. Empty slots are skipped
// rather than ending the walk, and slots after the extended partition are read too: both occur on disks that
// were repartitioned.
int Partition::walkMbr(const Device& reader) {
    const std::uint64_t scale = reader.logicalSectorSize() / 512;
    std::vector<std::uint8_t> mbr(512);
    if (!readSectors(reader, 0, mbr)) return EIO;
    if (!hasBootSignature(mbr)) {
        reporting.setStatus("No partition table found (no boot signature in sector 0).");
        return 0;
    }
    std::uint64_t extendedBase = 0;
    for (int i = 0; i < 4; ++i) {
        const MbrEntry entry = mbrEntry(mbr, i);
        if (entry.type == 0 || entry.firstSector == 0) continue;
        if (isExtended(entry.type)) {
            if (extendedBase == 0) extendedBase = entry.firstSector;
            continue;
        }
        const std::uint64_t start = static_cast<std::uint64_t>(entry.firstSector) * scale;
        if (diskSectors_ && start >= diskSectors_) continue;  // a slot pointing past the disk is garbage
        const std::string fileSystem = classifyMbrEntry(reader, entry.type, start, false);
        const std::uint64_t sectors = entry.sectorCount * scale;
        append(fileSystem, "%lld   MB", static_cast<std::int64_t>(start), sectors);
    }
    if (extendedBase != 0) return walkExtendedChain(reader, extendedBase, scale);
    return 0;
}

int Partition::walkExtendedChain(const Device& reader, std::uint64_t extendedBase, std::uint64_t scale) {
    std::uint64_t ebr = extendedBase;
    std::uint64_t ebrOffset = 0;  // the current record's position relative to the extended base
    std::set<std::uint64_t> visited;
    std::vector<std::uint8_t> sector(512);
    for (unsigned count = 0; count < kMaxExtendedRecords; ++count) {
        if (!visited.insert(ebr).second) break;  // a link back to a record already read
        if (diskSectors_ && ebr * scale >= diskSectors_) break;
        if (!readSectors(reader, ebr * scale * 512, sector)) return EIO;
        if (!hasBootSignature(sector)) break;
        bool linked = false;
        std::uint64_t nextOffset = 0;
        for (int i = 0; i < 4; ++i) {
            const MbrEntry entry = mbrEntry(sector, i);
            if (entry.type == 0 || entry.firstSector == 0) continue;  // a deleted logical volume leaves a hole
            if (isExtended(entry.type)) {
                linked = true;
                nextOffset = entry.firstSector;
                break;
            }
            const std::uint64_t start = (extendedBase + ebrOffset + entry.firstSector) * scale;
            if (diskSectors_ && start >= diskSectors_) continue;
            const std::string fileSystem = classifyMbrEntry(reader, entry.type, start, true);
            const std::uint64_t sectors = entry.sectorCount * scale;
            append(fileSystem, "%lld   MB", static_cast<std::int64_t>(start), sectors);
        }
        if (!linked) break;
        ebr = extendedBase + nextOffset;
        ebrOffset = nextOffset;
    }
    return 0;
}

int Partition::walkGpt(const Device& reader, Bytes header, std::uint64_t sectorSize) {
    // The whole 64-bit entry array position, and the header's own count and entry size, within sane bounds.
    const std::uint64_t arrayLba = le64(header, 72);
    std::uint32_t count = le32(header, 80);
    std::uint32_t entrySize = le32(header, 84);
    if (entrySize < 128 || entrySize > 4096 || entrySize % 8 != 0) entrySize = 128;
    if (count == 0) count = 128;
    count = std::min<std::uint32_t>(count, (1024 * 1024) / entrySize);
    if (arrayLba < 2 || arrayLba > (~0ULL >> 13) / sectorSize) return 0;
    std::vector<std::uint8_t> array(static_cast<std::size_t>(count) * entrySize);
    readSectors(reader, arrayLba * sectorSize, array);  // whatever cannot be read stays zero: no entries there

    const std::uint64_t scale = sectorSize / 512;
    struct GptEntry {
        std::uint64_t first, last;
        std::string name;
        std::string typeName;
    };
    std::vector<GptEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        const Bytes entry = slice(array, static_cast<std::uint64_t>(i) * entrySize, entrySize);
        if (allZero(slice(entry, 0, 16))) continue;  // an unused slot; later ones may still be used
        const std::uint64_t first = le64(entry, 32);
        const std::uint64_t last = std::min<std::uint64_t>(le64(entry, 40), (~0ULL >> 13) / scale);
        if (first <= 2 || last < first || first > (~0ULL >> 13) / scale) continue;
        if (diskSectors_ && first * scale >= diskSectors_) continue;
        entries.push_back({first, last, utf16leToUtf8(entry, 56, 36, true), gptTypeName(slice(entry, 0, 16))});
    }

    BootSectorRules rules;
    rules.requireNtfsText = false;
    rules.acceptFat16With128 = false;
    std::vector<std::uint8_t> boot(512);
    for (const GptEntry& entry : entries) {
        const std::uint64_t start = entry.first * scale;
        const bool readOk = readSectors(reader, start * 512, boot);
        if (entry.name == kReservedPartitionName || entry.typeName == "Microsoft reserved") continue;
        if (!readOk) return EIO;
        const BootSectorFacts facts = classifyBootSector(boot, rules);
        switch (facts.kind) {
            case BootKind::Ntfs:
            case BootKind::Fat32:
            case BootKind::Fat16:
            case BootKind::FatOther:
            case BootKind::Exfat:
                recordBootSector(facts, static_cast<std::int64_t>(start));
                break;
            default: {
                // The last LBA belongs to the partition. The column names the file system found, not the label.
                const std::string found = probeFileSystem(reader, start);
                const std::uint64_t sectors = (entry.last - entry.first + 1) * scale;
                append(found.empty() ? entry.typeName : found, "%lld", static_cast<std::int64_t>(start), sectors);
                continue;
            }
        }
        if (stopNow()) break;
    }
    return 0;
}

}  // namespace halvard
