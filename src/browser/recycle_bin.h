#pragma once
// Recycled files carry made-up names ("$RABC123.txt"); the "$I" file beside each ("$IABC123.txt") holds the path
// the file had before it was deleted. This pass gives the recycled files their former names again.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browser/volume_view.h"

namespace halvard {

// "$I" files larger than this are not recycle-bin information files.
inline constexpr std::size_t kMaxInfoFileSize = 2047;

// The former name (the part after the last backslash of the former path) from an "$I" file's content. Both
// layouts are read: version 1 keeps the path at byte 24, version 2 its length at 24 and the path at 28.
std::optional<std::string> formerNameFromInfoFile(const std::vector<std::uint8_t>& content);

// Renames the recycled files in every per-user folder of a top-level "$RECYCLE.BIN" or "$RECYCLEBIN" folder.
// The "$I" files are written to `scratchFolder` to be read, and deleted again. Returns the number of renames.
std::size_t renameRecycledFiles(VolumeView& view, const std::string& scratchFolder);

}  // namespace halvard
