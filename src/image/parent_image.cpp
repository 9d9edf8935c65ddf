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

namespace {

constexpr const char* kChainTooLongText = "the chain of parent images is longer than ";

// The chain named in one line: its first and last images, and how many lie between.
std::string chainTooLongText(const std::vector<std::string>& chainBelow, const std::string& path) {
    std::vector<std::string> chain(chainBelow.rbegin(), chainBelow.rend());  // the child first
    chain.push_back(path);
    constexpr std::size_t kShown = 3;
    std::string names;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (i == kShown && chain.size() > 2 * kShown) {
            names += ", ... (" + std::to_string(chain.size() - 2 * kShown) + " more)";
            i = chain.size() - kShown;
        }
        names += (names.empty() ? "" : ", ") + chain[i];
    }
    return kChainTooLongText + std::to_string(kMaxParentChain) + " (" + std::to_string(chain.size()) +
           " images: " + names + ")";
}

}  // namespace

OpenedParent openParentImage(const std::string& path, const std::vector<std::string>& chainBelow,
                             const ImageOverrides& childOverrides) {
    OpenedParent result;
    if (chainBelow.size() >= kMaxParentChain) {
        result.error = chainTooLongText(chainBelow, path);
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
        // A chain too long is told once, naming its ends, not once per image on the way down.
        const std::size_t tooLong = opened.error.find(kChainTooLongText);
        result.error = tooLong != std::string::npos ? opened.error.substr(tooLong) : "the parent image " + opened.error;
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
