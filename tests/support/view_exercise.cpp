#include "support/view_exercise.h"

#include <set>
#include <vector>

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

}  // namespace halvard::testing
