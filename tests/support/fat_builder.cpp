#include "support/fat_builder.h"

#include <algorithm>
#include <cstring>

#include "support/put_bytes.h"

namespace halvard::testing {

namespace {

// Links the clusters in their order through `setFat`, the last one marked `end`.
template <class SetFat>
void linkChain(const std::vector<std::uint32_t>& clusters, std::uint32_t end, SetFat setFat) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
        setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : end);
}

void putAt(ByteVector& image, std::uint64_t offset, const ByteVector& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Directory slots or entries, 32 bytes each, one after another from `offset`.
void putSlotsAt(ByteVector& image, std::uint64_t offset, const std::vector<ByteVector>& slots) {
    for (const ByteVector& s : slots) {
        putAt(image, offset, s);
        offset += 32;
    }
}

}  // namespace

FatVolumeBuilder::FatVolumeBuilder(unsigned fatBits, std::uint32_t totalSectors, const char* oem) : bits(fatBits) {
    image.assign(static_cast<std::size_t>(totalSectors) * 512, 0);
    const std::uint32_t fatSectors = bits == 12 ? (totalSectors * 3 / 2 + 511) / 512 + 1
                                                : (totalSectors * (bits / 8) + 511) / 512 + 1;
    const std::uint32_t rootEntries = bits == 32 ? 0 : 32;
    image[0] = 0xEB;
    image[1] = 0x3C;
    image[2] = 0x90;
    std::memcpy(&image[3], oem, std::min<std::size_t>(8, std::strlen(oem)));
    putLe(image, 11, 512, 2);
    image[13] = 1;
    putLe(image, 14, 1, 2);
    image[16] = 1;
    putLe(image, 17, rootEntries, 2);
    if (totalSectors < 65536)
        putLe(image, 19, totalSectors, 2);
    else
        putLe(image, 32, totalSectors, 4);
    image[21] = 0xF8;
    if (bits == 32) {
        putLe(image, 36, fatSectors, 4);
        putLe(image, 44, 2, 4);
    } else {
        putLe(image, 22, fatSectors, 2);
    }
    image[510] = 0x55;
    image[511] = 0xAA;
    fatStart = 512;
    rootStart = fatStart + fatSectors * 512ULL;
    dataStart = rootStart + rootEntries * 32ULL;
    setFat(0, 0xFFFFFFF8);
    setFat(1, 0xFFFFFFFF);
    if (bits == 32) setFat(2, 0x0FFFFFFF);
}

void FatVolumeBuilder::setFat(std::uint32_t cluster, std::uint32_t value) {
    if (bits == 12) {
        const std::size_t at = fatStart + cluster + cluster / 2;
        value &= 0xFFF;
        if (cluster & 1) {
            image[at] = static_cast<std::uint8_t>((image[at] & 0x0F) | (value << 4));
            image[at + 1] = static_cast<std::uint8_t>(value >> 4);
        } else {
            image[at] = static_cast<std::uint8_t>(value);
            image[at + 1] = static_cast<std::uint8_t>((image[at + 1] & 0xF0) | (value >> 8));
        }
    } else {
        putLe(image, static_cast<std::size_t>(fatStart + cluster * (bits / 8)), value, static_cast<int>(bits / 8));
    }
}

void FatVolumeBuilder::chain(const std::vector<std::uint32_t>& clusters) {
    linkChain(clusters, 0x0FFFFFFF, [this](std::uint32_t c, std::uint32_t v) { setFat(c, v); });
}

void FatVolumeBuilder::put(std::uint64_t offset, const ByteVector& bytes) { putAt(image, offset, bytes); }

void FatVolumeBuilder::putSlots(std::uint64_t offset, const std::vector<ByteVector>& slots) {
    putSlotsAt(image, offset, slots);
}

