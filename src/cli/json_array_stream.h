#pragma once
// One JSON array written element by element as the work produces them, so that a listing of millions of entries
// needs no more memory than one entry. The text is the same as printing the whole array at once with jsonText.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

namespace halvard::cli {

class JsonArrayStream {
public:
    explicit JsonArrayStream(std::ostream& out) : out_(out) {}
    ~JsonArrayStream() { finish(); }
    JsonArrayStream(const JsonArrayStream&) = delete;
    JsonArrayStream& operator=(const JsonArrayStream&) = delete;

    void add(const nlohmann::ordered_json& element);
    // An element already written as jsonText prints it on its own.
    void addText(std::string_view element);
    // Closes the array (once); a stopped command still leaves one valid array behind.
    void finish();

private:
    std::ostream& out_;
    bool opened_ = false;
    bool finished_ = false;
    std::string text_;
};

}  // namespace halvard::cli
