// One device read from two threads at once gives the bytes one thread gets: the readers keep caches (decoded
// clusters and grains, table pieces, sector bitmaps) that reads on another thread must not see half filled.
#include <gtest/gtest.h>

#include <thread>

#include "image/device_slice.h"
#include "image/qcow2_reader.h"
#include "image/vhdx_reader.h"
#include "image/vmdk_reader.h"
#include "support/qcow2_builder.h"
#include "support/status_check.h"
#include "support/vhdx_builder.h"
#include "support/vmdk_builder.h"

namespace halvard {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// The whole device as one thread reads it.
std::vector<std::uint8_t> wholeDevice(const Device& device) {
    std::vector<std::uint8_t> bytes(device.size());
    EXPECT_TRUE(device.readAt(0, bytes.data(), bytes.size()));
    return bytes;
}

// Reads of `device` at offsets and lengths drawn from `seed` that differ from the `expected` bytes.
std::uint64_t wrongReads(const Device& device, const std::vector<std::uint8_t>& expected, std::uint32_t seed) {
    std::uint64_t wrong = 0;
    std::vector<std::uint8_t> buffer;
    for (int round = 0; round < 3000; ++round) {
        seed = seed * 1664525u + 1013904223u;
        const std::uint64_t offset = (seed >> 4) % expected.size();
        seed = seed * 1664525u + 1013904223u;
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(1 + (seed >> 8) % 70000, expected.size() - offset));
        buffer.assign(length, 0xEE);
        device.readAt(offset, buffer.data(), length);
        if (!std::equal(buffer.begin(), buffer.end(), expected.begin() + static_cast<std::ptrdiff_t>(offset))) ++wrong;
    }
    return wrong;
}

void expectTwoThreadsReadAsOne(const Device& device) {
    const std::vector<std::uint8_t> expected = wholeDevice(device);
    std::uint64_t wrongA = 0, wrongB = 0;
    std::thread a([&] { wrongA = wrongReads(device, expected, 1); });
    std::thread b([&] { wrongB = wrongReads(device, expected, 2); });
    a.join();
    b.join();
    EXPECT_EQ(wrongA, 0u) << device.description();
    EXPECT_EQ(wrongB, 0u) << device.description();
}

class DeviceThreadsTest : public ::testing::Test {
protected:
    std::string write(const std::vector<std::uint8_t>& bytes, const std::string& name) {
        const std::string path = dir.file(name);
        testing::writeFile(path, bytes);
        return path;
    }
    testing::TempDir dir;
};

TEST_F(DeviceThreadsTest, AQcow2ChainWithCompressedClustersAndASliceOfIt) {
    testing::Qcow2Builder base({});  // each image's table before its compressed clusters, which leave the file unaligned
    base.addDataCluster(255);
    for (std::uint64_t c = 0; c < 255; c += 3) base.addCompressedCluster(c);
    write(base.bytes(), "base.qcow2");
    testing::Qcow2Spec childSpec;
    childSpec.backingName = "base.qcow2";
    testing::Qcow2Builder child(childSpec);
    for (std::uint64_t c = 2; c < 256; c += 8) child.addDataCluster(c);
    for (std::uint64_t c = 1; c < 256; c += 4) child.addCompressedCluster(c);
    auto reader = std::make_shared<Qcow2Reader>();
    ASSERT_TRUE(succeeded(reader->open(write(child.bytes(), "child.qcow2"))));
    ASSERT_EQ(reader->parentChain().size(), 1u);
    ASSERT_TRUE(reader->countClusters().damage.empty());
    expectTwoThreadsReadAsOne(*reader);
    expectTwoThreadsReadAsOne(DeviceSlice(reader, kMiB + 512, 2 * kMiB, "volume 0"));
}

TEST_F(DeviceThreadsTest, AVhdxWithAParent) {
    testing::VhdxSpec base;
    base.allocatedBlocks = {0, 1, 3, 5, 6};
    const std::string basePath = write(testing::buildVhdx(base), "base.vhdx");
    testing::VhdxSpec childSpec;
    childSpec.hasParent = true;
    childSpec.allocatedBlocks = {1, 2, 6};
    ImageOverrides overrides;
    overrides.parentPath = basePath;
    overrides.forceParent = true;  // the built child carries no parent linkage
    VhdxReader reader;
    reader.setOverrides(overrides);
    ASSERT_TRUE(succeeded(reader.open(write(testing::buildVhdx(childSpec), "child.avhdx"))));
    ASSERT_EQ(reader.parentChain().size(), 1u);
    expectTwoThreadsReadAsOne(reader);
}

TEST_F(DeviceThreadsTest, AStreamOptimizedVmdk) {
    testing::VmdkSpec spec;
    spec.version = 3;
    spec.createType = "streamOptimized";
    spec.compressed = true;
    for (std::uint64_t g = 0; g < 128; g += 2) spec.allocatedGrains.insert(g);
    VmdkReader reader;
    ASSERT_TRUE(succeeded(reader.open(write(testing::buildVmdk(spec), "disk.vmdk"))));
    expectTwoThreadsReadAsOne(reader);
}

}  // namespace
}  // namespace halvard
