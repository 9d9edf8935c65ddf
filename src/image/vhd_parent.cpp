#include "image/vhd_parent.h"

#include <algorithm>
#include <filesystem>

#include "common/utf16.h"
#include "image/parent_image.h"

namespace halvard::vhd {

namespace {

constexpr std::uint32_t kMaxLocatorBytes = 64 * 1024;  // a path of 32767 UTF-16 units and more

// "\\?\C:\VMs\base.vhd", ".\base.vhd" or "C:\VMs\base.vhd" as a path of this machine.
std::string hostPath(std::string path, bool absolute) {
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.rfind("//?/", 0) == 0) path.erase(0, 4);
    if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
    if (!absolute && path.rfind("./", 0) == 0) path.erase(0, 2);
    return path;
}

}  // namespace

std::vector<std::string> parentCandidates(const ImageFile& file, const DynamicHeader& header,
                                          const std::string& childPath) {
    std::vector<std::string> candidates;
    auto add = [&candidates](const std::string& path) {
        if (!path.empty() && std::find(candidates.begin(), candidates.end(), path) == candidates.end())
            candidates.push_back(path);
    };
    for (const std::uint32_t platform : {kPlatformRelative, kPlatformAbsolute}) {
        for (const ParentLocator& locator : header.locators) {
            if (locator.platformCode != platform || locator.dataLength == 0) continue;
            const std::uint32_t length = std::min(locator.dataLength, kMaxLocatorBytes);
            const auto bytes = file.readVector(locator.dataOffset, length);
            const std::string path = hostPath(utf16leToUtf8(bytes, 0, bytes.size() / 2, true), platform == kPlatformAbsolute);
            if (path.empty()) continue;
            add(platform == kPlatformRelative ? pathBesideChild(childPath, path) : path);
            if (platform == kPlatformAbsolute)  // moved together with the child
                add(pathBesideChild(childPath, std::filesystem::path(path).filename().string()));
        }
    }
    if (!header.parentName.empty())
        add(pathBesideChild(childPath, std::filesystem::path(hostPath(header.parentName, false)).filename().string()));
    return candidates;
}

}  // namespace halvard::vhd