ByteVector shortSlot(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
                     std::uint8_t first) {
    ByteVector s(32, 0);
    for (std::size_t i = 0; i < 11; ++i) s[i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    if (first) s[0] = first;
    s[11] = attributes;
    putLe(s, 14, 0x6C00, 2);  // 13:32
    putLe(s, 16, 0x50A5, 2);  // 2020-05-05
    putLe(s, 18, 0x5067, 2);  // 2020-03-07
    putLe(s, 20, cluster >> 16, 2);
    putLe(s, 22, 0x6C00, 2);
    putLe(s, 24, 0x50A5, 2);
    putLe(s, 26, cluster & 0xFFFF, 2);
    putLe(s, 28, size, 4);
    return s;
}

std::vector<ByteVector> longNameSlots(const std::string& name, std::uint8_t checksum, bool deleted) {
    static constexpr std::uint8_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::size_t count = (name.size() + 12) / 13;
    std::vector<ByteVector> slots;
    for (std::size_t k = count; k-- > 0;) {
        ByteVector s(32, 0);
        s[0] = deleted ? 0xE5 : static_cast<std::uint8_t>((k + 1) | (k + 1 == count ? 0x40 : 0));
        s[11] = 0x0F;
        s[13] = checksum;
        for (std::size_t j = 0; j < 13; ++j) {
            const std::size_t at = k * 13 + j;
            const std::uint16_t unit = at < name.size() ? static_cast<unsigned char>(name[at]) : at == name.size() ? 0 : 0xFFFF;
            putLe(s, kOffsets[j], unit, 2);
        }
        slots.push_back(s);
    }
    return slots;
}

std::vector<ByteVector> dotSlots(std::uint32_t self, std::uint32_t parent) {
    return {shortSlot(".", 0x10, self, 0), shortSlot("..", 0x10, parent, 0)};
}

ExfatVolumeBuilder::ExfatVolumeBuilder(std::uint32_t clusters) {
    image.assign((4 + clusters) * 512ULL, 0);
    image[0] = 0xEB;
    image[1] = 0x76;
    image[2] = 0x90;
    std::memcpy(&image[3], "EXFAT   ", 8);
    putLe(image, 72, 4 + clusters, 8);
    putLe(image, 80, 2, 4);  // FAT offset
    putLe(image, 84, 2, 4);  // FAT length
    putLe(image, 88, 4, 4);  // heap offset
    putLe(image, 92, clusters, 4);
    putLe(image, 96, 2, 4);  // root cluster
    image[108] = 9;
    image[109] = 0;
    image[510] = 0x55;
    image[511] = 0xAA;
    setFat(0, 0xFFFFFFF8);
    setFat(1, 0xFFFFFFFF);
    setFat(2, 0xFFFFFFFF);
}

void ExfatVolumeBuilder::setFat(std::uint32_t cluster, std::uint32_t value) { putLe(image, 1024 + cluster * 4ULL, value, 4); }

void ExfatVolumeBuilder::chain(const std::vector<std::uint32_t>& clusters) {
    linkChain(clusters, 0xFFFFFFFF, [this](std::uint32_t c, std::uint32_t v) { setFat(c, v); });
}

void ExfatVolumeBuilder::put(std::uint64_t offset, const ByteVector& bytes) { putAt(image, offset, bytes); }

void ExfatVolumeBuilder::putEntries(std::uint64_t offset, const std::vector<ByteVector>& entries) {
    putSlotsAt(image, offset, entries);
}

std::vector<ByteVector> exfatEntrySet(const ExfatSet& set) {
    const std::size_t names = (set.name.size() + 14) / 15;
    const std::uint8_t live = set.deleted ? 0x00 : 0x80;
    ByteVector file(32, 0), stream(32, 0);
    file[0] = 0x05 | live;
    file[1] = static_cast<std::uint8_t>(set.secondaryCount >= 0 ? set.secondaryCount : 1 + static_cast<int>(names));
    putLe(file, 4, set.attributes, 2);
    putLe(file, 8, set.modifyStamp, 4);
    putLe(file, 12, set.modifyStamp, 4);
    putLe(file, 16, set.modifyStamp, 4);
    file[22] = file[23] = file[24] = set.utcOffset;
    stream[0] = 0x40 | live;
    stream[1] = set.flags;
    stream[3] = static_cast<std::uint8_t>(set.name.size());
    putLe(stream, 8, set.length, 8);
    putLe(stream, 20, set.firstCluster, 4);
    putLe(stream, 24, set.length, 8);
    std::vector<ByteVector> out{file, stream};
    for (std::size_t k = 0; k < names; ++k) {
        ByteVector n(32, 0);
        n[0] = 0x41 | live;
        for (std::size_t j = 0; j < 15 && k * 15 + j < set.name.size(); ++j)
            putLe(n, 2 + 2 * j, static_cast<unsigned char>(set.name[k * 15 + j]), 2);
        out.push_back(n);
    }
    return out;
}

}  // namespace halvard::testing
