// HFS+ volumes: volume header, extents overflow and catalog B-tree nodes (walked, or scanned leaf by leaf).
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::ParseMode;
    halvard::fuzzing::exerciseVolume({{"HFS+", ParseMode::Standard}, {"HFS+", ParseMode::Deep}}, data, size);
    return 0;
}
