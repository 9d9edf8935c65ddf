// exFAT volumes: boot sector, cluster heap, directory entry sets, file extraction.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::ParseMode;
    halvard::fuzzing::exerciseVolume({{"FAT64", ParseMode::Standard}}, data, size);
    return 0;
}
