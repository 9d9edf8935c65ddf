// NTFS volumes: boot sector, MFT runs and records, attribute lists, links, file extraction (LZNT1 included), and
// the deep scan for MFT records.
#include "harness.h"

namespace {
constexpr halvard::fuzzing::VolumeChoice kChoices[] = {{"NTFS", halvard::ParseMode::Standard},
                                                        {"NTFS", halvard::ParseMode::Deep}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseVolume(kChoices, data, size);
    return 0;
}
