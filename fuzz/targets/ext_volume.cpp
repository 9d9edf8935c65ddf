// ext2/3 volumes: superblock, group descriptors, inodes, directory blocks, block maps and extents.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::ParseMode;
    halvard::fuzzing::exerciseVolume({{"extX", ParseMode::Standard}}, data, size);
    return 0;
}
