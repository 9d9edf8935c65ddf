#pragma once
// What an image stores at a place of the virtual disk: a stretch either stored (it may hold data) or not stored
// (it reads as zeros without taking room in any file). A stored stretch may be one the image cannot read (past its
// tables or its file's end): it holds nothing to find, and scans pass over it in one step.
#include <cstdint>

namespace halvard {

struct StoredRun {
    bool stored = true;
    std::uint64_t length = 0;  // bytes from the place asked about on which the answer holds
    bool unreadable = false;   // stored, but no byte of it can be read
};

}  // namespace halvard
