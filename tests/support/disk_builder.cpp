#include "support/disk_builder.h"

#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

#include "common/utf16.h"
#include "image/guid.h"
#include "support/put_bytes.h"

namespace halvard::testing {

namespace {

// A boot sector's frame: the jump over its parameter block, the OEM name and the 0x55AA signature.
Sector bootFrame(std::uint8_t jumpTarget, const char* oem) {
    Sector s(512, 0);
    s[0] = 0xEB;
    s[1] = jumpTarget;
    s[2] = 0x90;
    putText(s, 3, oem);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

Sector fatCommon(const char* oem, std::uint8_t jump1) {
    Sector s = bootFrame(jump1, oem);
    putLe16(s, 11, 512);
    s[13] = 8;       // sectors per cluster
    putLe16(s, 14, 32);  // reserved sectors
    s[16] = 2;       // FATs
    s[21] = 0xF8;
    return s;
}

}  // namespace

DiskBuilder::DiskBuilder(std::string path, std::uint64_t sectors) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(sectors * 512)) != 0)
        throw std::runtime_error("cannot create " + path_);
}

DiskBuilder::~DiskBuilder() {
    if (fd_ >= 0) ::close(fd_);
}

void DiskBuilder::put(std::uint64_t byteOffset, const std::vector<std::uint8_t>& bytes) {
    if (::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(byteOffset)) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot write " + path_);
}

void DiskBuilder::putMbr(std::uint64_t sector, const std::vector<Slot>& slots) {
    Sector s(512, 0);
    for (std::size_t i = 0; i < slots.size() && i < 4; ++i) {
        const std::size_t at = 446 + 16 * i;
        s[at + 4] = slots[i].type;
        putLe32(s, at + 8, slots[i].first);
        putLe32(s, at + 12, slots[i].count);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    putSector(sector, s);
}

void DiskBuilder::putGpt(const std::vector<GptPartition>& partitions, std::uint32_t sectorSize,
                         std::uint32_t entryCount, std::uint64_t arrayLba) {
    Sector header(sectorSize, 0);
    putText(header, 0, "EFI PART");
    putLe32(header, 8, 0x00010000);
    putLe32(header, 12, 92);
    putLe64(header, 24, 1);
    putLe64(header, 72, arrayLba);
    putLe32(header, 80, entryCount);
    putLe32(header, 84, 128);
    put(sectorSize, header);
    Sector array(static_cast<std::size_t>(partitions.size()) * 128, 0);
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        const std::size_t at = i * 128;
        const Guid type = Guid::fromText(partitions[i].typeGuid);
        std::memcpy(array.data() + at, type.bytes.data(), 16);
        array[at + 16] = static_cast<std::uint8_t>(i + 1);  // a unique partition GUID
        putLe64(array, at + 32, partitions[i].first);
        putLe64(array, at + 40, partitions[i].last);
        const auto name = utf8ToUtf16(partitions[i].name);
        for (std::size_t k = 0; k < name.size() && k < 36; ++k) putLe16(array, at + 56 + 2 * k, name[k]);
    }
    put(arrayLba * sectorSize, array);
    // The protective MBR.
    putMbr(0, {{0xEE, 1, 0xFFFFFFFF}});
}

Sector ntfsBootSector(std::uint64_t totalSectors, std::uint16_t bytesPerSector) {
    Sector s = bootFrame(0x52, "NTFS    ");
    putLe16(s, 11, bytesPerSector);
    s[13] = 8;
    putLe64(s, 40, totalSectors);
    return s;
}

Sector fat32BootSector(std::uint32_t totalSectors, const char* oem) {
    Sector s = fatCommon(oem, 0x58);
    putLe32(s, 32, totalSectors);
    putLe32(s, 36, 1000);  // sectors per FAT
    putLe32(s, 44, 2);     // root cluster
    return s;
}

Sector fat16BootSector(std::uint32_t totalSectors, std::uint16_t sectorsPerFat, const char* oem) {
    Sector s = fatCommon(oem, 0x3C);
    s[13] = 4;
    putLe16(s, 14, 4);
    putLe16(s, 17, 512);  // root entries
    if (totalSectors < 65536)
        putLe16(s, 19, static_cast<std::uint16_t>(totalSectors));
    else
        putLe32(s, 32, totalSectors);
    putLe16(s, 22, sectorsPerFat);
    return s;
}

Sector exfatBootSector(std::uint64_t volumeSectors, std::uint8_t bytesPerSectorShift) {
    Sector s = bootFrame(0x76, "EXFAT   ");
    putLe64(s, 72, volumeSectors);
    s[108] = bytesPerSectorShift;
    s[109] = 3;
    return s;
}

Sector hfsPlusHeader(std::uint32_t blockSize, std::uint32_t totalBlocks) {
    Sector s(512, 0);
    s[0] = 'H';
    s[1] = '+';
    s[3] = 4;
    putBe32(s, 40, blockSize);
    putBe32(s, 44, totalBlocks);
    return s;
}

}  // namespace halvard::testing
