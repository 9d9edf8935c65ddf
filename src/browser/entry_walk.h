#pragma once
// Entries by path and walks over them, for the command line's ls, save and search.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "browser/volume_view.h"

namespace halvard {

// The entry at a "/"-joined path from the volume root ("" and "/" name the root, kVolumeRoot). Where a folder
// holds several entries of one name (a deleted one beside a live one), the live one is taken. nullopt when no
// entry has that path.
std::optional<EntryId> findEntry(const VolumeView& view, std::string_view path);

// Calls `visit(path, entry)` for each child of `folder`, depth first when `recursive`, in the engine's order.
// `visit` returns false to end the walk. Folders linked into a cycle on a damaged volume are walked once.
void visitEntries(const VolumeView& view, EntryId folder, const std::string& folderPath, bool recursive,
                  const std::function<bool(const std::string& path, EntryId entry)>& visit);

// "/"-joined path of a child.
std::string childPath(const std::string& folderPath, const std::string& name);

}  // namespace halvard
