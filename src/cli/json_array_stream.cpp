#include "cli/json_array_stream.h"

#include "cli/cli.h"

namespace halvard::cli {

void JsonArrayStream::add(const nlohmann::ordered_json& element) {
    if (finished_) return;
    // Indented as jsonText indents an element inside an array: two more spaces on every line.
    const std::string single = jsonText(element);
    text_.clear();
    text_ += opened_ ? ",\n  " : "[\n  ";
    for (char c : single) {
        text_ += c;
        if (c == '\n') text_ += "  ";
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
