#pragma once
// What a worker reports through: progress, one status line, and message boxes. The GUI delivers each call on the
// user-interface thread and waits for it (the worker blocks, as with a synchronous window message); the CLI prints
// to stderr. Every pointer may be null where nobody listens; use the helpers below rather than testing each time.
#include <cstdint>
#include <string>

namespace halvard {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setRange(std::uint32_t lower, std::uint32_t upper) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
};

class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void setStatus(const std::string& text) = 0;
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // An information box with an OK button; returns when it is dismissed.
    virtual void information(const std::string& text) = 0;
    // A Yes/No question; true on Yes.
    virtual bool question(const std::string& text) = 0;
};

// The three together, as a page hands them to the work it starts.
struct Reporting {
    ProgressSink* progress = nullptr;
    StatusSink* status = nullptr;
    MessageSink* messages = nullptr;

    void setRange(std::uint32_t lower, std::uint32_t upper) const {
        if (progress) progress->setRange(lower, upper);
    }
    void setPosition(std::uint32_t position) const {
        if (progress) progress->setPosition(position);
    }
    void setStatus(const std::string& text) const {
        if (status) status->setStatus(text);
    }
    void inform(const std::string& text) const {
        if (messages) messages->information(text);
    }
    bool ask(const std::string& text) const { return messages ? messages->question(text) : false; }
};

// The caption of every message box.
inline constexpr const char* kProductName = "Halvard Disk Recovery";

}  // namespace halvard
