// qcow2 image files: the header and its extensions, the snapshot table, L1 and L2 tables (standard and extended),
// compressed clusters, and the sector mapping they give.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvard::fuzzing::exerciseImage(halvard::ImageKind::Qcow2, data, size);
    return 0;
}
