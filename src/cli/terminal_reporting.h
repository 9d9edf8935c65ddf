#pragma once
// Progress and status on stderr for people at a terminal: one line redrawn in place. Messages always print.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "common/sinks.h"

namespace halvard::cli {

class TerminalReporting final : public ProgressSink, public StatusSink, public MessageSink {
public:
    // With `live` false (stderr is not a terminal) only messages print.
    TerminalReporting(std::ostream& err, bool live) : err_(err), live_(live) {}
    ~TerminalReporting() override { finish(); }

    void setRange(std::uint32_t lower, std::uint32_t upper) override;
    void setPosition(std::uint32_t position) override;
    void setStatus(const std::string& text) override;
    void information(const std::string& text) override;
    bool question(const std::string& text) override;  // no one to ask: answers No

    Reporting reporting() { return {this, this, this}; }
    // Ends the redrawn line so that later output starts on a fresh one.
    void finish();

private:
    void redraw(bool force);

    std::ostream& err_;
    bool live_;
    std::uint32_t lower_ = 0, upper_ = 0, position_ = 0;
    std::string status_;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace halvard::cli
