#include "cli/json_array_stream.h"

#include "cli/cli.h"

namespace halvard::cli {

void JsonArrayStream::add(const nlohmann::ordered_json& element) { addText(jsonText(element)); }

void JsonArrayStream::addText(std::string_view element) {
    if (finished_) return;
    // Indented as jsonText indents an element inside an array: two more spaces on every line.
    text_.assign(opened_ ? ",\n  " : "[\n  ");
    for (std::size_t at = 0; at < element.size();) {
        const std::size_t line = element.find('\n', at);
        if (line == std::string_view::npos) {
            text_.append(element.substr(at));
            break;
        }
        text_.append(element.substr(at, line + 1 - at)).append("  ");
        at = line + 1;
    }
    out_ << text_;
    opened_ = true;
}

void JsonArrayStream::finish() {
    if (finished_) return;
    finished_ = true;
    out_ << (opened_ ? "\n]\n" : "[]\n");
    out_.flush();
}

}  // namespace halvard::cli
