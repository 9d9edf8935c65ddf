#pragma once
// Small virtual disks for the page tests: VHDX images whose disk holds a partition table or boot sectors.
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <vector>

#include "support/put_bytes.h"
#include "support/vhdx_builder.h"

namespace halvard::gui::testing {

inline constexpr std::uint64_t kMiB = 1024 * 1024;

struct MbrSlot {
    std::uint8_t type = 0;
    std::uint32_t firstSector = 0;
    std::uint32_t sectorCount = 0;
};

using halvard::testing::putLe;

// Sector 0 with up to four primary slots and the boot signature.
inline std::vector<std::uint8_t> mbrSector(const std::vector<MbrSlot>& entries) {
    std::vector<std::uint8_t> sector(512, 0);
    for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
        const std::size_t at = 446 + 16 * i;
        sector[at + 4] = entries[i].type;
        putLe(sector, at + 8, entries[i].firstSector, 4);
        putLe(sector, at + 12, entries[i].sectorCount, 4);
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

// An NTFS boot sector of a volume `totalSectors` long (the backup copy in the volume's last sector not counted).
inline std::vector<std::uint8_t> ntfsBootSector(std::uint64_t totalSectors) {
    std::vector<std::uint8_t> sector(512, 0);
    sector[0] = 0xEB;
    sector[1] = 0x52;
    sector[2] = 0x90;
    const char* oem = "NTFS    ";
    for (int i = 0; i < 8; ++i) sector[3 + i] = static_cast<std::uint8_t>(oem[i]);
    putLe(sector, 11, 512, 2);
    sector[13] = 8;
    putLe(sector, 40, totalSectors, 8);
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

// A disk of `size` bytes in 1 MiB blocks, nothing but the overlays stored.
inline halvard::testing::VhdxSpec diskSpec(std::uint64_t size,
                                            std::map<std::uint64_t, std::vector<std::uint8_t>> overlays = {}) {
    halvard::testing::VhdxSpec spec;
    spec.virtualSize = size;
    spec.blockSize = 1 * kMiB;
    spec.overlays = std::move(overlays);
    return spec;
}

inline QString writeImage(const QString& folder, const QString& name, const halvard::testing::VhdxSpec& spec) {
    const QString path = QDir(folder).filePath(name);
    halvard::testing::writeFile(QFile::encodeName(path).toStdString(), halvard::testing::buildVhdx(spec));
    return path;
}

}  // namespace halvard::gui::testing
