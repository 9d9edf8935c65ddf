// HFS+ volumes: volume header, extents overflow and catalog B-tree nodes (walked, or scanned leaf by leaf).
#include "harness.h"

namespace {
constexpr halvard::fuzzing::VolumeChoice kChoices[] = {{"HFS+", halvard::ParseMode::Standard},
                                                        {"HFS+", halvard::ParseMode::Deep}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseVolume(kChoices, data, size);
    return 0;
}
