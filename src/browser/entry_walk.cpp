#include "browser/entry_walk.h"

#include <set>
#include <vector>

namespace halvard {

std::vector<EntryId> childrenOf(const VolumeView& view, EntryId folder) {
    return folder == kVolumeRoot ? view.topLevel() : view.children(folder);
}

bool isFolderEntry(const VolumeView& view, EntryId entry) { return entry == kVolumeRoot || view.isFolder(entry); }

std::string childPath(const std::string& folderPath, const std::string& name) {
    if (folderPath.empty() || folderPath == "/") return "/" + name;
    return folderPath + "/" + name;
}

std::optional<EntryId> findEntry(const VolumeView& view, std::string_view path) {
    EntryId current = kVolumeRoot;
    std::size_t at = 0;
    while (at < path.size()) {
        while (at < path.size() && path[at] == '/') ++at;
        if (at >= path.size()) break;
        const std::size_t end = path.find('/', at);
        const std::string_view part = path.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? path.size() : end;
        if (!isFolderEntry(view, current)) return std::nullopt;
        std::optional<EntryId> found;
        for (EntryId child : childrenOf(view, current)) {
            if (view.name(child) != part) continue;
            if (!found || (view.isDeleted(*found) && !view.isDeleted(child))) found = child;
            if (!view.isDeleted(child)) break;
        }
        if (!found) return std::nullopt;
        current = *found;
    }
    return current;
}

namespace {

bool visitBelow(const VolumeView& view, EntryId folder, const std::string& folderPath, bool recursive,
                const std::function<bool(const std::string&, EntryId)>& visit, std::set<EntryId>& walked) {
    for (EntryId child : childrenOf(view, folder)) {
        const std::string path = childPath(folderPath, view.name(child));
        if (!visit(path, child)) return false;
        if (recursive && view.isFolder(child) && walked.insert(child).second)
            if (!visitBelow(view, child, path, recursive, visit, walked)) return false;
    }
    return true;
}

}  // namespace

void visitEntries(const VolumeView& view, EntryId folder, const std::string& folderPath, bool recursive,
                  const std::function<bool(const std::string& path, EntryId entry)>& visit) {
    std::set<EntryId> walked{folder};
    visitBelow(view, folder, folderPath, recursive, visit, walked);
}

}  // namespace halvard
