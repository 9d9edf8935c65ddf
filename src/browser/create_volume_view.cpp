// The one place that picks an engine for a volume's file-system text.
#include <algorithm>
#include <cctype>

#include "browser/fat_view.h"
#include "browser/ext_view.h"
#include "browser/hfs_view.h"
#include "browser/ntfs_view.h"
#include "browser/volume_view.h"

namespace halvard {

std::unique_ptr<VolumeView> createVolumeView(const VolumeRecord& volume) {
    std::string type = volume.fileSystem;
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    if (type == "ntfs") return makeNtfsView(volume);
    if (auto fat = makeFatView(volume, type)) return fat;
    if (type == "extx") return makeExtView(volume);
    if (type == "hfs+") return makeHfsView(volume);
    return nullptr;
}

}  // namespace halvard
