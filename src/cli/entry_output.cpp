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
    if (!d.recoverable.empty()) j["recoverable"] = d.recoverable;
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

std::string bodyfileLine(const VolumeView& view, const std::string& path, EntryId entry) {
    const EntryDetails d = view.details(entry);
    const auto seconds = [](const std::optional<CalendarTime>& t) {
        const auto unix = t ? localUnixSeconds(*t) : std::nullopt;
        return std::to_string(unix.value_or(0));
    };
    std::string name = printableName(path);
    if (!d.target.empty()) name += " -> " + printableName(d.target);
    if (d.deleted) name += " (deleted)";
    std::string line = "0|";
    for (char c : name) {
        if (c == '|')
            line += "%7C";
        else
            line += c;
    }
    const char kind = d.folder ? 'd' : !d.target.empty() ? 'l' : 'r';  // a junction stays a folder
    line += '|' + view.entryIdText(entry) + '|' + kind + '/' + kind + "rwxrwxrwx|0|0|" + std::to_string(d.size);
    line += '|' + seconds(d.accessed) + '|' + seconds(d.modified) + "|0|" + seconds(d.created) + '\n';
    return line;
}

void EntryPrinter::add(const std::string& path, EntryId entry) {
    switch (format_) {
    case EntryFormat::json:
        list_->add(entryJson(view_, path, entry));
        break;
    case EntryFormat::bodyfile:
        out_ << bodyfileLine(view_, path, entry);
        break;
    case EntryFormat::lines:
        printEntryLine(out_, view_, path, entry);
        break;
    }
}

void EntryPrinter::finish() {
    if (list_) list_->finish();
}

}  // namespace halvard::cli
