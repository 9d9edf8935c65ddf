#pragma once
// A differencing VHDX names its parent in the parent locator metadata item: key-value pairs in UTF-16 (the
// parent's data-write GUID as "parent_linkage", its paths as "relative_path", "volume_path",
// "absolute_win32_path"). This finds the parent file on this machine.
#include <map>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "image/guid.h"

namespace halvard::vhdx {

struct ParentLocator {
    bool ok = false;  // the item's header and every entry lay inside it
    Guid type;
    std::map<std::string, std::string> entries;
};
ParentLocator parseParentLocator(Bytes item);

// "{2DC27766-F623-...}" as the locator writes a GUID; the zero GUID when the text is none.
Guid linkageGuid(const std::string& text);

// The places to look for the parent, in order: the relative path (from the child's folder), the volume path and
// the absolute path (with "\" as "/", drive and volume prefixes dropped), then the parent's file name in the
// child's folder (images are often moved together). Duplicates are dropped.
std::vector<std::string> parentCandidates(const ParentLocator& locator, const std::string& childPath);

}  // namespace halvard::vhdx
