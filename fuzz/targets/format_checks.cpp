// The carving format checks: the first byte picks the check, the rest is the candidate's bytes (its limit). A
// confirmed length past the candidate would make the carve read beyond what was checked.
#include "raw/format_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using halvard::FormatCheck;
    if (size < 1) return 0;
    constexpr int kChecks = static_cast<int>(FormatCheck::Sqlite);
    const auto check = static_cast<FormatCheck>(1 + data[0] % kChecks);
    halvard::CandidateBytes bytes{halvard::Bytes(data + 1, size - 1)};
    const halvard::CheckOutcome outcome = halvard::runFormatCheck(check, bytes);
    if (outcome.verdict == halvard::CheckVerdict::Confirmed && outcome.length > size - 1) __builtin_trap();
    return 0;
}
