#include "image/parent_image.h"

#include <algorithm>
#include <filesystem>

#include "image/image_kind.h"

namespace halvard {

std::string canonicalImagePath(const std::string& path) {
    std::error_code error;
    const auto p = std::filesystem::weakly_canonical(path, error);
    return error ? path : p.string();
}

std::string pathBesideChild(const std::string& childPath, const std::string& name) {
    const std::filesystem::path parent(name);
    if (parent.is_absolute()) return name;
    return (std::filesystem::path(childPath).parent_path() / parent).lexically_normal().string();
}

OpenedParent openParentImage(const std::string& path, const std::vector<std::string>& chainBelow,
                             const ImageOverrides& childOverrides) {
    OpenedParent result;
    if (chainBelow.size() >= kMaxParentChain) {
        result.error = "the chain of parent images is longer than " + std::to_string(kMaxParentChain);
        return result;
    }
    if (std::find(chainBelow.begin(), chainBelow.end(), canonicalImagePath(path)) != chainBelow.end()) {
        result.error = "the parent images form a loop at " + path;
        return result;
    }
    ImageOverrides overrides;
    overrides.replayLog = childOverrides.replayLog;
    overrides.forceParent = childOverrides.forceParent;
    OpenedImage opened = openImage(path, overrides, nullptr, chainBelow);
    if (!opened.reader) {
        result.error = "the parent image " + opened.error;
        return result;
    }
    result.reader = std::move(opened.reader);
    return result;
}

std::string parentNotFoundText(const std::vector<std::string>& tried, const std::string& noPath) {
    std::string list;
    for (const std::string& candidate : tried) list += (list.empty() ? "" : ", ") + candidate;
    return "the parent image of this differencing disk was not found" +
           (list.empty() ? " (" + noPath + ")" : " (looked for " + list + ")") + "; name it with --parent";
}

}  // namespace halvard
