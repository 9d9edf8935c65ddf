#pragma once
// The integrity check of a VHDX (`halvard info --check`): both headers and region tables against their checksums,
// the metadata items by GUID, the log, and the block table's entries against the file and each other. Each
// finding is one line; none means the image is sound.
#include <string>
#include <vector>

#include "image/vhdx_reader.h"

namespace halvard {

// `reader` is the image opened from `path`; the headers and region tables are read again from the file itself,
// as they lie on disk.
std::vector<std::string> checkVhdx(const std::string& path, const VhdxReader& reader);

}  // namespace halvard
