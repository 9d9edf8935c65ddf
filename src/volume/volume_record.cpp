#include "volume/volume_record.h"

#include <cctype>
#include <limits>

namespace halvard {

std::int64_t sizeMiB(const VolumeRecord& record) {
    const std::string& text = record.sizeText;
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::numeric_limits<std::int64_t>::max();
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t volumeSizeBytes(const VolumeRecord& record) {
    const std::int64_t mib = sizeMiB(record);
    if (mib >= static_cast<std::int64_t>(1ULL << 43)) return ~0ULL;  // no real volume is that large
    return static_cast<std::uint64_t>(mib) * 1048576ULL;
}

}  // namespace halvard
