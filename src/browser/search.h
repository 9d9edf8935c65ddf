#pragma once
// Finding files by name: a regular expression (ECMAScript, case ignored) found anywhere in the name; "|" joins
// several patterns. Walks the engine's entries, not only what a tree shows. Shared by the browser page and the
// command line.
#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <string>

#include "browser/volume_view.h"

namespace halvard {

inline constexpr const char* kPatternRefused =
    "such characters are not allowed for search.Try again with different pattern.";

class NamePattern {
public:
    // Null when the pattern does not compile ("*", "(").
    static std::optional<NamePattern> compile(const std::string& pattern);
    // An empty pattern matches nothing.
    bool matches(const std::string& name) const;

private:
    explicit NamePattern(bool empty) : empty_(empty) {}
    std::regex expression_;
    bool empty_ = true;
};

// How result paths are spelled: the top text, then each folder's name and the file's name, each after the
// separator ("ROOT\Documents\notes.txt" on the page, "/Documents/notes.txt" on the command line).
struct SearchPathStyle {
    std::string top = "ROOT";
    char separator = '\\';
};

struct SearchHooks {
    Reporting reporting;  // progress per top-level folder, "searched file N" per result
    std::function<void(const std::string& path, EntryId entry)> found;
    // True as the walk of a top-level folder begins, false when it ends.
    std::function<void(bool walking)> folderWalk;
};

struct SearchOutcome {
    std::uint64_t found = 0;
    bool patternRefused = false;  // nothing was searched
    bool stopped = false;
};

// Files below every top-level folder, and top-level items without children (an empty top-level folder
// included), whose names match. Folders below the top level are never results.
SearchOutcome searchVolume(const VolumeView& view, const std::string& pattern, const SearchPathStyle& style,
                           const SearchHooks& hooks, const StopPoll& stop = {});

}  // namespace halvard
