#include "image/vhdx_parent.h"

#include <algorithm>
#include <filesystem>

#include "common/utf16.h"

namespace halvard::vhdx {

ParentLocator parseParentLocator(Bytes item) {
    ParentLocator locator;
    if (item.size() < 20) return locator;
    locator.type = Guid::fromBytes(item, 0);
    const std::uint16_t count = le16(item, 18);
    locator.ok = true;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = 20 + 12 * i;
        if (!fits(item, at, 12)) {
            locator.ok = false;
            break;
        }
        const std::uint32_t keyOffset = le32(item, at), valueOffset = le32(item, at + 4);
        const std::uint16_t keyLength = le16(item, at + 8), valueLength = le16(item, at + 10);
        if (!fits(item, keyOffset, keyLength) || !fits(item, valueOffset, valueLength) || keyLength % 2 ||
            valueLength % 2) {
            locator.ok = false;
            continue;
        }
        locator.entries[utf16leToUtf8(item, keyOffset, keyLength / 2)] =
            utf16leToUtf8(item, valueOffset, valueLength / 2);
    }
    return locator;
}

Guid linkageGuid(const std::string& text) {
    std::string inner = text;
    if (inner.size() >= 2 && inner.front() == '{' && inner.back() == '}') inner = inner.substr(1, inner.size() - 2);
    return Guid::fromText(inner);
}

namespace {

std::string slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// "\\?\Volume{...}\dir\x.vhdx" or "C:\dir\x.vhdx" as a path from this machine's root.
std::string withoutWindowsRoot(std::string path) {
    path = slashes(path);
    if (path.rfind("//?/", 0) == 0 || path.rfind("//./", 0) == 0) path = path.substr(4);
    if (path.rfind("Volume{", 0) == 0) {
        const auto close = path.find('}');
        path = close == std::string::npos ? std::string() : path.substr(close + 1);
    } else if (path.size() >= 2 && path[1] == ':') {
        path = path.substr(2);
    }
    return path;
}

}  // namespace

std::vector<std::string> parentCandidates(const ParentLocator& locator, const std::string& childPath) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(childPath).parent_path();
    std::vector<std::string> out;
    auto add = [&](const fs::path& p) {
        if (p.empty()) return;
        const std::string text = p.lexically_normal().string();
        if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
    };
    auto value = [&](const char* key) {
        const auto it = locator.entries.find(key);
        return it == locator.entries.end() ? std::string() : it->second;
    };
    std::vector<std::string> names;
    if (const std::string relative = value("relative_path"); !relative.empty()) {
        add(folder / slashes(relative));
        names.push_back(fs::path(slashes(relative)).filename().string());
    }
    for (const char* key : {"volume_path", "absolute_win32_path"}) {
        const std::string path = value(key);
        if (path.empty()) continue;
        add(fs::path(withoutWindowsRoot(path)));
        names.push_back(fs::path(slashes(path)).filename().string());
    }
    for (const std::string& name : names)
        if (!name.empty()) add(folder / name);
    return out;
}

}  // namespace halvard::vhdx
