// NTFS volumes: boot sector, MFT runs and records, attribute lists, links, file extraction (LZNT1 included), and
// the deep scan for MFT records.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::ParseMode;
    halvard::fuzzing::exerciseVolume({{"NTFS", ParseMode::Standard}, {"NTFS", ParseMode::Deep}}, data, size);
    return 0;
}
