#pragma once
// How the command line shows an entry: one line for people, one JSON object for programs.
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "browser/volume_view.h"
#include "cli/json_array_stream.h"

namespace halvard::cli {

nlohmann::ordered_json entryJson(const VolumeView& view, const std::string& path, EntryId entry);
void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry);

// Shows entries as they come: one line each for people, or the elements of one JSON array for programs (closed by
// finish(), or when the printer goes).
class EntryPrinter {
public:
    EntryPrinter(std::ostream& out, const VolumeView& view, bool json) : out_(out), view_(view) {
        if (json) list_.emplace(out);
    }
    void add(const std::string& path, EntryId entry);
    void finish();

private:
    std::ostream& out_;
    const VolumeView& view_;
    std::optional<JsonArrayStream> list_;
};

}  // namespace halvard::cli
