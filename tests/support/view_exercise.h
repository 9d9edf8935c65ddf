#pragma once
// Drives the reading calls of a parsed view: every one of them for hostile-input tests that only ask "no crash, no
// hang", a listing by path, and one file's saved content.
#include <cstdint>
#include <map>
#include <string>

#include "browser/volume_view.h"

namespace halvard::testing {

// Walks the whole tree (each folder once), asks every entry's details and saves every file of at most
// `saveLimit` bytes into `folder`. Returns the number of entries visited.
std::size_t exerciseView(VolumeView& view, const std::string& folder, std::uint64_t saveLimit = ~0ULL);

// Every entry by its "/"-joined path; deleted ones with " (deleted)" after it when `markDeleted`.
std::map<std::string, EntryId> listByPath(const VolumeView& view, bool markDeleted = false);

// The content the view saves for the entry at `path`, written to `hostPath` first; "<missing>" or
// "<not written>" when it cannot.
std::string savedContent(VolumeView& view, const std::string& path, const std::string& hostPath);

}  // namespace halvard::testing
