// FAT12, FAT16 and FAT32 volumes: boot sectors, FAT chains, directory walks, long names, file extraction.
#include "harness.h"

namespace {
constexpr halvard::fuzzing::VolumeChoice kChoices[] = {{"FAT12", halvard::ParseMode::Standard},
                                                        {"FAT16", halvard::ParseMode::Standard},
                                                        {"FAT32", halvard::ParseMode::Standard}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseVolume(kChoices, data, size);
    return 0;
}
