#pragma once
// The parent of a differencing image, whatever its format: found, opened and checked the same way for every
// format. A chain is at most 64 images deep and never returns to an image already in it.
#include <memory>
#include <string>
#include <vector>

#include "image/read_write_interface.h"

namespace halvard {

inline constexpr std::size_t kMaxParentChain = 64;

// The path as the chain compares it (symbolic links and "." resolved), so a loop is seen whatever the names.
std::string canonicalImagePath(const std::string& path);

// A parent's name as the child stores it, relative to the child's folder unless it is absolute.
std::string pathBesideChild(const std::string& childPath, const std::string& name);

struct OpenedParent {
    std::unique_ptr<DiskReader> reader;  // null on failure
    std::string error;  // one line, naming the file, when reader is null
};

// Opens `path` as the parent of an image whose chain (that image first, then its children) is `chainBelow`,
// with the reader its signature calls for. `--parent` applies to the nearest parent only, so the parent opens
// its own parents by their names.
OpenedParent openParentImage(const std::string& path, const std::vector<std::string>& chainBelow,
                             const ImageOverrides& childOverrides);

// Why a differencing disk cannot be opened when none of the places its parent locators name holds a file
// (`noPath`: what to say when they name none).
std::string parentNotFoundText(const std::vector<std::string>& tried, const std::string& noPath);

}  // namespace halvard
