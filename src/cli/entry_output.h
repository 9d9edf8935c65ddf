#pragma once
// How the command line shows an entry: one line for people, one JSON object for programs.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "browser/volume_view.h"

namespace halvard::cli {

nlohmann::ordered_json entryJson(const VolumeView& view, const std::string& path, EntryId entry);
void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry);

}  // namespace halvard::cli
