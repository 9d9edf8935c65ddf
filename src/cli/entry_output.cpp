#include "cli/entry_output.h"


#include "cli/cli.h"
#include "common/texts.h"

namespace halvard::cli {

namespace {

// A string as jsonText writes it. Most names and every time text need no escaping and are copied as they are;
// the others go through the JSON library, which escapes them and puts U+FFFD for bytes that are not UTF-8.
void appendJsonString(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
            out += jsonText(nlohmann::ordered_json(text));
            return;
        }
    }
    out.append(1, '"').append(text).append(1, '"');
}

void appendJsonField(std::string& out, const char* key, const std::string& value) {
    out.append(",\n  \"").append(key).append("\": ");
    appendJsonString(out, value);
}

void appendJsonTime(std::string& out, const char* key, const std::optional<CalendarTime>& t) {
    if (t) {
        appendJsonField(out, key, isoText(*t));
    } else {
        out.append(",\n  \"").append(key).append("\": null");
    }
}

// The type letter of a device node, FIFO or socket, as ls and fls write it; `other` for the rest.
char specialLetter(SpecialKind kind, char other) {
    switch (kind) {
    case SpecialKind::characterDevice: return 'c';
    case SpecialKind::blockDevice: return 'b';
    case SpecialKind::fifo: return 'p';
    case SpecialKind::socket: return 's';
    case SpecialKind::none: break;
    }
    return other;
}

std::string timeColumn(const std::optional<CalendarTime>& t) { return t ? timeText(*t) : std::string(); }

}  // namespace

std::string entryJsonText(const VolumeView& view, const std::string& path, EntryId entry) {
    // Written field by field rather than built as a JSON value and printed: listings print millions of these.
    const EntryDetails d = view.details(entry);
    std::string j;
    j.reserve(320 + 2 * path.size());
    j += "{\n  \"path\": ";
    appendJsonString(j, path);
    appendJsonField(j, "name", d.name);
    j.append(",\n  \"is_dir\": ").append(d.folder ? "true" : "false");
    j.append(",\n  \"deleted\": ").append(d.deleted ? "true" : "false");
    j.append(",\n  \"size\": ").append(std::to_string(d.size));
    appendJsonField(j, "size_text", d.sizeText);
    appendJsonTime(j, "created", d.created);
    appendJsonTime(j, "accessed", d.accessed);
    appendJsonTime(j, "modified", d.modified);
    appendJsonField(j, "attributes", d.attributes);
    appendJsonField(j, "id", view.entryIdText(entry));
    if (!d.recoverable.empty()) appendJsonField(j, "recoverable", d.recoverable);
    if (!d.target.empty()) appendJsonField(j, "target", d.target);
    if (d.special != SpecialKind::none) appendJsonField(j, "kind", specialKindName(d.special));
    j += "\n}";
    return j;
}

void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry) {
    // "Fd SIZE  TIME  ATTRIBUTES  PATH" (F: "d", "-", or "c", "b", "p", "s" for device nodes, FIFOs and sockets):
    // the size right-aligned in 12 columns, the time in 20, the attributes in 8.
    const EntryDetails d = view.details(entry);
    std::string line;
    line.reserve(64 + path.size());
    line += d.folder ? 'd' : specialLetter(d.special, '-');
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
    const char kind = d.folder ? 'd' : !d.target.empty() ? 'l' : specialLetter(d.special, 'r');  // a junction stays a folder
    // fls names a socket's inode type "h" (its "s" is a shadow inode).
    const char metaKind = d.special == SpecialKind::socket ? 'h' : kind;
    line += '|' + view.entryIdText(entry) + '|' + kind + '/' + metaKind + "rwxrwxrwx|0|0|" + std::to_string(d.size);
    line += '|' + seconds(d.accessed) + '|' + seconds(d.modified) + "|0|" + seconds(d.created) + '\n';
    return line;
}

void EntryPrinter::add(const std::string& path, EntryId entry) {
    switch (format_) {
    case EntryFormat::json:
        list_->addText(entryJsonText(view_, path, entry));
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
