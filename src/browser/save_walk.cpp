#include "browser/save_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "common/host_files.h"
#include "common/texts.h"

namespace halvard {

namespace {

class Walker {
public:
    Walker(VolumeView& view, const SaveReporting& reporting, const StopPoll& stop)
        : view_(view), reporting_(reporting), stop_(stop) {}

    void walk(EntryId folder, const std::string& target) {
        // A damaged volume can link a folder below itself; each folder is walked once on the way down.
        if (std::find(ancestors_.begin(), ancestors_.end(), folder) != ancestors_.end()) return;
        ancestors_.push_back(folder);
        walkChildren(folder, target);
        ancestors_.pop_back();
    }

    void walkChildren(EntryId folder, const std::string& target) {
        for (EntryId child : childrenOf(view_, folder)) {
            if (summary.stopped || summary.diskFull) return;
            if (stop_.stopNow()) {
                summary.stopped = true;
                return;
            }
            reporting_.reporting.setPosition(static_cast<std::uint32_t>(filesDone_));
            if (view_.isFolder(child)) {
                if (!view_.descendWhenSaving(child)) continue;
                const std::string name = view_.name(child);
                std::string below = target;
                if (!name.empty()) {
                    below = makeFolder(hostPathFor(target, name));
                    if (below.empty()) continue;
                    noteRename(name, below);
                }
                walk(child, below);
                // Last, as writing its contents changes a folder's times.
                if (!name.empty()) keepFolderTimes(child, below);
            } else {
                saveFile(child, target);
            }
        }
    }

    void saveFile(EntryId file, const std::string& folder) {
        ++filesDone_;
        const std::string name = view_.name(file);
        if (view_.skipWhenSaving(file)) {
            ++summary.skipped;
            if (std::string note = view_.skipNote(file); !note.empty())
                summary.skipNotes.push_back(hostPathFor(folder, name) + ": " + note);
            return;
        }
        const std::string path = uniqueHostPath(hostPathFor(folder, name));
        reporting_.reporting.setStatus("saving File  " + path);
        if (reporting_.fileSizeLine) reporting_.fileSizeLine->setStatus("File size: " + view_.savingSizeText(file));
        const FileSaveResult result = view_.saveFile(file, path);
        if (reporting_.fileSizeLine) reporting_.fileSizeLine->setStatus("");
        if (!result.written && result.unrecoverable) {
            summary.unrecoverable.push_back(path + ": " + result.error);
            return;
        }
        if (!result.written) {
            summary.failures.push_back(path + ": " + (result.error.empty() ? "not written" : result.error));
            summary.diskFull = summary.diskFull || result.diskFull;
            return;
        }
        ++summary.files;
        noteRename(name, path);
        summary.bytes += result.bytes;
        if (result.damaged) ++summary.damaged;
        if (result.uninitializedZeros) ++summary.uninitialized;
        summary.diskFull = summary.diskFull || result.diskFull;
        if (reporting_.fileWritten) reporting_.fileWritten(path);
    }

    SaveSummary summary;

private:
    // Creates the folder, or takes the existing one (folders of one name are merged). Where a file of that name
    // is in the way, the folder gets a numbered name. Returns the folder's path, empty when it cannot be made.
    std::string makeFolder(const std::string& path) {
        for (unsigned n = 0; n < 1000; ++n) {
            const std::string candidate = n == 0 ? path : numberedHostPath(path, n, false);
            if (::mkdir(candidate.c_str(), 0755) == 0) {
                ++summary.folders;
                return candidate;
            }
            const int error = errno;
            struct stat st {};
            if (error == EEXIST && ::lstat(candidate.c_str(), &st) == 0) {
                if (S_ISDIR(st.st_mode)) return candidate;
                continue;
            }
            summary.failures.push_back(candidate + ": " + std::strerror(error));
            if (error == ENOSPC || error == EDQUOT) summary.diskFull = true;
            return {};
        }
        return {};
    }

    // The folder gets the times its entry lists, as the saved files do.
    void keepFolderTimes(EntryId folder, const std::string& path) {
        const EntryDetails d = view_.details(folder);
        const auto modified = d.modified ? localUnixSeconds(*d.modified) : std::nullopt;
        if (!modified) return;
        const auto accessed = d.accessed ? localUnixSeconds(*d.accessed) : std::nullopt;
        setHostFileTimes(path, accessed.value_or(*modified), 0, *modified, 0);
    }

    void noteRename(const std::string& name, const std::string& path) {
        const std::size_t slash = path.rfind('/');
        if (path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, name) == 0) return;
        summary.renamed.push_back(printableName(name) + " -> " + path);
    }

    VolumeView& view_;
    const SaveReporting& reporting_;
    const StopPoll& stop_;
    std::uint64_t filesDone_ = 0;
    std::vector<EntryId> ancestors_;
};

std::uint64_t countBelow(const VolumeView& view, EntryId folder, const StopPoll& stop,
                         std::vector<EntryId>& ancestors) {
    if (std::find(ancestors.begin(), ancestors.end(), folder) != ancestors.end()) return 0;
    ancestors.push_back(folder);
    std::uint64_t count = 0;
    for (EntryId child : childrenOf(view, folder)) {
        if (stop.stopNow()) break;
        if (view.isFolder(child)) {
            if (view.descendWhenSaving(child)) count += countBelow(view, child, stop, ancestors);
        } else {
            ++count;
        }
    }
    ancestors.pop_back();
    return count;
}

}  // namespace

std::uint64_t countFiles(const VolumeView& view, EntryId folder, const StopPoll& stop) {
    std::vector<EntryId> ancestors;
    return countBelow(view, folder, stop, ancestors);
}

SaveSummary saveFolder(VolumeView& view, EntryId folder, const std::string& outputFolder,
                       const SaveReporting& reporting, const StopPoll& stop) {
    Walker walker(view, reporting, stop);
    walker.walk(folder, outputFolder);
    return walker.summary;
}

SaveSummary saveOneFile(VolumeView& view, EntryId file, const std::string& outputFolder,
                        const SaveReporting& reporting) {
    const StopPoll stop;
    Walker walker(view, reporting, stop);
    walker.saveFile(file, outputFolder);
    // Its streams go beside it, as in a folder's save.
    for (EntryId stream : view.streamsOf(file)) walker.saveFile(stream, outputFolder);
    return walker.summary;
}

}  // namespace halvard
