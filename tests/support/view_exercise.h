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
// "<not written>" when it cannot, "<read differs: ...>" when reading its content gives other bytes.
std::string savedContent(VolumeView& view, const std::string& path, const std::string& hostPath);

// Reads the entry's content through openContent in pieces of odd sizes, in order and at scattered offsets, and
// compares it with the file the save wrote at `savedPath` (a link: with the link's target), and its damage with
// the save's `savedDamaged`. Returns what differs, empty when nothing does.
std::string contentMismatch(VolumeView& view, EntryId entry, const std::string& savedPath, bool savedDamaged);

}  // namespace halvard::testing
