#pragma once
// How the command line shows an entry: one line for people, one JSON object for programs.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "browser/volume_view.h"

namespace halvard::cli {

nlohmann::ordered_json entryJson(const VolumeView& view, const std::string& path, EntryId entry);
void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry);

// Shows entries as they come: one line each for people, or one JSON array (printed by finish()) for programs.
class EntryPrinter {
public:
    EntryPrinter(std::ostream& out, const VolumeView& view, bool json) : out_(out), view_(view), json_(json) {}
    void add(const std::string& path, EntryId entry);
    void finish();

private:
    std::ostream& out_;
    const VolumeView& view_;
    bool json_;
    nlohmann::ordered_json list_ = nlohmann::ordered_json::array();
};

}  // namespace halvard::cli
