#include "image/volume_read.h"

#include <cstring>
#include <limits>

namespace halvard {

bool readFromVolume(DiskReader& reader, std::int64_t volumeBase, std::uint64_t offset, void* buffer,
                    std::size_t length) {
    if (length == 0) return true;
    constexpr std::uint64_t kMaxInt64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (offset > kMaxInt64 - length) {
        std::memset(buffer, 0, length);
        return false;
    }
    reader.volumeBaseOffset = volumeBase;
    if (!reader.seek(static_cast<std::int64_t>(offset))) {
        std::memset(buffer, 0, length);
        return false;
    }
    return reader.read(buffer, length);
}

}  // namespace halvard
