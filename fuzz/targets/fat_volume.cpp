// FAT12, FAT16 and FAT32 volumes: boot sectors, FAT chains, directory walks, long names, file extraction.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::ParseMode;
    halvard::fuzzing::exerciseVolume({{"FAT12", ParseMode::Standard},
                                      {"FAT16", ParseMode::Standard},
                                      {"FAT32", ParseMode::Standard}},
                                     data, size);
    return 0;
}
