#include "support/reader_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "support/vhdx_builder.h"

namespace halvard::testing {

std::vector<std::uint8_t> readAt(DiskReader& reader, std::int64_t offset, std::size_t length, bool* ok) {
    std::vector<std::uint8_t> data(length, 0xEE);
    reader.seek(offset);
    const bool result = reader.read(data.data(), length);
    if (ok) *ok = result;
    return data;
}

void expectWholeDisk(DiskReader& reader, const std::vector<std::uint8_t>& expected, std::size_t pieceLength) {
    ASSERT_EQ(reader.totalSectors * 512, expected.size());
    for (std::uint64_t at = 0; at < expected.size();) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(pieceLength, expected.size() - at));
        bool ok = false;
        const auto got = readAt(reader, static_cast<std::int64_t>(at), length, &ok);
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
    reader.seek(0);
    reader.read(data.data(), data.size());
    struct stat st1 {};
    ::stat(path.c_str(), &st1);
    EXPECT_EQ(before, readFile(path));
    EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
    EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
}

}  // namespace halvard::testing
