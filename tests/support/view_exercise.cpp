#include "support/view_exercise.h"

#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "browser/entry_walk.h"
#include "common/host_files.h"

namespace halvard::testing {

std::size_t exerciseView(VolumeView& view, const std::string& folder, std::uint64_t saveLimit) {
    std::size_t visited = 0;
    std::set<EntryId> walked;
    std::vector<EntryId> pending = view.topLevel();
    while (!pending.empty() && visited < 100000) {
        const EntryId entry = pending.back();
        pending.pop_back();
        ++visited;
        const EntryDetails details = view.details(entry);
        view.hasChildren(entry);
        if (view.isFolder(entry)) {
            if (walked.insert(entry).second)
                for (EntryId child : view.children(entry)) pending.push_back(child);
        } else if (details.size <= saveLimit) {
            view.saveFile(entry, hostPathFor(folder, "saved"));
        }
    }
    return visited;
}

std::map<std::string, EntryId> listByPath(const VolumeView& view, bool markDeleted) {
    std::map<std::string, EntryId> out;
    visitEntries(view, kVolumeRoot, "", true, [&](const std::string& path, EntryId id) {
        out.emplace(path + (markDeleted && view.isDeleted(id) ? " (deleted)" : ""), id);
        return true;
    });
    return out;
}

std::string savedContent(VolumeView& view, const std::string& path, const std::string& hostPath) {
    const auto id = findEntry(view, path);
    if (!id) return "<missing>";
    if (!view.saveFile(*id, hostPath).written) return "<not written>";
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace halvard::testing
