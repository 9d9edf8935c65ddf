// VHD image files: headers, allocation tables and the sector mapping they give.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseImage(halvard::ImageKind::Vhd, data, size);
    return 0;
}
