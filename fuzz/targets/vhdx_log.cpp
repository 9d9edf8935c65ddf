// The VHDX log: the input is a log GUID (16 bytes) and a log region. Every 4 KiB position is parsed as an entry,
// then the log is replayed over an image file that holds it at 64 KiB, and the file is read through the overlay.
#include <vector>

#include "image/file_overlay.h"
#include "image/vhdx_log.h"
#include "sparse_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halvard;
    constexpr std::size_t kLogAt = 64 * 1024;
    if (size < 16 || size > (4u << 20)) return 0;
    const Guid logGuid = Guid::fromBytes(Bytes(data, 16), 0);
    const Bytes log(data + 16, size - 16);
    for (std::uint64_t at = 0; at < log.size(); at += vhdx::kLogSector) {
        vhdx::LogEntry entry;
        vhdx::parseLogEntry(log, at, logGuid, entry);
    }

    std::vector<std::uint8_t> file(kLogAt + log.size(), 0);
    std::copy(log.begin(), log.end(), file.begin() + kLogAt);
    ImageFile image;
    if (!image.open(fuzzing::memoryFilePath(file.data(), file.size()))) return 0;
    vhdx::Header header;
    header.logGuid = logGuid;
    header.logOffset = kLogAt;
    header.logLength = static_cast<std::uint32_t>(log.size() / vhdx::kLogSector * vhdx::kLogSector);
    auto overlay = std::make_shared<FileOverlay>();
    vhdx::replayLog(image, header, *overlay);
    image.setOverlay(overlay);
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (std::uint64_t at = 0; at < image.size(); at += 1 << 20) image.readAt(at, buffer.data(), buffer.size());
    return 0;
}
