#include "cli/entry_output.h"

#include <cstdio>

#include "cli/cli.h"
#include "common/texts.h"

namespace halvard::cli {

namespace {

nlohmann::ordered_json timeJson(const std::optional<CalendarTime>& t) {
    return t ? nlohmann::ordered_json(isoText(*t)) : nlohmann::ordered_json(nullptr);
}

std::string timeColumn(const std::optional<CalendarTime>& t) { return t ? timeText(*t) : std::string(); }

}  // namespace

nlohmann::ordered_json entryJson(const VolumeView& view, const std::string& path, EntryId entry) {
    const EntryDetails d = view.details(entry);
    nlohmann::ordered_json j;
    j["path"] = path;
    j["name"] = d.name;
    j["is_dir"] = d.folder;
    j["deleted"] = d.deleted;
    j["size"] = d.size;
    j["size_text"] = d.sizeText;
    j["created"] = timeJson(d.created);
    j["accessed"] = timeJson(d.accessed);
    j["modified"] = timeJson(d.modified);
    j["attributes"] = d.attributes;
    j["id"] = view.entryIdText(entry);
    return j;
}

void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry) {
    const EntryDetails d = view.details(entry);
    char line[128];
    std::snprintf(line, sizeof line, "%c%c %12s  %-20s  %-8s  ", d.folder ? 'd' : '-', d.deleted ? 'X' : ' ',
                  d.folder ? "" : d.sizeText.c_str(), timeColumn(d.modified).c_str(), d.attributes.c_str());
    out << line << printableName(path) << (d.folder ? "/" : "") << '\n';
}

void EntryPrinter::add(const std::string& path, EntryId entry) {
    if (json_)
        list_.push_back(entryJson(view_, path, entry));
    else
        printEntryLine(out_, view_, path, entry);
}

void EntryPrinter::finish() {
    if (json_) out_ << jsonText(list_) << '\n';
}

}  // namespace halvard::cli
