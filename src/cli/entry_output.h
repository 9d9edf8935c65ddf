#pragma once
// How the command line shows an entry: one line for people, one JSON object for programs.
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "browser/volume_view.h"
#include "cli/json_array_stream.h"

namespace halvard::cli {

// The entry's JSON object as jsonText prints it: path, name, is_dir, deleted, size, size_text, created, accessed,
// modified, attributes, id, and recoverable, target and kind (device nodes, FIFOs, sockets) where the engine gives
// them.
std::string entryJsonText(const VolumeView& view, const std::string& path, EntryId entry);
void printEntryLine(std::ostream& out, const VolumeView& view, const std::string& path, EntryId entry);

// One line of The Sleuth Kit's body file ("MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime"), as
// `fls -m /` writes it: deleted names end in " (deleted)", links show " -> target", times are Unix seconds (0:
// unknown). The engines know no owners, modes or change times: UID and GID are 0, the mode says only the kind
// ("r/rrwxrwxrwx", "d/drwxrwxrwx", "l/lrwxrwxrwx"; "c/c", "b/b", "p/p" and "s/h" for device nodes, FIFOs and
// sockets) and ctime is 0. A '|' inside a name, which would shift the
// fields of every reader, is written as "%7C".
std::string bodyfileLine(const VolumeView& view, const std::string& path, EntryId entry);

enum class EntryFormat { lines, json, bodyfile };

// Shows entries as they come: one line each for people, the elements of one JSON array for programs (closed by
// finish(), or when the printer goes), or body-file lines for timeline tools.
class EntryPrinter {
public:
    EntryPrinter(std::ostream& out, const VolumeView& view, EntryFormat format)
        : out_(out), view_(view), format_(format) {
        if (format == EntryFormat::json) list_.emplace(out);
    }
    void add(const std::string& path, EntryId entry);
    void finish();

private:
    std::ostream& out_;
    const VolumeView& view_;
    EntryFormat format_;
    std::optional<JsonArrayStream> list_;
};

}  // namespace halvard::cli
