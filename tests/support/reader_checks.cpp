#include "support/reader_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "support/vhdx_builder.h"
#include "support/status_check.h"

namespace halvard::testing {

std::vector<std::uint8_t> readAt(const Device& reader, std::uint64_t offset, std::size_t length, bool* ok) {
    std::vector<std::uint8_t> data(length, 0xEE);
    const bool result = reader.readAt(offset, data.data(), length);
    if (ok) *ok = result;
    return data;
}

bool allZero(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size())), bytes.end(),
                       [](std::uint8_t b) { return b == 0; });
}

void expectWholeDisk(const DiskReader& reader, const std::vector<std::uint8_t>& expected, std::size_t pieceLength) {
    ASSERT_EQ(reader.totalSectors * 512, expected.size());
    for (std::uint64_t at = 0; at < expected.size();) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(pieceLength, expected.size() - at));
        bool ok = false;
        const auto got = readAt(reader, at, length, &ok);
        ASSERT_TRUE(ok) << "at " << at;
        ASSERT_EQ(0, std::memcmp(got.data(), expected.data() + at, length)) << "at " << at;
        at += length;
    }
}

void expectReadingLeavesImageAlone(DiskReader& reader, const std::string& path, std::size_t length) {
    ASSERT_EQ(0, ::chmod(path.c_str(), 0444));
    const auto before = readFile(path);
    struct stat st0 {};
    ::stat(path.c_str(), &st0);
    ASSERT_TRUE(reader.open(path));
    std::vector<std::uint8_t> data(length);
    reader.readAt(0, data.data(), data.size());
    struct stat st1 {};
    ::stat(path.c_str(), &st1);
    EXPECT_EQ(before, readFile(path));
    EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
    EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
}

void expectParentRefusedUnlessForced(DiskReader& reader, const std::string& path, ImageOverrides overrides) {
    reader.setOverrides(overrides);
    const Status refused = reader.open(path);
    EXPECT_NE(refused.message().find("--force-parent"), std::string::npos) << refused.message();
    overrides.forceParent = true;
    reader.setOverrides(overrides);
    EXPECT_TRUE(succeeded(reader.open(path)));
}

void expectAbsurdTableBounded(DiskReader& reader, const std::string& path, std::uint64_t fileSize,
                              std::size_t blockSize) {
    ASSERT_TRUE(succeeded(reader.open(path)));
    EXPECT_LE(reader.blockMap.size(), fileSize / 4);
    std::vector<std::uint8_t> data(2 * blockSize, 0xEE);
    EXPECT_FALSE(reader.readAt(0, data.data(), data.size()));
    EXPECT_EQ(data[7], patternByte(7));
    EXPECT_TRUE(allZero(data, blockSize));
}

void forEachDamagedCopy(const std::vector<std::uint8_t>& pristine, const Damage& damage, const std::string& path,
                        const std::function<void()>& tryImage) {
    std::uint32_t seed = damage.seed;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < damage.rounds; ++round) {
        auto f = pristine;
        for (int k = 0; k < damage.hits; ++k) {
            const std::size_t at = damage.hotSpots[next() % damage.hotSpots.size()] + next() % damage.spread;
            if (at < f.size()) f[at] = static_cast<std::uint8_t>(next());
        }
        if (round % 10 == 0) f.resize(next() % f.size());
        writeFile(path, f);
        tryImage();
    }
}

void readAtEach(const Device& reader, std::initializer_list<std::uint64_t> offsets, std::size_t length) {
    std::vector<std::uint8_t> data(length);
    for (const std::uint64_t at : offsets) reader.readAt(at, data.data(), data.size());
}

}  // namespace halvard::testing
