#include "cli/terminal_reporting.h"

namespace halvard::cli {

void TerminalReporting::setRange(std::uint32_t lower, std::uint32_t upper) {
    lower_ = lower;
    upper_ = upper;
    redraw(false);
}

void TerminalReporting::setPosition(std::uint32_t position) {
    position_ = position;
    redraw(false);
}

void TerminalReporting::setStatus(const std::string& text) {
    status_ = text;
    redraw(false);
}

void TerminalReporting::information(const std::string& text) {
    finish();
    err_ << text << '\n';
}

bool TerminalReporting::question(const std::string& text) {
    finish();
    err_ << text << " [answered No: not interactive]\n";
    return false;
}

void TerminalReporting::finish() {
    if (!lineOpen_) return;
    redraw(true);
    err_ << '\n';
    err_.flush();
    lineOpen_ = false;
}

void TerminalReporting::redraw(bool force) {
    if (!live_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && lineOpen_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int kWidth = 30;
    int filled = 0;
    int percent = 0;
    if (upper_ > lower_) {
        const std::uint32_t clamped = position_ < lower_ ? lower_ : (position_ > upper_ ? upper_ : position_);
        const double fraction = static_cast<double>(clamped - lower_) / static_cast<double>(upper_ - lower_);
        filled = static_cast<int>(fraction * kWidth);
        percent = static_cast<int>(fraction * 100);
    }
    // Work of unknown length (a listing counting its entries) shows its status alone.
    std::string line = upper_ > lower_ ? "\r[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] " +
                                             std::to_string(percent) + "%  " + status_
                                       : "\r" + status_;
    if (line.size() > 120) line.resize(120);
    err_ << line << "\x1b[K";
    err_.flush();
    lineOpen_ = true;
}

}  // namespace halvard::cli
