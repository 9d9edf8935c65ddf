#pragma once
// What a step between layers says about how it went: fine, or failed with the one line the user is shown.
#include <string>
#include <utility>

namespace halvard {

class [[nodiscard]] Status {
public:
    Status() = default;  // fine
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // The failure's text; empty when fine.
    const std::string& message() const { return message_; }

private:
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
};

}  // namespace halvard
