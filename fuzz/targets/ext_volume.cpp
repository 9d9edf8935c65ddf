// ext2/3 volumes: superblock, group descriptors, inodes, directory blocks, block maps and extents.
#include "harness.h"

namespace {
constexpr halvard::fuzzing::VolumeChoice kChoices[] = {{"extX", halvard::ParseMode::Standard}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseVolume(kChoices, data, size);
    return 0;
}
