#include "browser/recycle_bin.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <utility>

#include "common/utf16.h"

namespace halvard {

std::optional<std::string> formerNameFromInfoFile(const std::vector<std::uint8_t>& content) {
    if (content.size() < 26 || content.size() > kMaxInfoFileSize) return std::nullopt;
    const bool version2 = content[0] == 2 && content.size() >= 30;
    const std::size_t at = version2 ? 28 : 24;
    const std::string path = utf16leToUtf8(Bytes(content), at, (content.size() - at) / 2, true);
    const std::size_t slash = path.rfind('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    return name;
}

namespace {

std::optional<std::string> readInfoFile(VolumeView& view, EntryId file, const std::string& scratchFolder) {
    const std::string path = scratchFolder + "/halvard-recycle-" + std::to_string(::getpid()) + "-" +
                             std::to_string(file);
    const FileSaveResult saved = view.saveFile(file, path);
    std::vector<std::uint8_t> content;
    if (saved.written && saved.bytes <= kMaxInfoFileSize) {
        std::ifstream in(path, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(path.c_str());
    return formerNameFromInfoFile(content);
}

std::size_t renameInUserFolder(VolumeView& view, EntryId folder, const std::string& scratchFolder) {
    std::vector<std::pair<std::string, std::string>> pairs;  // "$I" file name, former name
    const std::vector<EntryId> files = view.children(folder);
    for (EntryId file : files) {
        const std::string name = view.name(file);
        if (view.isFolder(file) || name.rfind("$I", 0) != 0) continue;
        if (auto former = readInfoFile(view, file, scratchFolder)) pairs.emplace_back(name, *former);
    }
    std::size_t renamed = 0;
    for (const auto& [infoName, former] : pairs) {
        const std::string recycledName = "$R" + infoName.substr(2);
        for (EntryId file : files) {
            if (view.name(file) != recycledName) continue;
            view.renameEntry(file, former);
            ++renamed;
        }
    }
    return renamed;
}

}  // namespace

std::size_t renameRecycledFiles(VolumeView& view, const std::string& scratchFolder) {
    std::size_t renamed = 0;
    for (EntryId top : view.topLevel()) {
        const std::string name = view.name(top);
        if (!view.isFolder(top) || (name != "$RECYCLE.BIN" && name != "$RECYCLEBIN")) continue;
        for (EntryId user : view.children(top))
            if (view.isFolder(user)) renamed += renameInUserFolder(view, user, scratchFolder);
    }
    return renamed;
}

}  // namespace halvard
