#pragma once
// Drives every reading call of a parsed view: for hostile-input tests that only ask "no crash, no hang".
#include <cstdint>
#include <string>

#include "browser/volume_view.h"

namespace halvard::testing {

// Walks the whole tree (each folder once), asks every entry's details and saves every file of at most
// `saveLimit` bytes into `folder`. Returns the number of entries visited.
std::size_t exerciseView(VolumeView& view, const std::string& folder, std::uint64_t saveLimit = ~0ULL);

}  // namespace halvard::testing
