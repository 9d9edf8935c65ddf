#pragma once
// What an image stores at a place of the virtual disk: a stretch either stored (it may hold data) or not stored
// (it reads as zeros without taking room in any file).
#include <cstdint>

namespace halvard {

struct StoredRun {
    bool stored = true;
    std::uint64_t length = 0;  // bytes from the place asked about on which the answer holds
};

}  // namespace halvard
