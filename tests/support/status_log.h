#pragma once
// A status and progress sink that keeps every status line and the last position, for tests of work that reports
// as it goes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/sinks.h"

namespace halvard::testing {

struct StatusLog final : StatusSink, ProgressSink {
    std::vector<std::string> texts;
    std::uint32_t position = 0;
    void setStatus(const std::string& t) override { texts.push_back(t); }
    void setRange(std::uint32_t, std::uint32_t) override {}
    void setPosition(std::uint32_t p) override { position = p; }
    bool saw(const std::string& t) const { return std::find(texts.begin(), texts.end(), t) != texts.end(); }
};

}  // namespace halvard::testing
