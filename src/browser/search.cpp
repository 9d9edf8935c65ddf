#include "browser/search.h"

#include <algorithm>
#include <vector>

#include "browser/save_walk.h"

namespace halvard {

std::optional<NamePattern> NamePattern::compile(const std::string& pattern) {
    NamePattern compiled(pattern.empty());
    if (pattern.empty()) return compiled;
    try {
        compiled.expression_ =
            std::regex(pattern, std::regex::ECMAScript | std::regex::icase | std::regex::optimize);
    } catch (const std::regex_error&) {
        return std::nullopt;
    }
    return compiled;
}

bool NamePattern::matches(const std::string& name) const {
    if (empty_) return false;
    try {
        return std::regex_search(name, expression_);
    } catch (const std::regex_error&) {
        // A pattern that backtracks without end on one name fails that name only.
        return false;
    }
}

namespace {

// Progress is a blocking report on the page; a step per 1/256 of the count keeps a big folder's walk from being
// paced by the user-interface thread.
class FolderSearch {
public:
    FolderSearch(const VolumeView& view, const NamePattern& pattern, const SearchPathStyle& style,
                 const SearchHooks& hooks, const StopPoll& stop, SearchOutcome& outcome)
        : view_(view), pattern_(pattern), style_(style), hooks_(hooks), stop_(stop), outcome_(outcome) {}

    void walkTopFolder(EntryId folder, const std::string& path) {
        const std::uint64_t count = countFiles(view_, folder, stop_);
        hooks_.reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
        step_ = std::max<std::uint64_t>(1, count / 256);
        done_ = 0;
        walk(folder, path);
        hooks_.reporting.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
    }

    void match(EntryId entry, const std::string& path) {
        if (!pattern_.matches(view_.name(entry))) return;
        ++outcome_.found;
        if (hooks_.found) hooks_.found(path, entry);
        hooks_.reporting.setStatus("searched file " + std::to_string(outcome_.found));
    }

private:
    void walk(EntryId folder, const std::string& path) {
        // A damaged volume can link a folder below itself.
        if (std::find(ancestors_.begin(), ancestors_.end(), folder) != ancestors_.end()) return;
        ancestors_.push_back(folder);
        for (EntryId child : childrenOf(view_, folder)) {
            if (stop_.stopNow()) {
                outcome_.stopped = true;
                break;
            }
            if (view_.isFolder(child)) {
                if (!view_.descendWhenSaving(child)) continue;
                const std::string name = view_.name(child);
                walk(child, name.empty() ? path : path + style_.separator + name);
            } else {
                if (++done_ % step_ == 0)
                    hooks_.reporting.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(done_, 0xFFFFFFFFu)));
                match(child, path + style_.separator + view_.name(child));
            }
        }
        ancestors_.pop_back();
    }

    const VolumeView& view_;
    const NamePattern& pattern_;
    const SearchPathStyle& style_;
    const SearchHooks& hooks_;
    const StopPoll& stop_;
    SearchOutcome& outcome_;
    std::vector<EntryId> ancestors_;
    std::uint64_t step_ = 1;
    std::uint64_t done_ = 0;
};

}  // namespace

SearchOutcome searchVolume(const VolumeView& view, const std::string& pattern, const SearchPathStyle& style,
                           const SearchHooks& hooks, const StopPoll& stop) {
    SearchOutcome outcome;
    const auto compiled = NamePattern::compile(pattern);
    if (!compiled) {
        outcome.patternRefused = true;
        return outcome;
    }
    if (pattern.empty()) return outcome;
    FolderSearch search(view, *compiled, style, hooks, stop, outcome);
    for (EntryId top : view.topLevel()) {
        if (stop.stopNow()) {
            outcome.stopped = true;
            break;
        }
        const std::string path = style.top + style.separator + view.name(top);
        if (view.isFolder(top) && !view.descendWhenSaving(top)) continue;
        if (view.isFolder(top) && view.hasChildren(top)) {
            if (hooks.folderWalk) hooks.folderWalk(true);
            search.walkTopFolder(top, path);
            if (hooks.folderWalk) hooks.folderWalk(false);
            if (outcome.stopped) break;
        } else {
            search.match(top, path);
        }
    }
    return outcome;
}

}  // namespace halvard
