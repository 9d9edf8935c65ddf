#include "cli/entry_output.h"


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
    if (!d.target.empty()) j["target"] = d.target;
    return j;
}

void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry) {
    // "Fd SIZE  TIME  ATTRIBUTES  PATH": the size right-aligned in 12 columns, the time in 20, the attributes in 8.
    const EntryDetails d = view.details(entry);
    std::string line;
    line.reserve(64 + path.size());
    line += d.folder ? 'd' : '-';
    line += d.deleted ? 'X' : ' ';
    line += ' ';
    const std::string& size = d.folder ? std::string() : d.sizeText;
    line.append(size.size() < 12 ? 12 - size.size() : 0, ' ').append(size).append(2, ' ');
    const std::string time = timeColumn(d.modified);
    line.append(time).append(time.size() < 20 ? 20 - time.size() : 0, ' ').append(2, ' ');
    line.append(d.attributes).append(d.attributes.size() < 8 ? 8 - d.attributes.size() : 0, ' ').append(2, ' ');
    line.append(printableName(path));
    if (d.folder) line += '/';
    line += '\n';
    out << line;
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
