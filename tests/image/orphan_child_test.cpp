// A differencing image whose parent is missing: described from its own headers, the missing parent counted as
// damage, while reading the disk through it stays refused.
#include <gtest/gtest.h>

#include <functional>

#include "image/image_info.h"
#include "image/image_kind.h"
#include "support/qcow2_builder.h"
#include "support/vdi_builder.h"
#include "support/vhd_builder.h"
#include "support/vhdx_builder.h"
#include "support/vmdk_builder.h"

namespace halvard {
namespace {

using testing::TempDir;

struct Orphan {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string format;
    std::uint64_t size = 0;
    std::string named;   // the parent the child names
    std::string looked;  // a place it was looked for (relative to the test folder; empty: none is told)
};

std::vector<Orphan> orphans() {
    std::vector<Orphan> all;
    {
        testing::VhdSpec spec;
        spec.differencing = true;
        spec.allocatedBlocks = {1};
        spec.parentName = "gone.vhd";
        spec.parentRelativePath = "gone.vhd";
        all.push_back({"child.vhd", testing::buildVhd(spec), "VHD", spec.virtualSize, "gone.vhd", "gone.vhd"});
    }
    {
        testing::VdiSpec spec;
        spec.imageType = 4;
        spec.allocatedBlocks = {2};
        all.push_back({"child.vdi", testing::buildVdi(spec), "VDI", spec.virtualSize, "UUID ", ""});
    }
    {
        testing::VhdxSpec spec;
        spec.hasParent = true;
        spec.allocatedBlocks = {0};
        all.push_back({"child.vhdx", testing::buildVhdx(spec), "VHDX", spec.virtualSize, "", ""});
    }
    {
        testing::VmdkSpec spec;
        spec.parentCID = "aaaa0001";
        spec.parentFileNameHint = "gone.vmdk";
        spec.allocatedGrains = {3};
        all.push_back({"child.vmdk", testing::buildVmdk(spec), "VMDK", spec.capacity * 512, "gone.vmdk", "gone.vmdk"});
    }
    {
        testing::Qcow2Spec spec;
        spec.backingName = "gone.qcow2";
        testing::Qcow2Builder builder(spec);
        builder.addDataCluster(1);
        all.push_back({"child.qcow2", builder.bytes(), "QCOW2", spec.size, "gone.qcow2", "gone.qcow2"});
    }
    return all;
}

TEST(OrphanChild, IsDescribedFromItsOwnHeadersAndItsMissingParentIsDamage) {
    TempDir dir;
    for (const Orphan& orphan : orphans()) {
        SCOPED_TRACE(orphan.name);
        const std::string path = dir.file(orphan.name);
        testing::writeFile(path, orphan.bytes);

        // Reading the disk is refused as before, and so is a description that must read it (the image page).
        const OpenedImage opened = openImage(path);
        EXPECT_FALSE(opened.reader);
        EXPECT_NE(opened.error.find("--parent"), std::string::npos) << opened.error;
        EXPECT_FALSE(describeImage(path).ok);

        ImageOverrides describe;
        describe.openWithoutParent = true;
        const ImageInfo info = describeImage(path, describe);
        ASSERT_TRUE(info.ok) << info.error;
        EXPECT_EQ(info.format, orphan.format);
        EXPECT_EQ(info.virtualSize, orphan.size);
        EXPECT_TRUE(info.differencing);
        EXPECT_TRUE(info.parents.empty());
        ASSERT_TRUE(info.missingParent);
        EXPECT_NE(info.missingParent->named.find(orphan.named), std::string::npos) << info.missingParent->named;
        if (!orphan.looked.empty()) {
            ASSERT_FALSE(info.missingParent->lookedFor.empty());
            EXPECT_EQ(info.missingParent->lookedFor.front(), dir.file(orphan.looked));
        }
        ASSERT_FALSE(info.damage.empty());
        EXPECT_EQ(info.damage.back(), info.missingParent->text);
        EXPECT_NE(info.damage.back().find("not found"), std::string::npos) << info.damage.back();
        EXPECT_GE(info.allocatedBlocks, 1u);

        // The refusal to read says the same.
        EXPECT_EQ(opened.error.find(info.missingParent->text), opened.error.size() - info.missingParent->text.size());
    }
}

}  // namespace
}  // namespace halvard
