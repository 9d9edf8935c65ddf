#pragma once
// A differencing VHD names its parent in up to eight parent locator entries of its dynamic header (platform codes
// "W2ru": a relative path, "W2ku": an absolute one, both UTF-16LE in the file) and by its Unicode name in the
// header itself. This lists where to look for the parent on this machine.
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/vhd_format.h"

namespace halvard::vhd {

inline constexpr std::uint32_t kPlatformRelative = 0x57327275;  // "W2ru"
inline constexpr std::uint32_t kPlatformAbsolute = 0x57326B75;  // "W2ku"

// The places to look, in order: the relative paths (from the child's folder), the absolute paths (with "\" as "/"
// and drive letters dropped), then the parent's name beside the child. Duplicates are dropped.
std::vector<std::string> parentCandidates(const ImageFile& file, const DynamicHeader& header,
                                          const std::string& childPath);

}  // namespace halvard::vhd
