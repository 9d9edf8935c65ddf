// exFAT volumes: boot sector, cluster heap, directory entry sets, file extraction.
#include "harness.h"

namespace {
constexpr halvard::fuzzing::VolumeChoice kChoices[] = {{"FAT64", halvard::ParseMode::Standard}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseVolume(kChoices, data, size);
    return 0;
}
